// Quick runs of " Convert Now" and " Stop" (answered Yes) in a row, each stopped soon after its job has
// started: every run ends at once with its row and its job log saying "Abort", the next run starts cleanly,
// and a watchdog ends a deadlock with the stacks of every thread.
#include <QTimer>
#include <QToolButton>

#include "app_test_support.h"
#include "support/watchdog.h"

using app_test::TestFolder;
using app_test::TestWindow;

namespace {

constexpr int kRuns = 50;
constexpr std::chrono::seconds kLimit{60};

QToolButton& Button(TestWindow& window, const char* name) {
  auto* button = window->findChild<QToolButton*>(QLatin1String(name));
  if (button == nullptr) qFatal("the window has no button %s", name);
  return *button;
}

}  // namespace

class QueueStressTest : public QObject {
  Q_OBJECT

 private slots:
  void quickRunsOfConvertNowAndStopEachEndAsAbort() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    TestWindow window(folder);
    window.Start();
    window.Dialogs().FolderAnswers.push_back(output);
    window->ButtonBrowseForFolderClick();
    window.Dialogs().Calls.clear();
    QVERIFY(window.AddAndWait({app_test::media::LongAvi(), app_test::media::ShortAvi()}));
    app::FileListModel& files = window->Files();
    app::QueueController& queue = window->Queue();
    test_watchdog::Watchdog watchdog;
    for (int run = 0; run < kRuns; ++run) {
      watchdog.Arm("run " + std::to_string(run) + " of Convert Now and Stop", kLimit);
      Button(window, "ButtonRipNow").click();
      QTRY_VERIFY_WITH_TIMEOUT(queue.Converting(), 30000);
      QTest::qWait(run % 4 * 15);  // stopped at once, or after some frames
      window.Dialogs().ConfirmAnswers.push_back(true);
      Button(window, "ButtonStop").click();
      QVERIFY(!queue.Running());
      QVERIFY(!window->ControlsLocked());
      QCOMPARE(files.Text(0, app::kColumnProgress), QStringLiteral("Abort"));
    }
    // The last run's notifications come in; the row stays as it was.
    watchdog.Arm("the last run's notifications", kLimit);
    QTRY_COMPARE_WITH_TIMEOUT(app_test::LogOutcomes(folder).size(), kRuns, 30000);
    QTest::qWait(200);
    watchdog.Disarm();
    QCOMPARE(files.Text(0, app::kColumnProgress), QStringLiteral("Abort"));
    QCOMPARE(files.Text(1, app::kColumnProgress), QString());
    QCOMPARE(window.Dialogs().Questions().size(), kRuns);
    QCOMPARE(window.Dialogs().Messages(), QStringList{});
    QCOMPARE(app_test::LogOutcomes(folder), QStringList(kRuns, QStringLiteral("Abort")));
    QVERIFY(!QFileInfo::exists(output + QStringLiteral("/app_short_176x144.3gp")));
  }
};

TARVELLO_APP_TEST_MAIN(QueueStressTest)
#include "queue_stress_test.moc"
