// How responsive the window stays while files are added: a watchdog timer ticks every 5 ms on the main
// thread while the window adds every file of a folder through TForm1::AddFiles (the intake that " Add Video",
// drops and the command line use); the longest gap between two ticks is the longest the main thread was
// busy. Prints the figures; exit status 1 when a row is missing or the longest gap is over 50 ms.
//
// Usage: intake_responsiveness FOLDER [ROUNDS]   (bench/intake_responsiveness.sh makes the files and runs it)
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/main_thread_bridge.h"
#include "app/main_window.h"

namespace {

constexpr int kTickMilliseconds = 5;
constexpr double kStallLimitMilliseconds = 50;

struct Round {
  int Rows = 0;
  double AddingMilliseconds = 0;  // from AddFiles to the last row in the list
  double LongestGap = 0;          // between two watchdog ticks, while the files were added
  double Gap99 = 0;               // the 99th percentile of the gaps
  double IdleLongestGap = 0;      // the same with nothing to do, for comparison
};

// Runs the event loop for the given time while the watchdog ticks; returns the gaps between ticks (ms).
class Watchdog {
 public:
  Watchdog() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kTickMilliseconds);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (last_ >= 0) gaps_.push_back(static_cast<double>(now - last_) / 1e6);
      last_ = now;
    });
  }
  void Start() {
    gaps_.clear();
    last_ = -1;
    clock_.start();
    timer_.start();
  }
  std::vector<double> Stop() {
    timer_.stop();
    return gaps_;
  }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = -1;
  std::vector<double> gaps_;
};

void Spin(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

double Longest(const std::vector<double>& gaps) {
  return gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
}

double Percentile(std::vector<double> gaps, double share) {
  if (gaps.empty()) return 0;
  std::sort(gaps.begin(), gaps.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(gaps.size() - 1));
  return gaps[at];
}

Round RunRound(const QStringList& files) {
  Round round;
  QTemporaryDir folder;
  app::WindowOptions options;
  options.SettingsFile = folder.filePath(QStringLiteral("settings.ini"));
  options.LogFolder = folder.filePath(QStringLiteral("logs"));
  app::TForm1 window(std::move(options));
  if (!window.LibrariesBound()) {
    std::fprintf(stderr, "intake_responsiveness: the media libraries cannot be bound\n");
    std::exit(1);
  }
  window.RestoreSettings();
  window.show();
  Spin(300);

  Watchdog watchdog;
  watchdog.Start();
  Spin(300);
  round.IdleLongestGap = Longest(watchdog.Stop());

  QSignalSpy finished(&window, &app::TForm1::IntakeFinished);
  QElapsedTimer adding;
  watchdog.Start();
  adding.start();
  window.AddFiles(files);
  while (finished.count() == 0 && adding.elapsed() < 120000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  round.AddingMilliseconds = static_cast<double>(adding.nsecsElapsed()) / 1e6;
  // A little longer: the last rows' painting counts too.
  Spin(100);
  const std::vector<double> gaps = watchdog.Stop();
  round.LongestGap = Longest(gaps);
  round.Gap99 = Percentile(gaps, 0.99);
  round.Rows = window.Files().Count();
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  Q_INIT_RESOURCE(tarvello);
  if (argc < 2) {
    std::fprintf(stderr, "usage: intake_responsiveness FOLDER [ROUNDS]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const app::MainThreadBridge bridge;

  const QDir folder(QString::fromLocal8Bit(argv[1]));
  QStringList files;
  for (const QFileInfo& file : folder.entryInfoList(QDir::Files, QDir::Name))
    files << file.absoluteFilePath();
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::printf("platform %s, %lld files, watchdog every %d ms\n", qPrintable(QGuiApplication::platformName()),
              static_cast<long long>(files.size()), kTickMilliseconds);

  bool ok = true;
  std::vector<double> longest;
  for (int at = 1; at <= rounds; ++at) {
    const Round round = RunRound(files);
    std::printf(
        "round %d: %d rows in %.0f ms; longest gap %.1f ms (99th percentile %.1f ms); idle longest %.1f ms\n",
        at, round.Rows, round.AddingMilliseconds, round.LongestGap, round.Gap99, round.IdleLongestGap);
    longest.push_back(round.LongestGap);
    if (round.Rows != files.size()) {
      std::printf("  FAIL: %d rows of %lld files\n", round.Rows, static_cast<long long>(files.size()));
      ok = false;
    }
  }
  std::sort(longest.begin(), longest.end());
  const double median = longest[longest.size() / 2];
  const double worst = longest.back();
  std::printf("longest gap: median %.1f ms, worst %.1f ms (goal: never over %.0f ms)\n", median, worst,
              kStallLimitMilliseconds);
  if (worst > kStallLimitMilliseconds) {
    std::printf("goal missed\n");
    ok = false;
  } else {
    std::printf("goal met\n");
  }
  return ok ? 0 : 1;
}
