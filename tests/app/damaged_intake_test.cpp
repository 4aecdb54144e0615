// The window's intake on damaged media: every damaged copy of every container, awkward files and files
// changed while they are read each get their row, in order, showing what the probe read or "Error" with the
// probe's reason; the intake always finishes.
#include <QTimer>
#include <atomic>
#include <thread>

#include "app_test_support.h"
#include "profiles/source_facts.h"
#include "support/damaged_media.h"
#include "support/watchdog.h"

using app_test::TestFolder;
using app_test::TestWindow;
using damaged_media::DamagedFile;

namespace {

constexpr std::chrono::seconds kLimit{120};

// Adds the files and checks every row against what a probe of the test's own reads from the same bytes.
void ExpectEveryRowShowsWhatWasReadOrError(TestWindow& window, const std::vector<DamagedFile>& files,
                                           bool files_change = false) {
  QStringList added;
  for (const DamagedFile& file : files)
    added << app_test::ToQString(file.Path);
  test_watchdog::Watchdog watchdog;
  watchdog.Arm("the intake of " + std::to_string(files.size()) + " damaged files", kLimit);
  QVERIFY(window.AddAndWait(added, static_cast<int>(kLimit.count()) * 1000));
  watchdog.Disarm();
  app::FileListModel& rows = window->Files();
  QCOMPARE(rows.Count(), static_cast<int>(files.size()));
  probe::TAVProbe probe;
  for (int row = 0; row < rows.Count(); ++row) {
    const DamagedFile& file = files[static_cast<std::size_t>(row)];
    const QString label = QString::fromStdString(file.Label);
    QCOMPARE(rows.Text(row, app::kColumnVideoFiles), added[row]);
    const bool error = rows.Text(row, app::kColumnProgress) == QStringLiteral("Error");
    const QString reason = rows.data(rows.index(row, app::kColumnProgress), Qt::ToolTipRole).toString();
    if (error) {
      QVERIFY2(reason.size() > 3, qPrintable(label));
      QVERIFY2(rows.Text(row, app::kColumnDuration).isEmpty(), qPrintable(label));
    } else {
      QVERIFY2(rows.Text(row, app::kColumnProgress).isEmpty(), qPrintable(label));
      QVERIFY2(!rows.Text(row, app::kColumnDuration).isEmpty(), qPrintable(label));
    }
    if (files_change) continue;
    const bool readable = profiles::ReadSourceFacts(probe, file.Path.string()).Opened;
    QVERIFY2(error != readable, qPrintable(label + QStringLiteral(": ") + reason));
  }
}

}  // namespace

class DamagedIntakeTest : public QObject {
  Q_OBJECT

 private slots:
  void everyDamagedCopyShowsWhatWasReadOrError() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    std::vector<DamagedFile> files;
    for (const damaged_media::Source& source : damaged_media::Sources()) {
      const std::filesystem::path place =
          app_test::ToPath(folder.Folder(QString::fromLatin1(source.Extension)));
      const auto copies = damaged_media::DamagedCopies(source, place);
      QVERIFY2(!copies.empty(), source.Extension);
      files.insert(files.end(), copies.begin(), copies.end());
    }
    ExpectEveryRowShowsWhatWasReadOrError(window, files);
  }

  void awkwardFilesShowWhatWasReadOrError() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const auto files = damaged_media::AwkwardFiles(app_test::ToPath(folder.Path()));
    ExpectEveryRowShowsWhatWasReadOrError(window, files);
    // The clean file under the longest name is read.
    QCOMPARE(window->Files().Text(3, app::kColumnProgress), QString());
  }

  // Another thread changes the files, each in one of the ways, while the intake reads them.
  void filesChangedWhileTheyAreReadShowWhatWasReadOrError() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const std::filesystem::path clean = damaged_media::LongerFile();
    QVERIFY(!clean.empty());
    std::vector<DamagedFile> files;
    for (int copy = 0; copy < 40; ++copy) {
      const auto& change =
          damaged_media::Changes()[static_cast<std::size_t>(copy) % damaged_media::Changes().size()];
      files.push_back(
          {change.Name, damaged_media::OwnCopy(
                            clean, app_test::ToPath(folder.File(QStringLiteral("copy_%1.avi").arg(copy))))});
    }
    std::atomic<bool> started{false};
    std::thread changer([&] {
      while (!started)
        std::this_thread::yield();
      for (std::size_t copy = 0; copy < files.size(); ++copy) {
        damaged_media::ApplyChange(files[copy].Path,
                                   damaged_media::Changes()[copy % damaged_media::Changes().size()].What);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    QTimer::singleShot(0, [&] { started = true; });
    ExpectEveryRowShowsWhatWasReadOrError(window, files, true);
    started = true;
    changer.join();
  }
};

TARVELLO_APP_TEST_MAIN(DamagedIntakeTest)
#include "damaged_intake_test.moc"
