// The conversion queue with real conversions: checked rows convert one at a time in list order, rows checked
// or unchecked during the run, jobs that cannot start, " Stop" and closing the window answered Yes and No,
// selection during a run, progress of a job without a known length, and what the progress events show.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "app/preview_area.h"
#include "app_test_support.h"

using app::kColumnDuration;
using app::kColumnFrames;
using app::kColumnProgress;
using app::kColumnTimeRemaining;
using app::kColumnVideoFiles;
using app_test::DialogCall;
using app_test::LogOutcomes;
using app_test::TestFolder;
using app_test::TestWindow;

namespace {

// A run's bound only catches a hang: the longest run (240 s of media) takes about 30 s under a sanitizer on
// a loaded 2-core machine; the bound leaves room for a machine many times slower. ctest ends a test
// function at 600 s.
constexpr int kRunTimeout = 480000;
const QString kCompleted = QStringLiteral("All converting jobs completed.");
const QString kStopQuestion = QStringLiteral("Stop all conversions?");

QStringList Column(app::FileListModel& files, app::FileColumn column) {
  QStringList texts;
  for (int row = 0; row < files.Count(); ++row)
    texts << files.Text(row, column);
  return texts;
}

// A started window with its output folder chosen through the folder dialog.
void StartWithOutputFolder(TestWindow& window, const QString& output) {
  window.Start();
  window.Dialogs().FolderAnswers.push_back(output);
  window->ButtonBrowseForFolderClick();
  window.Dialogs().Calls.clear();
}

// Where the converted row goes with the window's first-run format (3GP).
QString OutputOf(const QString& output_folder, const QString& source) {
  return output_folder + QLatin1Char('/') + QFileInfo(source).completeBaseName() + QStringLiteral(".3gp");
}

// The order in which rows reach a text in "Progress".
class ProgressWatch : public QObject {
 public:
  ProgressWatch(app::FileListModel& files, QString word) : files_(files), word_(std::move(word)) {
    connect(&files, &app::FileListModel::dataChanged, this,
            [this](const QModelIndex& top, const QModelIndex& end) {
              for (int row = top.row(); row <= end.row(); ++row) {
                if (files_.Text(row, kColumnProgress) == word_ && !Rows.contains(row)) Rows << row;
              }
            });
  }
  QList<int> Rows;

 private:
  app::FileListModel& files_;
  QString word_;
};

// Ticks the sequencer by hand (its timer stopped) until the condition holds.
bool TickUntil(TestWindow& window, const std::function<bool()>& condition, int timeout_ms = kRunTimeout) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout_ms) return false;
    window->Queue().Timer1Timer();
    if (condition()) return true;
    QTest::qWait(20);
  }
  return true;
}

// " Convert Now" with the sequencer's timer stopped, so that the test ticks it.
void ConvertNowTickedByHand(TestWindow& window) {
  window->Queue().ButtonRipNowClick();
  window->Queue().Timer().stop();
}

app::FileRow Row(const QString& caption, const QString& duration) {
  app::FileRow row;
  row.Texts[kColumnVideoFiles] = caption;
  row.Texts[app::kColumnDuration] = duration;
  return row;
}

}  // namespace

class QueueTest : public QObject {
  Q_OBJECT

 private slots:
  void checkedRowsConvertInListOrder() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    QStringList sources;
    for (int at = 0; at < 5; ++at) {
      sources << app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(),
                                  QStringLiteral("clip%1.avi").arg(at));
    }
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    for (int row : {0, 2, 4})
      files.SetChecked(row, false);

    ProgressWatch done(files, QStringLiteral("Done"));
    QStringList progress_at_completion;
    window.Dialogs().WhileShown = [&](const DialogCall& call) {
      if (call.Text == kCompleted) progress_at_completion = Column(files, kColumnProgress);
    };
    QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
    window->Queue().ButtonRipNowClick();
    QVERIFY(window->Queue().Timer().isActive());
    QVERIFY(completed.wait(kRunTimeout));

    QCOMPARE(done.Rows, QList<int>({1, 3}));
    QCOMPARE(window.Dialogs().Messages(), QStringList{kCompleted});
    QCOMPARE(progress_at_completion, QStringList({"", "Done", "", "Done", ""}));
    QVERIFY(!window->Queue().Timer().isActive());
    QVERIFY(!window->ControlsLocked());
    for (int row = 0; row < 5; ++row) {
      const QString converted = OutputOf(output, sources[row]);
      if (row == 1 || row == 3) {
        QVERIFY2(app_test::ContainerOf(converted).find("3gp") != std::string::npos, qPrintable(converted));
        QVERIFY2(app_test::DecodesCleanly(converted), qPrintable(converted));
        bool counted = false;
        QVERIFY(files.Text(row, kColumnFrames).toInt(&counted) > 0 && counted);
        QCOMPARE(files.Text(row, kColumnTimeRemaining), QString());
      } else {
        QVERIFY2(!QFileInfo::exists(converted), qPrintable(converted));
      }
    }
    QCOMPARE(LogOutcomes(folder), QStringList({"Done", "Done"}));
  }

  // Checking a row below the last one started does not add it; checking one above does; a row unchecked
  // before its turn is skipped. The controls are locked while the run lasts.
  void rowsCheckedDuringTheRun() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    QStringList sources;
    for (int at = 0; at < 5; ++at) {
      sources << app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(),
                                  QStringLiteral("clip%1.avi").arg(at));
    }
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    for (int row : {0, 4})
      files.SetChecked(row, false);
    app::QueueController& queue = window->Queue();
    ProgressWatch done(files, QStringLiteral("Done"));

    ConvertNowTickedByHand(window);
    QVERIFY(TickUntil(window, [&] { return queue.Converting() && queue.CurrentItem() == 1; }));
    QCOMPARE(queue.HighestStarted(), 1);
    // While it runs: locked controls, and the actions that would change the list or the choices refuse.
    QVERIFY(window->ControlsLocked());
    for (const char* name : {"ButtonOpenDVD", "ButtonRemoveItem", "ButtonClearList", "ButtonRipNow"})
      QVERIFY2(!window->findChild<QToolButton*>(QLatin1String(name))->isEnabled(), name);
    QVERIFY(window->findChild<QToolButton*>(QStringLiteral("ButtonStop"))->isEnabled());
    for (const char* name : {"MenuFile", "MenuSkin", "MenuAbout"})
      QVERIFY2(!window->findChild<QMenu*>(QLatin1String(name))->menuAction()->isEnabled(), name);
    window->ButtonOpenDVDClick();
    window->ButtonBrowseForFolderClick();
    window->ButtonClearListClick();
    QVERIFY(window.Dialogs().Calls.empty());
    QCOMPARE(files.Count(), 5);
    auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    auto* list_menu = window->findChild<QMenu*>(QStringLiteral("PopupMenuList"));
    QVERIFY(view != nullptr && list_menu != nullptr);
    emit view->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(!list_menu->isVisible());
    files.setData(files.index(2, 0), Qt::Unchecked, Qt::CheckStateRole);

    QVERIFY(TickUntil(window, [&] { return queue.Converting() && queue.CurrentItem() == 3; }));
    QCOMPARE(queue.HighestStarted(), 3);
    files.setData(files.index(4, 0), Qt::Checked, Qt::CheckStateRole);
    files.setData(files.index(0, 0), Qt::Checked, Qt::CheckStateRole);

    QSignalSpy completed(&queue, &app::QueueController::RunCompleted);
    queue.Timer().start();
    QVERIFY(completed.wait(kRunTimeout));
    QCOMPARE(done.Rows, QList<int>({1, 3, 4}));
    QCOMPARE(Column(files, kColumnProgress), QStringList({"", "Done", "", "Done", "Done"}));
    QCOMPARE(window.Dialogs().Messages(), QStringList{kCompleted});
    QVERIFY(!window->ControlsLocked());
    for (const char* name : {"ButtonOpenDVD", "ButtonRemoveItem", "ButtonClearList", "ButtonRipNow"})
      QVERIFY2(window->findChild<QToolButton*>(QLatin1String(name))->isEnabled(), name);
    for (const char* name : {"MenuFile", "MenuSkin", "MenuAbout"})
      QVERIFY2(window->findChild<QMenu*>(QLatin1String(name))->menuAction()->isEnabled(), name);
    for (int row = 0; row < 5; ++row)
      QCOMPARE(QFileInfo::exists(OutputOf(output, sources[row])), row == 1 || row == 3 || row == 4);

    // After the run the list's menu opens again; "Show Log" is offered for a row with a log only.
    QAction* show_log = window->Action(QStringLiteral("actionShowLog"));
    const int row_height = view->rowHeight(0);
    emit view->customContextMenuRequested(QPoint(5, row_height / 2));
    QVERIFY(list_menu->isVisible());
    QVERIFY(!show_log->isEnabled());
    list_menu->hide();
    emit view->customContextMenuRequested(QPoint(5, row_height + row_height / 2));
    QVERIFY(list_menu->isVisible());
    QVERIFY(show_log->isEnabled());
    list_menu->hide();
    QVERIFY(QFileInfo::exists(files.Row(1).LogFile));
    QVERIFY(files.Row(0).LogFile.isEmpty());
  }

  // kinds: "bad" a file that is no media (the job cannot start), "good" a short video.
  void jobsThatCannotStartShowFailThenFailed_data() {
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("outcomes");
    QTest::newRow("one that cannot start, then a good one")
        << QStringList{"bad", "good"} << QStringList{"Failed", "Done"};
    QTest::newRow("a good one between two that cannot start")
        << QStringList{"bad", "good", "bad"} << QStringList{"Failed", "Done", "Failed"};
    QTest::newRow("none can start") << QStringList{"bad", "bad"} << QStringList{"Failed", "Failed"};
  }

  void jobsThatCannotStartShowFailThenFailed() {
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, outcomes);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    QStringList sources;
    for (int at = 0; at < kinds.size(); ++at) {
      sources << (kinds[at] == QLatin1String("bad")
                      ? app_test::NotMedia(folder.Path(), QStringLiteral("broken%1.avi").arg(at))
                      : app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(),
                                         QStringLiteral("clip%1.avi").arg(at)));
    }
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();

    ConvertNowTickedByHand(window);
    queue.Timer1Timer();
    // The first row could not start: "Fail" at once, with the engine's reason as its tooltip, and the run
    // waits for the next tick.
    QCOMPARE(queue.CurrentItem(), 0);
    QVERIFY(!queue.Converting());
    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Fail"));
    QVERIFY(!files.data(files.index(0, kColumnProgress), Qt::ToolTipRole).toString().isEmpty());
    queue.Timer1Timer();
    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Failed"));
    QCOMPARE(files.Text(0, kColumnTimeRemaining), QString());

    QStringList progress_at_completion;
    window.Dialogs().WhileShown = [&](const DialogCall& call) {
      if (call.Text == kCompleted) progress_at_completion = Column(files, kColumnProgress);
    };
    QSignalSpy completed(&queue, &app::QueueController::RunCompleted);
    if (!window.Dialogs().Messages().contains(kCompleted)) {
      queue.Timer().start();
      QVERIFY(completed.wait(kRunTimeout));
    }
    QCOMPARE(window.Dialogs().Messages(), QStringList{kCompleted});
    QCOMPARE(progress_at_completion, outcomes);
    QCOMPARE(Column(files, kColumnProgress), outcomes);
    QVERIFY(!window->ControlsLocked());
    for (int row = 0; row < kinds.size(); ++row)
      QCOMPARE(QFileInfo::exists(OutputOf(output, sources[row])), outcomes[row] == QLatin1String("Done"));
  }

  void stopAnsweredNoLetsTheRunGoOn() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    const QStringList sources{app_test::media::LongAvi(), app_test::media::ShortAvi()};
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();
    QSignalSpy completed(&queue, &app::QueueController::RunCompleted);
    queue.ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);

    // "Time Remaining" gets an estimate once the job has run for 2 s: the question stays up that long.
    QStringList remaining;
    connect(&files, &app::FileListModel::dataChanged, this, [&] {
      const QString text = files.Text(0, kColumnTimeRemaining);
      if (!text.isEmpty() && !remaining.contains(text)) remaining << text;
    });
    QVERIFY(files.Text(0, kColumnTimeRemaining).isEmpty());
    window.Dialogs().WhileShown = [](const DialogCall& call) {
      if (call.Kind == DialogCall::kConfirm) QThread::msleep(2100);
    };
    window.Dialogs().ConfirmAnswers.push_back(false);
    queue.ButtonStopClick();
    window.Dialogs().WhileShown = nullptr;
    QCOMPARE(window.Dialogs().Questions(), QStringList{kStopQuestion});
    QVERIFY(queue.Converting());
    QVERIFY(window->ControlsLocked());
    QVERIFY(completed.wait(kRunTimeout));
    QCOMPARE(Column(files, kColumnProgress), QStringList({"Done", "Done"}));
    QVERIFY2(!remaining.isEmpty(), "no estimate of the time remaining");
    static const QRegularExpression kClock(QStringLiteral("^\\d+:\\d\\d:\\d\\d$"));
    for (const QString& text : remaining)
      QVERIFY2(kClock.match(text).hasMatch(), qPrintable(remaining.join(QStringLiteral(" | "))));
    // Done: the estimate is gone.
    QCOMPARE(files.Text(0, kColumnTimeRemaining), QString());
    QCOMPARE(window.Dialogs().Messages(), QStringList{kCompleted});
    // The long job ran to its end.
    const QString converted = OutputOf(output, sources[0]);
    QVERIFY(app_test::DecodesCleanly(converted));
    QVERIFY2(std::abs(app_test::ContainerSeconds(converted) - 240.0) < 1.0,
             qPrintable(QString::number(app_test::ContainerSeconds(converted))));
  }

  void stopAnsweredYesAbortsTheRun() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    const QStringList sources{app_test::media::LongAvi(), app_test::media::ShortAvi()};
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();
    QSignalSpy completed(&queue, &app::QueueController::RunCompleted);
    queue.ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);

    window.Dialogs().ConfirmAnswers.push_back(true);
    queue.ButtonStopClick();
    QCOMPARE(window.Dialogs().Questions(), QStringList{kStopQuestion});
    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Abort"));
    QCOMPARE(files.Text(0, kColumnTimeRemaining), QString());
    QVERIFY(!queue.Running());
    QVERIFY(!window->ControlsLocked());
    // The engine's last notifications come in; nothing else runs and nothing is announced.
    QTest::qWait(1500);
    QCOMPARE(completed.count(), 0);
    QCOMPARE(window.Dialogs().Messages(), QStringList{});
    QCOMPARE(Column(files, kColumnProgress), QStringList({"Abort", ""}));
    QVERIFY(!QFileInfo::exists(OutputOf(output, sources[1])));
    // The stopped output was closed properly: its container can be read and decodes to the end.
    const QString stopped = OutputOf(output, sources[0]);
    QVERIFY2(app_test::ContainerOf(stopped).find("3gp") != std::string::npos, qPrintable(stopped));
    QVERIFY(app_test::DecodesCleanly(stopped));
    const double seconds = app_test::ContainerSeconds(stopped);
    QVERIFY2(seconds > 0 && seconds < 239, qPrintable(QString::number(seconds)));
    QCOMPARE(LogOutcomes(folder), QStringList{"Abort"});
  }

  // During a run the selected row stays the one converting: a click on another row changes nothing, and
  // " Stop" marks the row that was converting.
  void selectionDuringARunIsIgnored() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    const QStringList sources{app_test::media::LongAvi(), app_test::media::ShortAvi(),
                              app_test::media::SoundMp3()};
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();
    queue.ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);
    auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    view->selectRow(2);
    window->ListView1SelectItem(1);
    window.Dialogs().ConfirmAnswers.push_back(true);
    queue.ButtonStopClick();
    QCOMPARE(Column(files, kColumnProgress), QStringList({"Abort", "", ""}));
  }

  void closingDuringARunAsks_data() {
    QTest::addColumn<bool>("stop");
    QTest::newRow("No: the run goes on") << false;
    QTest::newRow("Yes: the run stops and the window closes") << true;
  }

  void closingDuringARunAsks() {
    QFETCH(bool, stop);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    const QStringList sources{app_test::media::LongAvi(), app_test::media::ShortAvi()};
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();
    QSignalSpy completed(&queue, &app::QueueController::RunCompleted);
    queue.ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);

    window.Dialogs().ConfirmAnswers.push_back(stop);
    const bool closed = window->close();
    QCOMPARE(window.Dialogs().Questions(), QStringList{kStopQuestion});
    QCOMPARE(closed, stop);
    QCOMPARE(window->isVisible(), !stop);
    const QString first = OutputOf(output, sources[0]);
    if (!stop) {
      QVERIFY(queue.Converting());
      QVERIFY(completed.wait(kRunTimeout));
      QCOMPARE(Column(files, kColumnProgress), QStringList({"Done", "Done"}));
      QVERIFY(app_test::DecodesCleanly(first));
      return;
    }
    // Stopped before the window went: the output has its trailer (ffprobe reads the container) and decodes.
    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Abort"));
    QVERIFY(!queue.Running());
    QVERIFY2(app_test::ContainerOf(first).find("3gp") != std::string::npos, qPrintable(first));
    QVERIFY(app_test::DecodesCleanly(first));
    const double seconds = app_test::ContainerSeconds(first);
    QVERIFY2(seconds > 0 && seconds < 239, qPrintable(QString::number(seconds)));
    QTest::qWait(500);
    QCOMPARE(completed.count(), 0);
    QVERIFY(window.Dialogs().Messages().isEmpty());
    QVERIFY(!QFileInfo::exists(OutputOf(output, sources[1])));
  }

  // The preferences the window shows are what the jobs get: the volume (0: no sound at all) and whether an
  // output of the same name is overwritten or the new one numbered. Each row converts the same file twice.
  void preferencesReachTheJobs_data() {
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("streams");
    QTest::addColumn<QStringList>("outputs");
    QTest::newRow("volume 100, a second output numbered")
        << 100 << false << "audio,video" << QStringList{"clip-1.3gp", "clip.3gp"};
    QTest::newRow("volume 0: no sound") << 0 << false << "video" << QStringList{"clip-1.3gp", "clip.3gp"};
    QTest::newRow("overwrite: one output") << 100 << true << "audio,video" << QStringList{"clip.3gp"};
  }

  void preferencesReachTheJobs() {
    QFETCH(int, volume);
    QFETCH(bool, overwrite);
    QFETCH(QString, streams);
    QFETCH(QStringList, outputs);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    auto* spin = window->findChild<QSpinBox*>(QStringLiteral("SpinEditVolume"));
    QVERIFY(spin != nullptr);
    spin->setValue(volume);
    if (overwrite) window->findChild<QCheckBox*>(QStringLiteral("CheckBoxOverwrite"))->click();
    const QString source =
        app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), QStringLiteral("clip.avi"));
    QVERIFY(window.AddAndWait({source}));
    for (int run = 0; run < 2; ++run) {
      QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
      window->Queue().ButtonRipNowClick();
      QVERIFY(completed.wait(kRunTimeout));
      QCOMPARE(window->Files().Text(0, kColumnProgress), QStringLiteral("Done"));
    }
    QCOMPARE(QDir(output).entryList(QDir::Files, QDir::Name), outputs);
    const QString first = output + QStringLiteral("/clip.3gp");
    const media_test::CommandResult kinds =
        media_test::RunCommand("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                               media_test::Quoted(app_test::ToPath(first)));
    QStringList found = QString::fromStdString(kinds.Output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    found.sort();
    QCOMPARE(found.join(QLatin1Char(',')), streams);
    QVERIFY(app_test::DecodesCleanly(first));
  }

  // "Exit" during a run asks nothing and saves nothing, but still stops the job with its output closed.
  void exitDuringARunStopsWithoutAsking() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait({app_test::media::LongAvi()}));
    const QByteArray settings = folder.SettingsText();
    app::FileListModel& files = window->Files();
    window->Queue().ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);
    // The menu is locked during a run; the action itself still ends the program.
    window.Action("actionExit").trigger();
    QVERIFY(!window->isVisible());
    QVERIFY(window.Dialogs().Calls.empty());
    QCOMPARE(folder.SettingsText(), settings);
    window.Destroy();
    const QString stopped = OutputOf(output, app_test::media::LongAvi());
    QVERIFY2(app_test::ContainerOf(stopped).find("3gp") != std::string::npos, qPrintable(stopped));
    QVERIFY(app_test::DecodesCleanly(stopped));
  }

  // A job whose length is unknown shows how far it got over a busy bar, never a percentage; a job with a
  // length shows percentages.
  void progressOfAJobWithoutALengthIsBusy_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("lengthKnown");
    QTest::newRow("MP4 with a length") << app_test::media::VideoMp4() << true;
    QTest::newRow("raw H.264 without a length") << app_test::media::RawH264() << false;
  }

  void progressOfAJobWithoutALengthIsBusy() {
    QFETCH(QString, source);
    QFETCH(bool, lengthKnown);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    TestWindow window(folder);
    StartWithOutputFolder(window, output);
    QVERIFY(window.AddAndWait({source}));
    app::FileListModel& files = window->Files();
    QCOMPARE(files.Text(0, kColumnDuration) == QLatin1String("00:00:00"), !lengthKnown);
    auto* bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QVERIFY(bar != nullptr);

    // What the row showed while the job ran, as it changed, and the bar, looked at every few milliseconds.
    QStringList texts;
    QSet<int> progress_values;
    QSet<QString> remaining;
    bool bar_busy = false;
    bool bar_out_of_range = false;
    const auto look_at_bar = [&] {
      if (bar->minimum() == 0 && bar->maximum() == 0) bar_busy = true;
      if (bar->value() < 0 || bar->value() > 100) bar_out_of_range = true;
    };
    connect(&files, &app::FileListModel::dataChanged, this, [&] {
      // Also at every change of the row: a short job's bar may be busy for less than the timer's period, but
      // the next progress event (the last report comes before the end) still finds it so.
      look_at_bar();
      if (!files.Text(0, kColumnTimeRemaining).isEmpty())
        remaining.insert(files.Text(0, kColumnTimeRemaining));
      const QString text = files.Text(0, kColumnProgress);
      if (text.isEmpty() || text == QLatin1String("Done")) return;
      if (!texts.contains(text)) texts << text;
      progress_values.insert(files.data(files.index(0, kColumnProgress), app::kProgressRole).toInt());
    });
    QTimer look;
    look.setInterval(5);
    connect(&look, &QTimer::timeout, look_at_bar);
    look.start();
    QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
    window->Queue().ButtonRipNowClick();
    QVERIFY(completed.wait(kRunTimeout));
    look.stop();

    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Done"));
    QVERIFY2(!texts.isEmpty(), "the run showed no progress");
    QVERIFY(!bar_out_of_range);
    const QString seen = texts.join(QStringLiteral(" | "));
    for (const QString& text : texts) {
      QVERIFY2(!text.contains(QLatin1Char('-')), qPrintable(seen));
      QCOMPARE(text.endsWith(QLatin1Char('%')), lengthKnown);
    }
    if (lengthKnown) {
      QVERIFY(!progress_values.contains(app::kBusyProgress));
      QVERIFY(!bar_busy);
      QVERIFY(!remaining.contains(QStringLiteral("Unknown")));
    } else {
      QVERIFY(progress_values.contains(app::kBusyProgress));
      QVERIFY(bar_busy);
      QCOMPARE(remaining, QSet<QString>{QStringLiteral("Unknown")});
    }
    // The run is over: the bar is back at rest.
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(app_test::DecodesCleanly(OutputOf(output, source)));
  }

  // The progress events as the row, the status bar's size panel and the progress bar show them. The events
  // are handed to the queue directly, for a row whose job was the current one.
  void progressEventShowsInTheRowAndTheStatusBar_data() {
    QTest::addColumn<QString>("duration");  // the row's "Duration"
    QTest::addColumn<qint64>("current");    // microseconds
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("size");  // bytes
    QTest::addColumn<int>("frame");
    QTest::addColumn<QString>("progress");  // "<busy>": not a percentage, over a busy bar
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("sizePanel");
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("remaining");

    const QString three = QStringLiteral("00:00:03");
    QTest::newRow("half way") << three << qint64{1500000} << qint64{3000000} << qint64{1400000} << 37 << "50%"
                              << 50 << "File Size : 1 MB"
                              << "37"
                              << "";
    QTest::newRow("percentage truncated") << three << qint64{1999999} << qint64{3000000} << qint64{1600000}
                                          << 50 << "66%" << 66 << "File Size : 2 MB"
                                          << "50"
                                          << "";
    QTest::newRow("past the end") << three << qint64{3200000} << qint64{3000000} << qint64{0} << 80 << "100%"
                                  << 100 << "File Size : 0 MB"
                                  << "80"
                                  << "";
    QTest::newRow("size half way rounds to even")
        << three << qint64{0} << qint64{3000000} << qint64{2500000} << 1 << "0%" << 0 << "File Size : 2 MB"
        << "1"
        << "";
    QTest::newRow("no frame count") << three << qint64{300000} << qint64{3000000} << qint64{123456789} << -1
                                    << "10%" << 10 << "File Size : 123 MB"
                                    << " "
                                    << "";
    QTest::newRow("the list knew no length") << "00:00:00" << qint64{300000} << qint64{3000000} << qint64{0}
                                             << 5 << "10%" << 10 << "File Size : 0 MB"
                                             << "5"
                                             << "Unknown";
    QTest::newRow("Unknown length in the list") << "Unknown" << qint64{300000} << qint64{3000000} << qint64{0}
                                                << 5 << "10%" << 10 << "File Size : 0 MB"
                                                << "5"
                                                << "Unknown";
    QTest::newRow("the engine knows no length")
        << three << qint64{2500000} << qint64{-1} << qint64{0} << 60 << "<busy>" << -1 << "File Size : 0 MB"
        << "60"
        << "Unknown";
    QTest::newRow("a length of zero")
        << three << qint64{2500000} << qint64{0} << qint64{0} << 60 << "<busy>" << -1 << "File Size : 0 MB"
        << "60"
        << "Unknown";
  }

  void progressEventShowsInTheRowAndTheStatusBar() {
    QFETCH(QString, duration);
    QFETCH(qint64, current);
    QFETCH(qint64, total);
    QFETCH(qint64, size);
    QFETCH(int, frame);
    QFETCH(QString, progress);
    QFETCH(int, bar);
    QFETCH(QString, sizePanel);
    QFETCH(QString, frames);
    QFETCH(QString, remaining);

    TestFolder folder;
    TestWindow window(folder);
    StartWithOutputFolder(window, folder.Folder(QStringLiteral("out")));
    // A row whose job becomes the current one and fails to start: the queue then takes its events.
    window->Files().Append(Row(app_test::NotMedia(folder.Path()), duration));
    ConvertNowTickedByHand(window);
    window->Queue().Timer1Timer();
    QCOMPARE(window->Queue().CurrentItem(), 0);

    engine::TProgressInfo info;
    info.CurrentDuration = current;
    info.TotalDuration = total;
    info.CurrentSize = size;
    info.FrameNumber = frame;
    window->Queue().VidrelProgress(info);

    app::FileListModel& files = window->Files();
    auto* progress_bar = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    const QString shown = files.Text(0, kColumnProgress);
    const int role = files.data(files.index(0, kColumnProgress), app::kProgressRole).toInt();
    if (progress == QLatin1String("<busy>")) {
      QVERIFY2(!shown.contains(QLatin1Char('%')) && !shown.contains(QLatin1Char('-')), qPrintable(shown));
      QCOMPARE(role, app::kBusyProgress);
      QCOMPARE(progress_bar->maximum(), 0);
    } else {
      QCOMPARE(shown, progress);
      QCOMPARE(role, bar);
      QCOMPARE(progress_bar->maximum(), 100);
      QCOMPARE(progress_bar->value(), bar);
    }
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("StatusPanelSize"))->text(), sizePanel);
    QCOMPARE(files.Text(0, kColumnFrames), frames);
    QCOMPARE(files.Text(0, kColumnTimeRemaining), remaining);
  }

  // With "Preview video during conversion." checked the preview area shows the frames being converted;
  // unchecked it keeps its picture.
  void previewAreaShowsTheFramesBeingConverted_data() {
    QTest::addColumn<bool>("preview");
    QTest::newRow("checked") << true;
    QTest::newRow("unchecked") << false;
  }

  void previewAreaShowsTheFramesBeingConverted() {
    QFETCH(bool, preview);
    TestFolder folder;
    TestWindow window(folder);
    StartWithOutputFolder(window, folder.Folder(QStringLiteral("out")));
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QVERIFY(window.AddAndWait({app_test::media::RawH264()}));
    auto* box = window->findChild<QCheckBox*>(QStringLiteral("CheckBoxPreview"));
    QVERIFY(box != nullptr && box->isChecked());
    if (!preview) box->click();
    const QImage before = window->Preview().grab().toImage();
    QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
    window->Queue().ButtonRipNowClick();
    QVERIFY(completed.wait(kRunTimeout));
    QCoreApplication::processEvents();
    const QImage after = window->Preview().grab().toImage();
    QCOMPARE(after != before, preview);
  }
};

TARVELLO_APP_TEST_MAIN(QueueTest)
#include "queue_test.moc"
