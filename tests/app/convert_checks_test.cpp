// " Convert Now" checks that a run can start, in order, and says what is wrong in exactly one message: an
// empty list, no output folder (then the folder dialog), a folder that does not exist (then the folder
// dialog), nothing checked.
#include "app_test_support.h"

using app_test::DialogCall;
using app_test::TestFolder;
using app_test::TestWindow;

namespace {

app::FileRow Row(const QString& caption, bool checked) {
  app::FileRow row;
  row.Texts[app::kColumnVideoFiles] = caption;
  row.Checked = checked;
  return row;
}

}  // namespace

class ConvertChecksTest : public QObject {
  Q_OBJECT

 private slots:
  void firstFailingCheckSaysWhy_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("anyChecked");
    QTest::addColumn<QString>("outputFolder");  // "<test>": the test's own folder; "<test> ": with spaces
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("folderDialog");
    QTest::addColumn<bool>("passes");

    const QString missing = QStringLiteral("/nonexistent/tarvello-out");
    const QString missing_message =
        QStringLiteral("The output folder \"") + missing +
        QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\rPlease choose a new output folder.");
    QTest::newRow("empty list, empty folder")
        << 0 << false << "" << QStringList{"Please Add Files To Convert!"} << false << false;
    QTest::newRow("empty list, missing folder")
        << 0 << false << missing << QStringList{"Please Add Files To Convert!"} << false << false;
    QTest::newRow("empty list, good folder")
        << 0 << false << "<test>" << QStringList{"Please Add Files To Convert!"} << false << false;
    QTest::newRow("empty folder") << 2 << true << "" << QStringList{"Please select an output folder!"} << true
                                  << false;
    QTest::newRow("folder that does not exist")
        << 2 << true << missing << QStringList{missing_message} << true << false;
    QTest::newRow("folder that is a file")
        << 2 << true << "<file>"
        << QStringList{QStringLiteral("The output folder \"<file>\"\n\rdoes not exist or has been deleted!"
                                      "\n\rPlease choose a new output folder.")}
        << true << false;
    QTest::newRow("nothing checked") << 3 << false << "<test>"
                                     << QStringList{"Please check the items that you want to convert!"}
                                     << false << false;
    QTest::newRow("everything in order") << 3 << true << "<test>" << QStringList{} << false << true;
    QTest::newRow("folder with spaces around it") << 1 << true << "<test> " << QStringList{} << false << true;
  }

  void firstFailingCheckSaysWhy() {
    QFETCH(int, rows);
    QFETCH(bool, anyChecked);
    QFETCH(QString, outputFolder);
    QFETCH(QStringList, messages);
    QFETCH(bool, folderDialog);
    QFETCH(bool, passes);

    TestFolder folder;
    const QString file = folder.File(QStringLiteral("a-file"));
    QFile(file).open(QIODevice::WriteOnly);
    outputFolder.replace(QStringLiteral("<test>"), folder.Path());
    outputFolder.replace(QStringLiteral("<file>"), file);
    for (QString& message : messages)
      message.replace(QStringLiteral("<file>"), file);

    TestWindow window(folder);
    window.Start();
    for (int row = 0; row < rows; ++row)
      window->Files().Append(
          Row(QStringLiteral("/nowhere/clip%1.avi").arg(row), anyChecked && row == rows - 1));
    window->Choices().OutputFolder = app_test::ToPath(outputFolder).string();

    QCOMPARE(window->Queue().CheckBeforeRip(), passes);
    QCOMPARE(window.Dialogs().Messages(), messages);
    const QStringList dialogs = window.Dialogs().Texts(DialogCall::kChooseFolder);
    QCOMPARE(dialogs, folderDialog ? QStringList{"Please choose your output folder: "} : QStringList{});
    QCOMPARE(window.Dialogs().Calls.size(), static_cast<std::size_t>(messages.size() + dialogs.size()));
    // The message comes before the dialog.
    if (folderDialog) QCOMPARE(window.Dialogs().Calls.front().Kind, DialogCall::kInformation);
  }

  // The folder the dialog gives after the message becomes the output folder; the run waits for the next
  // " Convert Now".
  void folderChosenAfterTheMessageIsTakenButNothingStarts() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    window->Files().Append(Row(QStringLiteral("/nowhere/clip.avi"), true));
    window.Dialogs().FolderAnswers.push_back(folder.Path());
    window->Queue().ButtonRipNowClick();
    QCOMPARE(window.Dialogs().Messages(), QStringList{"Please select an output folder!"});
    QCOMPARE(app_test::ToQString(window->Choices().OutputFolder), folder.Path());
    QVERIFY(!window->Queue().Timer().isActive());
    QVERIFY(!window->Queue().Running());
    QVERIFY(!window->ControlsLocked());
  }

  // " Convert Now" empties the columns a run writes, whatever the checks say.
  void convertNowEmptiesTheRunColumns() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    app::FileRow row = Row(QStringLiteral("/nowhere/clip.avi"), false);
    row.Texts[app::kColumnDuration] = QStringLiteral("00:00:03");
    row.Texts[app::kColumnTimeRemaining] = QStringLiteral("0:00:01");
    row.Texts[app::kColumnProgress] = QStringLiteral("Done");
    row.Texts[app::kColumnFrames] = QStringLiteral("75");
    window->Files().Append(row);
    window->Choices().OutputFolder = app_test::ToPath(folder.Path()).string();
    window->Queue().ButtonRipNowClick();
    QCOMPARE(window.Dialogs().Messages(), QStringList{"Please check the items that you want to convert!"});
    QCOMPARE(window->Files().Text(0, app::kColumnTimeRemaining), QString());
    QCOMPARE(window->Files().Text(0, app::kColumnProgress), QString());
    QCOMPARE(window->Files().Text(0, app::kColumnFrames), QString());
    QCOMPARE(window->Files().Text(0, app::kColumnDuration), QStringLiteral("00:00:03"));
  }

  // While files are being added, " Convert Now" does nothing at all: no check, no message.
  void convertNowDoesNothingWhileFilesAreAdded() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QSignalSpy finished(&window.Window(), &app::TForm1::IntakeFinished);
    window->AddFiles({app_test::media::ShortAvi(), app_test::media::VideoMp4()});
    QVERIFY(window->IntakeRunning());
    window->Queue().ButtonRipNowClick();
    QVERIFY(window.Dialogs().Calls.empty());
    QVERIFY(!window->Queue().Timer().isActive());
    QVERIFY(finished.wait(30000));
    // Afterwards the checks run again (here: no output folder).
    window->Queue().ButtonRipNowClick();
    QCOMPARE(window.Dialogs().Messages(), QStringList{"Please select an output folder!"});
  }
};

TARVELLO_APP_TEST_MAIN(ConvertChecksTest)
#include "convert_checks_test.moc"
