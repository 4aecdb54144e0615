// Start-up: the window is built with its lists filled and its libraries bound before the settings are read,
// and it is shown only after that; media libraries that cannot be bound stop the start.
#include <QComboBox>
#include <QTabWidget>

#include "app_test_support.h"
#include "runtime/library_loader.h"

using app_test::TestFolder;
using app_test::TestWindow;

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  // Runs first: the process binds its libraries once, and a window that binds them can no longer fail.
  void brokenLibraryInTheLibraryFolderStopsTheStart() {
    if (runtime::FFmpegLoader().LibrariesLoaded(runtime::EngineLibraries)) {
      QSKIP("the media libraries are bound in this process already; run this test function on its own");
    }
    TestFolder folder;
    const QString libraries = folder.Folder(QStringLiteral("libraries"));
    // What a broken download leaves behind: a file of the library's name that is no shared object.
    QFile broken(libraries + QStringLiteral("/libavcodec.so.59"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("this is not a shared library\n");
    broken.close();

    TestWindow window(folder, libraries);
    QVERIFY(!window->LibrariesBound());
    const QString reason = QString::fromStdString(window->Vidrel().LastErrorText());
    QVERIFY2(reason.contains(broken.fileName()), qPrintable(reason));
    // What this start loaded is released again.
    QVERIFY(!runtime::FFmpegLoader().LibrariesLoaded(runtime::EngineLibraries));
    // Nothing was read or written, nothing was asked or shown: the program's own message comes next.
    QVERIFY(!QFileInfo::exists(folder.SettingsFile()));
    QVERIFY(window.Dialogs().Calls.empty());
    QVERIFY(!window->isVisible());
  }

  void windowIsBuiltWithItsListsBeforeTheSettingsAreRead() {
    TestFolder folder;
    {
      QSettings stored(folder.SettingsFile(), QSettings::IniFormat);
      stored.setValue(QStringLiteral("Skin"), QStringLiteral("No Skin"));
      stored.setValue(QStringLiteral("Output Folder"), folder.Path());
      stored.setValue(QStringLiteral("ComboOutputFormat"), 12);
      stored.setValue(QStringLiteral("Overwrite"), 1);
      stored.setValue(QStringLiteral("LetterBox"), 0);
      stored.setValue(QStringLiteral("VideoQuality"), 0);
      stored.setValue(QStringLiteral("AudioQuality"), 4);
      stored.setValue(QStringLiteral("Tabsheet"), 2);
      stored.setValue(QStringLiteral("FormTop"), 40);
      stored.setValue(QStringLiteral("FormLeft"), 30);
    }
    const QByteArray stored_text = folder.SettingsText();

    TestWindow window(folder);
    QVERIFY(window->LibrariesBound());
    const profiles::WindowChoices& choices = window->Choices();
    // The lists are filled: 65 output-format rows at their first selection, the letterbox list.
    QCOMPARE(choices.ComboOutputFormat.Count(), 65);
    QCOMPARE(choices.ComboOutputFormat.Selected, profiles::kInitialFormatRow);
    QCOMPARE(app_test::S(choices.ComboBoxLetterbox.SelectedText()), QStringLiteral("Add LetterBox"));
    QCOMPARE(app_test::S(choices.ComboBoxAspectRatio.SelectedText()), QStringLiteral("Auto"));
    auto* format_box = window->findChild<QComboBox*>(QStringLiteral("ComboOutputFormat"));
    QVERIFY(format_box != nullptr);
    QCOMPARE(format_box->count(), 65);
    // Not yet read, not shown, and the store untouched.
    QVERIFY(choices.OutputFolder.empty());
    QVERIFY(!choices.Overwrite);
    QVERIFY(!window->isVisible());
    QCOMPARE(folder.SettingsText(), stored_text);

    window->RestoreSettings();
    QCOMPARE(app_test::S(choices.ComboOutputFormat.SelectedText()),
             QStringLiteral("MKV - Matroska Video (*.mkv)"));
    QCOMPARE(app_test::S(choices.CurrentFormatCode), QStringLiteral("MKV"));
    QCOMPARE(format_box->currentText(), QStringLiteral("MKV - Matroska Video (*.mkv)"));
    QCOMPARE(app_test::S(choices.ComboVideoQuality.SelectedText()), QStringLiteral("Highest"));
    QCOMPARE(app_test::S(choices.ComboAudioQuality.SelectedText()), QStringLiteral("Lowest"));
    QCOMPARE(app_test::S(choices.ComboBoxLetterbox.SelectedText()), QStringLiteral("None"));
    QVERIFY(choices.Overwrite);
    QCOMPARE(app_test::ToQString(choices.OutputFolder), folder.Path());
    QCOMPARE(window->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->currentIndex(), 1);
    QVERIFY(!window->isVisible());

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QCOMPARE(window->pos(), QPoint(30, 40));
    // Reading wrote nothing: the store is written when the window closes.
    QCOMPARE(folder.SettingsText(), stored_text);
  }

  void firstRunWritesTheStoreWhenTheSettingsAreRestored() {
    TestFolder folder;
    TestWindow window(folder);
    QVERIFY(window->LibrariesBound());
    QVERIFY(!QFileInfo::exists(folder.SettingsFile()));
    window->RestoreSettings();
    QVERIFY(QFileInfo::exists(folder.SettingsFile()));
    QVERIFY(window.Dialogs().Calls.empty());
  }
};

TARVELLO_APP_TEST_MAIN(StartupTest)
#include "startup_test.moc"
