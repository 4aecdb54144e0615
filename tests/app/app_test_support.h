// What every test of the window shares: a dialog seam that records what the window says and answers from a
// script, a fresh window with its settings and logs in a temporary folder, the media the tests add, and the
// main function that sets the program up as tarvello's own main does.
#pragma once

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/local_names.h"
#include "app/main_thread_bridge.h"
#include "app/main_window.h"
#include "support/media_fixtures.h"

namespace app_test {

// One thing the window said or asked, in order.
struct DialogCall {
  enum Type { kInformation, kConfirm, kChooseFiles, kChooseFolder };
  Type Kind;
  QString Text;  // the message, the question, the filter or the folder dialog's headline
};

// The seam the window gets in place of the real dialogs. Questions and dialogs take their answers from the
// queues in order; a question with no answer left is answered No and recorded as unexpected.
class FakeDialogs final : public app::Dialogs {
 public:
  std::vector<DialogCall> Calls;
  std::deque<bool> ConfirmAnswers;
  std::deque<QStringList> FileAnswers;
  std::deque<QString> FolderAnswers;  // a null text cancels the dialog
  int UnexpectedQuestions = 0;
  // Runs inside each call, before it returns: what the window looked like while the box was up.
  std::function<void(const DialogCall&)> WhileShown;

  void Information(const QString& text) override { Record(DialogCall::kInformation, text); }
  bool Confirm(const QString& text) override {
    Record(DialogCall::kConfirm, text);
    if (ConfirmAnswers.empty()) {
      ++UnexpectedQuestions;
      return false;
    }
    const bool answer = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return answer;
  }
  QStringList ChooseFiles(const QString& filter) override {
    Record(DialogCall::kChooseFiles, filter);
    if (FileAnswers.empty()) return {};
    QStringList answer = FileAnswers.front();
    FileAnswers.pop_front();
    return answer;
  }
  std::optional<QString> ChooseFolder(const QString& headline, const QString&) override {
    Record(DialogCall::kChooseFolder, headline);
    if (FolderAnswers.empty()) return std::nullopt;
    const QString answer = FolderAnswers.front();
    FolderAnswers.pop_front();
    if (answer.isNull()) return std::nullopt;
    return std::optional<QString>(answer);
  }

  // The texts of the calls of one kind, in order.
  QStringList Texts(DialogCall::Type kind) const {
    QStringList texts;
    for (const DialogCall& call : Calls) {
      if (call.Kind == kind) texts << call.Text;
    }
    return texts;
  }
  QStringList Messages() const { return Texts(DialogCall::kInformation); }
  QStringList Questions() const { return Texts(DialogCall::kConfirm); }

 private:
  void Record(DialogCall::Type kind, const QString& text) {
    Calls.push_back(DialogCall{kind, text});
    if (WhileShown) WhileShown(Calls.back());
  }
};

// A folder of the test's own (removed afterwards) with the window's settings file and log folder in it.
class TestFolder {
 public:
  TestFolder() { QVERIFY2(folder_.isValid(), qPrintable(folder_.errorString())); }
  QString Path() const { return folder_.path(); }
  QString File(const QString& name) const { return folder_.filePath(name); }
  QString SettingsFile() const { return File(QStringLiteral("settings.ini")); }
  QString LogFolder() const { return File(QStringLiteral("logs")); }
  // A folder inside, made on first use.
  QString Folder(const QString& name) const {
    QDir().mkpath(File(name));
    return File(name);
  }
  // Writes text into the settings file as it stands.
  void WriteSettingsText(const QByteArray& text) const {
    QFile file(SettingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  QByteArray SettingsText() const {
    QFile file(SettingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

 private:
  QTemporaryDir folder_;
};

// A window built as tarvello builds it, over a folder of the test's own. Destroyed before its folder.
class TestWindow {
 public:
  explicit TestWindow(const TestFolder& folder, const QString& library_folder = {}) {
    auto dialogs = std::make_unique<FakeDialogs>();
    dialogs_ = dialogs.get();
    app::WindowOptions options;
    options.SettingsFile = folder.SettingsFile();
    options.LogFolder = folder.LogFolder();
    options.LibraryFolder = library_folder;
    options.DialogSeam = std::move(dialogs);
    window_ = std::make_unique<app::TForm1>(std::move(options));
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  app::TForm1& operator*() { return *window_; }
  app::TForm1* operator->() { return window_.get(); }
  app::TForm1& Window() { return *window_; }
  FakeDialogs& Dialogs() { return *dialogs_; }

  // What tarvello does after creating the window: settings restored, window shown.
  void Start() {
    window_->RestoreSettings();
    window_->show();
  }
  // Adds files as " Add Video" does and waits until every row is in.
  bool AddAndWait(const QStringList& files, int timeout_ms = 60000) {
    QSignalSpy finished(window_.get(), &app::TForm1::IntakeFinished);
    window_->AddFiles(files);
    return finished.wait(timeout_ms) || finished.count() > 0;
  }
  QAction& Action(const char* name) {
    QAction* action = window_->Action(QLatin1String(name));
    if (action == nullptr) qFatal("the window has no action %s", name);
    return *action;
  }
  void Destroy() { window_.reset(); }

 private:
  FakeDialogs* dialogs_ = nullptr;
  std::unique_ptr<app::TForm1> window_;
};

// The outcome each job log of the window's run ends with, oldest first: "Done", "Fail", ...; with_reasons
// keeps the reason after the word ("Fail: the output has no audio").
inline QStringList LogOutcomes(const TestFolder& folder, bool with_reasons = false) {
  QStringList outcomes;
  const QDir logs(folder.LogFolder());
  for (const QFileInfo& log : logs.entryInfoList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
    QFile file(log.absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const QByteArray& line : file.readAll().split('\n')) {
      if (!line.startsWith("outcome: ")) continue;
      const QString outcome = QString::fromUtf8(line.mid(9));
      outcomes << (with_reasons ? outcome : outcome.section(QLatin1Char(':'), 0, 0));
    }
  }
  return outcomes;
}

// A std::string of the profiles' values, for comparisons that print what they found.
inline QString S(const std::string& text) {
  return QString::fromStdString(text);
}

// Names as the window holds them (every byte kept, as its intake does).
inline QString ToQString(const std::filesystem::path& path) {
  return app::FromLocalName(path.string());
}

inline std::filesystem::path ToPath(const QString& path) {
  return std::filesystem::path(app::ToLocalName(path));
}

// The media the window's tests add, made once per build tree with the ffmpeg tool.
namespace media {

// 3 s of 320x240 H.264 with stereo AAC, in MP4.
inline QString VideoMp4() {
  return ToQString(media_test::H264AacMp4());
}
// 1 s of 176x144 MPEG-4 video with MP3 sound, in AVI: quick to convert.
inline QString ShortAvi() {
  return ToQString(media_test::Fixture(
      "app_short_176x144.avi",
      "-f lavfi -i testsrc=size=176x144:rate=25:duration=1 -f lavfi -i sine=frequency=660:duration=1 "
      "-c:v mpeg4 -q:v 5 -c:a libmp3lame -ac 1 -shortest"));
}
// 2 s of sound only, in MP3.
inline QString SoundMp3() {
  return ToQString(media_test::Fixture("app_sound.mp3",
                                       "-f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame -b:a 64k"));
}
// Exactly 2.6 s of PCM sound: the list drops the fraction before it formats the length.
inline QString Sound2600msWav() {
  return ToQString(media_test::Fixture(
      "app_2600ms.wav", "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=2.6 -c:a pcm_s16le"));
}
// A raw H.264 stream: no container, so no length (ffprobe's format duration is N/A). 40 s of 320x240, long
// enough for some progress reports while it converts.
inline QString RawH264() {
  return ToQString(media_test::Fixture(
      "app_no_length_40s.h264",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=40 -c:v libx264 -preset ultrafast -g 50 -f h264"));
}
// 4 minutes of 320x240 MPEG-4 with sound: a conversion that lasts some seconds, for stopping it midway.
inline QString LongAvi() {
  return ToQString(media_test::Fixture(
      "app_long_240s.avi",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=240 -f lavfi -i sine=frequency=440:duration=240 "
      "-c:v mpeg4 -q:v 12 -g 250 -c:a libmp3lame -ac 1 -b:a 32k -shortest"));
}

}  // namespace media

// A copy of source in folder under name (a test's own file, so its output name is its own too).
inline QString CopyAs(const QString& source, const QString& folder, const QString& name) {
  const QString target = folder + QLatin1Char('/') + name;
  QFile::remove(target);
  if (!QFile::copy(source, target)) return {};
  return target;
}

// A file that is no media at all.
inline QString NotMedia(const QString& folder, const QString& name = QStringLiteral("not_media.avi")) {
  const QString path = folder + QLatin1Char('/') + name;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return {};
  QByteArray bytes;
  for (int at = 0; at < 4096; ++at)
    bytes.append(static_cast<char>((at * 7919 + 13) % 251));
  file.write(bytes);
  return path;
}

// What ffprobe says the container is ("mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm"); empty when it cannot
// read the file (for an MP4-family file: when the trailer is missing).
inline std::string ContainerOf(const QString& path) {
  media_test::CommandResult probed =
      media_test::RunCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 " +
                             media_test::Quoted(ToPath(path)) + " 2>/dev/null");
  if (probed.Status != 0) return {};
  while (!probed.Output.empty() && (probed.Output.back() == '\n' || probed.Output.back() == '\r'))
    probed.Output.pop_back();
  return probed.Output;
}

// The length ffprobe reads from the container, in seconds; -1 when it gives none.
inline double ContainerSeconds(const QString& path) {
  const media_test::CommandResult probed =
      media_test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                             media_test::Quoted(ToPath(path)) + " 2>/dev/null");
  try {
    return probed.Status == 0 ? std::stod(probed.Output) : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

inline bool DecodesCleanly(const QString& path) {
  return media_test::DecodesCleanly(ToPath(path));
}

}  // namespace app_test

// The test program's main: what tarvello's main sets up before its window (the compiled-in resources of the
// window's library, the engine's main thread served from the Qt event loop), on the offscreen platform
// unless another is asked for.
#define TARVELLO_APP_TEST_MAIN(TestClass)                                     \
  int main(int argc, char** argv) {                                           \
    Q_INIT_RESOURCE(tarvello);                                                \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {                     \
      qputenv("QT_QPA_PLATFORM", "offscreen");                                \
    }                                                                         \
    QApplication application(argc, argv);                                     \
    /* Closing a test's window must not end the event loops the test runs. */ \
    QApplication::setQuitOnLastWindowClosed(false);                           \
    const app::MainThreadBridge bridge;                                       \
    TestClass test;                                                           \
    return QTest::qExec(&test, argc, argv);                                   \
  }
