// Jobs that fail while they run: a disk that is full, an output folder that vanishes, an output that reads
// back shorter than its source. Each such row ends as "Fail" with the reason as its tooltip and in its log,
// the next checked row still converts, and nothing is called "Done" that is not.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app_test_support.h"

using app::kColumnProgress;
using app_test::LogOutcomes;
using app_test::TestFolder;
using app_test::TestWindow;

namespace {

// A run's bound only catches a hang: the longest run (240 s of media) takes about 30 s under a sanitizer on
// a loaded 2-core machine; the bound leaves room for a machine many times slower. ctest ends a test
// function at 600 s.
constexpr int kRunTimeout = 480000;

QString Tooltip(app::FileListModel& files, int row) {
  return files.data(files.index(row, kColumnProgress), Qt::ToolTipRole).toString();
}

// An MP4 file of sound with its index in front, cut in half: it still says it lasts 4 s.
QString CutIndexedSound(const QString& folder, const QString& name) {
  QFile whole(app_test::ToQString(media_test::Fixture(
      "app_tone_indexed.m4a", "-f lavfi -i sine=duration=4 -c:a aac -movflags +faststart")));
  if (!whole.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = whole.readAll();
  const QString path = folder + QLatin1Char('/') + name;
  QFile cut(path);
  if (!cut.open(QIODevice::WriteOnly)) return {};
  cut.write(bytes.left(bytes.size() / 2));
  return path;
}

const QString kProfile = QStringLiteral("AVI - DivX Video (*.avi)");

// Where a row goes with that profile.
QString OutputOf(const QString& output_folder, const QString& source) {
  return output_folder + QLatin1Char('/') + QFileInfo(source).completeBaseName() + QStringLiteral(".avi");
}

// A started window converting into output with kProfile, chosen as the user chooses it.
void StartWithProfile(TestWindow& window, const QString& output) {
  window.Start();
  window.Dialogs().FolderAnswers.push_back(output);
  window->ButtonBrowseForFolderClick();
  auto* formats = window->findChild<QComboBox*>(QStringLiteral("ComboOutputFormat"));
  QVERIFY(formats != nullptr);
  const int row = formats->findText(kProfile);
  QVERIFY(row >= 0);
  formats->setCurrentIndex(row);
  emit formats->activated(row);
}

class QueueFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  // kinds: "good" a short clip; "full" a clip whose output name leads to a device that is always full;
  // "short" the cut sound. reasons: what each row's tooltip says, empty for a row that is done.
  void failuresWhileRunningShowFailWithTheReasonAndTheQueueGoesOn_data() {
    QTest::addColumn<QStringList>("kinds");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QStringList>("reasons");
    QTest::newRow("a full disk, then a good one")
        << QStringList{"full", "good"} << QStringList{"Fail", "Done"}
        << QStringList{"No space left on device", ""};
    QTest::newRow("a short output between two good ones")
        << QStringList{"good", "short", "good"} << QStringList{"Done", "Fail", "Done"}
        << QStringList{"", "the output lasts 1.9 s of the source's 4.0 s", ""};
  }

  void failuresWhileRunningShowFailWithTheReasonAndTheQueueGoesOn() {
    QFETCH(QStringList, kinds);
    QFETCH(QStringList, outcomes);
    QFETCH(QStringList, reasons);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    QStringList sources;
    for (int at = 0; at < kinds.size(); ++at) {
      const QString name = kinds[at] + QString::number(at);
      if (kinds[at] == QLatin1String("short")) {
        sources << CutIndexedSound(folder.Path(), name + QStringLiteral(".m4a"));
        continue;
      }
      sources << app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), name + QStringLiteral(".avi"));
      if (kinds[at] == QLatin1String("full")) {
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), OutputOf(output, sources.last())));
      }
    }
    TestWindow window(folder);
    StartWithProfile(window, output);
    // Overwritten in place, so that the full device is the output.
    window->findChild<QCheckBox*>(QStringLiteral("CheckBoxOverwrite"))->setChecked(true);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();

    QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
    window->Queue().ButtonRipNowClick();
    QVERIFY(completed.wait(kRunTimeout));
    QStringList progress;
    for (int row = 0; row < kinds.size(); ++row) {
      progress << files.Text(row, kColumnProgress);
      const QString tooltip = Tooltip(files, row);
      QVERIFY2(reasons[row].isEmpty() ? tooltip.isEmpty() : tooltip.contains(reasons[row]),
               qPrintable(tooltip));
      const QString converted = OutputOf(output, sources[row]);
      if (outcomes[row] == QLatin1String("Done"))
        QVERIFY2(app_test::DecodesCleanly(converted), qPrintable(converted));
    }
    QCOMPARE(progress, outcomes);
    QCOMPARE(LogOutcomes(folder), outcomes);
    for (int row = 0; row < kinds.size(); ++row) {
      if (!reasons[row].isEmpty()) {
        QVERIFY2(LogOutcomes(folder, true)[row].startsWith(QStringLiteral("Fail: ")) &&
                     LogOutcomes(folder, true)[row].contains(reasons[row]),
                 qPrintable(LogOutcomes(folder, true)[row]));
      }
      if (kinds[row] == QLatin1String("full")) QVERIFY(QFileInfo(OutputOf(output, sources[row])).isSymLink());
    }
  }

  // The output folder is removed while the first row converts: that output went with it, and the next row
  // has nowhere to go. Neither is called done.
  void anOutputFolderThatVanishesFailsTheRowsThatWriteIntoIt() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    const QStringList sources{
        app_test::CopyAs(app_test::media::LongAvi(), folder.Path(), QStringLiteral("long.avi")),
        app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), QStringLiteral("short.avi"))};
    TestWindow window(folder);
    StartWithProfile(window, output);
    QVERIFY(window.AddAndWait(sources));
    app::FileListModel& files = window->Files();
    QSignalSpy completed(&window->Queue(), &app::QueueController::RunCompleted);
    window->Queue().ButtonRipNowClick();
    QTRY_VERIFY_WITH_TIMEOUT(files.Text(0, kColumnProgress).endsWith(QLatin1Char('%')), kRunTimeout);
    QVERIFY(QDir(output).removeRecursively());
    QVERIFY(completed.wait(kRunTimeout));
    QCOMPARE(files.Text(0, kColumnProgress), QStringLiteral("Fail"));
    QVERIFY2(Tooltip(files, 0).startsWith(QStringLiteral("the output cannot be read back")),
             qPrintable(Tooltip(files, 0)));
    QCOMPARE(files.Text(1, kColumnProgress), QStringLiteral("Failed"));
    QVERIFY2(Tooltip(files, 1).startsWith(QStringLiteral("Could not open")), qPrintable(Tooltip(files, 1)));
  }
};

}  // namespace

TARVELLO_APP_TEST_MAIN(QueueFaultsTest)
#include "queue_faults_test.moc"
