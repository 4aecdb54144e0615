// Adding files: one checked row per file in the order given, with what the probe read (picture size, length
// as hh:mm:ss, the output format's code) or "Error" for a file it cannot read; the list's own editing; the
// length format; the "Output" column following the output format.
#include <QMimeData>
#include <QScrollBar>
#include <QTableView>
#include <QUrl>

#include "app/file_list_view.h"
#include "app/local_names.h"
#include "app/open_dialog_filter.h"
#include "app_test_support.h"
#include "profiles/source_facts.h"

using app::kColumnDuration;
using app::kColumnFrames;
using app::kColumnOutput;
using app::kColumnProgress;
using app::kColumnSize;
using app::kColumnTimeRemaining;
using app::kColumnVideoFiles;
using app_test::DialogCall;
using app_test::TestFolder;
using app_test::TestWindow;
using profiles::WindowChoices;

namespace {

QStringList Column(app::FileListModel& files, app::FileColumn column) {
  QStringList texts;
  for (int row = 0; row < files.Count(); ++row)
    texts << files.Text(row, column);
  return texts;
}

QList<bool> Checks(app::FileListModel& files) {
  QList<bool> checks;
  for (int row = 0; row < files.Count(); ++row)
    checks << files.IsChecked(row);
  return checks;
}

// Drags the addresses over the list and drops them there, as a file manager does; waits for the intake.
void DropOnTheList(TestWindow& window, const QList<QUrl>& addresses) {
  auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
  QVERIFY(view != nullptr);
  QMimeData data;
  data.setUrls(addresses);
  QSignalSpy finished(&window.Window(), &app::TForm1::IntakeFinished);
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(view->viewport(), &drop);
  QVERIFY(finished.wait(30000));
}

}  // namespace

class IntakeTest : public QObject {
  Q_OBJECT

 private slots:
  void formatDuration_data() {
    QTest::addColumn<QString>("separator");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("nothing") << ":" << 0.0 << "00:00:00";
    QTest::newRow("five seconds") << ":" << 5.0 << "00:00:05";
    QTest::newRow("a minute") << ":" << 60.0 << "00:01:00";
    QTest::newRow("two minutes five") << ":" << 125.0 << "00:02:05";
    QTest::newRow("an hour, two minutes, five seconds") << ":" << 3725.0 << "01:02:05";
    QTest::newRow("ten hours") << ":" << 36000.0 << "10:00:00";
    QTest::newRow("a hundred hours") << ":" << 360000.0 << "100:00:00";
    QTest::newRow("just under a minute") << ":" << 59.4 << "00:00:59";
    QTest::newRow("a half rounds to even, down") << ":" << 4.5 << "00:00:04";
    QTest::newRow("a half rounds to even, up") << ":" << 5.5 << "00:00:06";
    QTest::newRow("a fraction over") << ":" << 3725.6 << "01:02:06";
    QTest::newRow("another separator") << "." << 3725.0 << "01.02.05";
    QTest::newRow("an empty separator") << "" << 3725.0 << "010205";
  }

  void formatDuration() {
    QFETCH(QString, separator);
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(app_test::S(profiles::FormatDuration(separator.toStdString(), seconds)), text);
  }

  // The list reads a text with a "-" as a length it does not know.
  void formatDurationOfANegativeLengthHasAMinus_data() {
    QTest::addColumn<double>("seconds");
    QTest::newRow("a second before") << -1.0;
    QTest::newRow("an hour before") << -3600.0;
  }

  void formatDurationOfANegativeLengthHasAMinus() {
    QFETCH(double, seconds);
    QVERIFY(profiles::FormatDuration(":", seconds).find('-') != std::string::npos);
  }

  void filesAreAddedInOrderWithWhatTheProbeRead() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QString video = app_test::media::VideoMp4();
    const QString sound = app_test::media::SoundMp3();
    const QString small = app_test::media::ShortAvi();
    const QString exact = app_test::media::Sound2600msWav();
    const QString raw = app_test::media::RawH264();
    const QStringList added{video, sound, small, exact, raw};
    QVERIFY(window.AddAndWait(added));

    app::FileListModel& files = window->Files();
    QCOMPARE(Column(files, kColumnVideoFiles), added);
    QCOMPARE(Checks(files), QList<bool>(5, true));
    QCOMPARE(Column(files, kColumnSize), QStringList({"320x240", " ", "176x144", " ", "320x240"}));
    // 2.6 s shows 00:00:02: the fraction is dropped before the length is formatted. No length: 00:00:00.
    QCOMPARE(Column(files, kColumnDuration),
             QStringList({"00:00:03", "00:00:02", "00:00:01", "00:00:02", "00:00:00"}));
    QCOMPARE(Column(files, kColumnOutput), QStringList(5, QStringLiteral("3GP")));
    QCOMPARE(Column(files, kColumnTimeRemaining), QStringList(5, QString()));
    QCOMPARE(Column(files, kColumnProgress), QStringList(5, QString()));
    QCOMPARE(Column(files, kColumnFrames), QStringList(5, QString()));
    QVERIFY(!window->IntakeRunning());
    QVERIFY(window.Dialogs().Calls.empty());
  }

  void fileTheProbeCannotReadShowsErrorAndStaysChecked() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QString broken = app_test::NotMedia(folder.Path());
    const QString missing = folder.File(QStringLiteral("gone.mp4"));
    const QString video = app_test::media::ShortAvi();
    QVERIFY(window.AddAndWait({broken, video, missing}));

    app::FileListModel& files = window->Files();
    QCOMPARE(Column(files, kColumnVideoFiles), QStringList({broken, video, missing}));
    QCOMPARE(Checks(files), QList<bool>({true, true, true}));
    QCOMPARE(Column(files, kColumnProgress), QStringList({"Error", "", "Error"}));
    for (int row : {0, 2}) {
      QCOMPARE(files.Text(row, kColumnSize), QString());
      QCOMPARE(files.Text(row, kColumnDuration), QString());
      QCOMPARE(files.Text(row, kColumnOutput), QString());
      // The probe's reason is the row's tooltip.
      QVERIFY(!files.data(files.index(row, kColumnProgress), Qt::ToolTipRole).toString().isEmpty());
    }
    QCOMPARE(files.Text(1, kColumnSize), QStringLiteral("176x144"));
  }

  void sameFileTwiceGivesTwoRows() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QString video = app_test::media::ShortAvi();
    QVERIFY(window.AddAndWait({video}));
    QVERIFY(window.AddAndWait({video}));
    QCOMPARE(Column(window->Files(), kColumnVideoFiles), QStringList({video, video}));
    QCOMPARE(Column(window->Files(), kColumnSize), QStringList({"176x144", "176x144"}));
  }

  // " Add Video" shows the open dialog with the filter; the files it gives are added in its order.
  void addVideoTakesTheDialogsFiles() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QStringList chosen{app_test::media::SoundMp3(), app_test::media::ShortAvi()};
    window.Dialogs().FileAnswers.push_back(chosen);
    QSignalSpy finished(&window.Window(), &app::TForm1::IntakeFinished);
    window->ButtonOpenDVDClick();
    QVERIFY(finished.wait(30000));
    QCOMPARE(window.Dialogs().Texts(DialogCall::kChooseFiles), QStringList{app::OpenDialogFilter()});
    QCOMPARE(Column(window->Files(), kColumnVideoFiles), chosen);

    // Cancelled: nothing changes.
    window->ButtonOpenDVDClick();
    QTest::qWait(100);
    QCOMPARE(window->Files().Count(), 2);
    QCOMPARE(window.Dialogs().Texts(DialogCall::kChooseFiles).size(), 2);
  }

  // While an intake runs, " Add Video" shows no dialog and further files wait for the next intake.
  void addVideoDoesNothingWhileFilesAreAdded() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QString first = app_test::media::ShortAvi();
    const QString second = app_test::media::SoundMp3();
    QSignalSpy finished(&window.Window(), &app::TForm1::IntakeFinished);
    window->AddFiles({first});
    QVERIFY(window->IntakeRunning());
    window.Dialogs().FileAnswers.push_back({second});
    window->ButtonOpenDVDClick();
    QVERIFY(window.Dialogs().Calls.empty());
    QVERIFY(finished.wait(30000));
    QCOMPARE(Column(window->Files(), kColumnVideoFiles), QStringList{first});
    window->ButtonOpenDVDClick();
    QVERIFY(finished.wait(30000));
    QCOMPARE(Column(window->Files(), kColumnVideoFiles), QStringList({first, second}));
  }

  void openDialogFilterHasItsTwentyFourEntries() {
    const QStringList parts = app::OpenDialogFilter().split(QLatin1Char('|'));
    // description|patterns| 24 times: 48 parts and the empty one after the last "|".
    QCOMPARE(parts.size(), 49);
    QCOMPARE(parts.last(), QString());
    QCOMPARE(parts[0], QStringLiteral("All Supported Files"));
    QCOMPARE(parts[1],
             QStringLiteral("*.avi;*.mpeg;*.mpg;*.mpa;*.m1v;*.mv2;*.wma;*.wmv;*.asf;*.asx;*.mov; *.qt;"
                            "*.3gp;*.3g2;*.mp3;*.mp2;*.ogg;*.aac;*.mp4;*.m4a;*.rm;*.rmvb;*.ram;*.ra;"
                            "*.vob; *.dat;*.cda;*.dv; *.dif;*.wav; *.au; *.aiff;*.mjpg; *.mjpeg;*.ac3; "
                            "*.gif; *.swf; *.flv; *.mkv"));
    QCOMPARE(parts[18], QStringLiteral("Macromedia Flash Files (*.flv, *.swf)"));
    QCOMPARE(parts[19], QStringLiteral("*.flv; *.swf"));
    QCOMPARE(parts[46], QStringLiteral("Windows Media Files(*.wma, *.wmv, *.asf, *.asx)"));
    QCOMPARE(parts[47], QStringLiteral("*.wma;*.wmv;*.asf;*.asx"));
  }

  // A new intake empties "Progress" and "Frames" of the rows there, and keeps "Time Remaining".
  void addingAfterARunEmptiesProgressAndFrames() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(window.AddAndWait({app_test::media::ShortAvi()}));
    app::FileListModel& files = window->Files();
    files.SetText(0, kColumnTimeRemaining, QStringLiteral("Unknown"));
    files.SetText(0, kColumnProgress, QStringLiteral("Done"));
    files.SetText(0, kColumnFrames, QStringLiteral("25"));
    QVERIFY(window.AddAndWait({app_test::media::SoundMp3()}));
    QCOMPARE(Column(files, kColumnProgress), QStringList({"", ""}));
    QCOMPARE(Column(files, kColumnFrames), QStringList({"", ""}));
    QCOMPARE(Column(files, kColumnTimeRemaining), QStringList({"Unknown", ""}));
  }

  void outputColumnFollowsTheOutputFormat() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(window.AddAndWait({app_test::media::ShortAvi(), app_test::media::SoundMp3()}));
    WindowChoices& choices = window->Choices();
    window->Binding().UserChose(&WindowChoices::ComboOutputFormat,
                                choices.ComboOutputFormat.IndexOf("MKV - Matroska Video (*.mkv)"));
    QCOMPARE(Column(window->Files(), kColumnOutput), QStringList({"MKV", "MKV"}));
    window->Binding().UserChose(&WindowChoices::ComboOutputFormat,
                                choices.ComboOutputFormat.IndexOf("MP3 - Mpeg Layer3 Audio (*.mp3)"));
    QCOMPARE(Column(window->Files(), kColumnOutput), QStringList({"MP3", "MP3"}));
    // A group header is no format: the choice is undone and the column stays.
    window->Binding().UserChose(&WindowChoices::ComboOutputFormat, 0);
    QCOMPARE(app_test::S(choices.ComboOutputFormat.SelectedText()),
             QStringLiteral("MP3 - Mpeg Layer3 Audio (*.mp3)"));
    QCOMPARE(Column(window->Files(), kColumnOutput), QStringList({"MP3", "MP3"}));
    // Rows added now take the format's code too.
    QVERIFY(window.AddAndWait({app_test::media::VideoMp4()}));
    QCOMPARE(Column(window->Files(), kColumnOutput), QStringList({"MP3", "MP3", "MP3"}));
  }

  void listEditing() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    const QString a = app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), QStringLiteral("a.avi"));
    const QString b = app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), QStringLiteral("b.avi"));
    const QString c = app_test::CopyAs(app_test::media::ShortAvi(), folder.Path(), QStringLiteral("c.avi"));
    QVERIFY(window.AddAndWait({a, b, c}));
    app::FileListModel& files = window->Files();

    window.Action("actionUnCheckAll").trigger();
    QCOMPARE(Checks(files), QList<bool>({false, false, false}));
    window.Action("actionCheckAll").trigger();
    QCOMPARE(Checks(files), QList<bool>({true, true, true}));

    // Nothing selected: nothing removed.
    auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    QVERIFY(view != nullptr);
    view->clearSelection();
    window->ButtonRemoveItemClick();
    QCOMPARE(files.Count(), 3);
    view->selectRow(1);
    window.Action("actionRemoveSelected").trigger();
    QCOMPARE(Column(files, kColumnVideoFiles), QStringList({a, c}));
    view->selectRow(0);
    window->ButtonRemoveItemClick();
    QCOMPARE(Column(files, kColumnVideoFiles), QStringList({c}));
    window.Action("actionClearAll").trigger();
    QCOMPARE(files.Count(), 0);
  }

  // What a drop of files and folders adds: files as they are, a folder's files that match the supported
  // patterns (in any case), sorted by name; sub-folders and other files are left out.
  void dropOfFilesAndFolders() {
    TestFolder folder;
    const QString dropped = folder.Folder(QStringLiteral("dropped"));
    for (const char* name : {"b-clip.mp4", "A-clip.AVI", "c-notes.txt", "d-clip.mkv", "e-song.mp3"})
      QFile(dropped + QLatin1Char('/') + QLatin1String(name)).open(QIODevice::WriteOnly);
    folder.Folder(QStringLiteral("dropped/inner.avi"));
    const QString loose = app_test::NotMedia(folder.Path(), QStringLiteral("loose.bin"));
    QCOMPARE(
        app::FileListView::FilesOfDrop({loose, dropped, folder.File(QStringLiteral("gone.avi"))}),
        QStringList({loose, dropped + QStringLiteral("/A-clip.AVI"), dropped + QStringLiteral("/b-clip.mp4"),
                     dropped + QStringLiteral("/d-clip.mkv"), dropped + QStringLiteral("/e-song.mp3")}));

    // Dropped on the list, they are added as " Add Video" adds them.
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    DropOnTheList(window, {QUrl::fromLocalFile(app_test::media::ShortAvi()), QUrl::fromLocalFile(dropped)});
    if (QTest::currentTestFailed()) return;
    QCOMPARE(Column(window->Files(), kColumnVideoFiles),
             QStringList({app_test::media::ShortAvi(), dropped + QStringLiteral("/A-clip.AVI"),
                          dropped + QStringLiteral("/b-clip.mp4"), dropped + QStringLiteral("/d-clip.mkv"),
                          dropped + QStringLiteral("/e-song.mp3")}));
    // Empty files: the probe cannot read them.
    QCOMPARE(Column(window->Files(), kColumnProgress), QStringList({"", "Error", "Error", "Error", "Error"}));
  }

  // Names go between the window's strings and the file system byte for byte, also where they are not UTF-8.
  void localNamesKeepEveryByte_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    // "media" with an e acute, a euro sign and a clapperboard.
    const char* const utf8 =
        "/m\xc3\xa9"
        "dia/\xe2\x82\xac \xf0\x9f\x8e\xac.mp4";
    QTest::newRow("ascii") << QByteArray("/media/clip.avi") << QStringLiteral("/media/clip.avi");
    QTest::newRow("utf-8 of two, three and four bytes") << QByteArray(utf8) << QString::fromUtf8(utf8);
    QTest::newRow("latin-1") << QByteArray("/film/caf\xe9.avi")
                             << QStringLiteral("/film/caf") + QChar(0xDCE9) + QStringLiteral(".avi");
    QTest::newRow("lone bytes") << QByteArray("bad\xff\xfe")
                                << QStringLiteral("bad") + QChar(0xDCFF) + QChar(0xDCFE);
    QTest::newRow("cut short at the end")
        << QByteArray("a\xe2\x82") << QStringLiteral("a") + QChar(0xDCE2) + QChar(0xDC82);
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QString(QChar(0xDCC0)) + QChar(0xDCAF);
    QTest::newRow("encoded surrogate")
        << QByteArray("\xed\xa0\x80") << QString(QChar(0xDCED)) + QChar(0xDCA0) + QChar(0xDC80);
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80")
                                   << QString(QChar(0xDCF4)) + QChar(0xDC90) + QChar(0xDC80) + QChar(0xDC80);
  }
  void localNamesKeepEveryByte() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString held = app::FromLocalName(bytes.toStdString());
    QCOMPARE(held, shown);
    QCOMPARE(QByteArray::fromStdString(app::ToLocalName(held)), bytes);
    // A file:// address (as a drop brings it) names the same bytes.
    const QByteArray absolute = bytes.startsWith('/') ? bytes : QByteArray("/") + bytes;
    const QUrl address = app::LocalUrlOf(app::FromLocalName(absolute.toStdString()));
    QVERIFY(address.isLocalFile());
    QCOMPARE(QByteArray::fromStdString(app::ToLocalName(app::NameOfLocalUrl(address))), absolute);
  }

  // A file whose name is not UTF-8, named on the command line, dropped alone or in its folder, is read
  // like any other and its row converts back to its own bytes.
  void aNameThatIsNotUtf8IsReadLikeAnyOther() {
    TestFolder folder;
    const std::filesystem::path dropped = app_test::ToPath(folder.Folder(QStringLiteral("dropped")));
    const std::filesystem::path clip = dropped / "caf\xe9 \xff.avi";
    std::filesystem::copy_file(app_test::ToPath(app_test::media::ShortAvi()), clip);
    // Qt's own clean-up of the test folder cannot name the file.
    const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)> removal(
        &clip, [](const std::filesystem::path* file) { std::filesystem::remove(*file); });
    const QString held = app_test::ToQString(clip);
    QVERIFY(app::IsLocalFile(held));
    QCOMPARE(app::FileListView::FilesOfDrop({held}), QStringList{held});
    QCOMPARE(app::FileListView::FilesOfDrop({app_test::ToQString(dropped)}), QStringList{held});

    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    DropOnTheList(
        window,
        {QUrl::fromEncoded("file://" + QByteArray::fromStdString(clip.string()).toPercentEncoding("/"))});
    if (QTest::currentTestFailed()) return;
    QCOMPARE(window->Files().Count(), 1);
    QCOMPARE(app_test::ToPath(window->Files().Caption(0)), clip);
    QCOMPARE(window->Files().Text(0, kColumnProgress), QString());
    QCOMPARE(window->Files().Text(0, kColumnDuration), QStringLiteral("00:00:01"));
  }

  // The window's keys: Ctrl+O is " Add Video", Ctrl+Return is " Convert Now".
  void windowKeys() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window.Window()));
    QTest::keyClick(&window.Window(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(window.Dialogs().Texts(DialogCall::kChooseFiles), QStringList{app::OpenDialogFilter()});
    QTest::keyClick(&window.Window(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(window.Dialogs().Messages(), QStringList{"Please Add Files To Convert!"});
    QTest::keyClick(&window.Window(), Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QCOMPARE(window.Dialogs().Messages(),
             QStringList({"Please Add Files To Convert!", "Please Add Files To Convert!"}));
  }

  // The list follows the intake: the row added last is in view, whole.
  void listScrollsToTheRowAddedLast() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QVERIFY(window.AddAndWait(QStringList(40, app_test::media::ShortAvi())));
    auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    // The scroll follows the row once the list has grown: give the event loop its turn.
    QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);
    QTRY_VERIFY(view->viewport()->rect().contains(view->visualRect(window->Files().index(39, 0))));
    const QRect last = view->visualRect(window->Files().index(39, 0));
    QVERIFY2(view->viewport()->rect().contains(last),
             qPrintable(QStringLiteral("row 40 at y %1 to %2 of a list %3 high; scrolled to %4 of %5")
                            .arg(last.top())
                            .arg(last.bottom())
                            .arg(view->viewport()->height())
                            .arg(view->verticalScrollBar()->value())
                            .arg(view->verticalScrollBar()->maximum())));
  }

  // Keys of the list: Space toggles the current row's check box, Delete removes it.
  void listKeys() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(window.AddAndWait({app_test::media::ShortAvi(), app_test::media::SoundMp3()}));
    auto* view = window->findChild<QTableView*>(QStringLiteral("ListView1"));
    view->selectRow(1);
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(Checks(window->Files()), QList<bool>({true, false}));
    QTest::keyClick(view, Qt::Key_Space);
    QCOMPARE(Checks(window->Files()), QList<bool>({true, true}));
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(Column(window->Files(), kColumnVideoFiles), QStringList{app_test::media::ShortAvi()});
  }
};

TARVELLO_APP_TEST_MAIN(IntakeTest)
#include "intake_test.moc"
