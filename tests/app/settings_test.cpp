// The settings kept between runs: the first run's choices, what one run leaves for the next, "Exit" that
// keeps the store as it was, how each stored value is read, and damaged stores that give the first run's
// choices without bringing the window down.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "app/skins.h"
#include "app_test_support.h"
#include "profiles/output_formats.h"
#include "profiles/parameter_lists.h"

using app_test::S;
using app_test::TestFolder;
using app_test::TestWindow;
using profiles::WindowChoices;

namespace {

const QStringList kAllValues = {
    QStringLiteral("Skin"),         QStringLiteral("Output Folder"), QStringLiteral("ComboOutputFormat"),
    QStringLiteral("Overwrite"),    QStringLiteral("LetterBox"),     QStringLiteral("VideoQuality"),
    QStringLiteral("AudioQuality"), QStringLiteral("Tabsheet"),      QStringLiteral("FormTop"),
    QStringLiteral("FormLeft")};

int RowOf(app::TForm1& window, const char* text) {
  return window.Choices().ComboOutputFormat.IndexOf(text);
}

// A complete, valid store: MKV, "Higher" for both qualities, the skin "Opus (internal)", the folder given.
void WriteValidStore(const TestFolder& folder, const QString& output_folder) {
  QSettings store(folder.SettingsFile(), QSettings::IniFormat);
  store.setValue(QStringLiteral("Skin"), QStringLiteral("Opus (internal)"));
  store.setValue(QStringLiteral("Output Folder"), output_folder);
  store.setValue(QStringLiteral("ComboOutputFormat"), 12);
  store.setValue(QStringLiteral("Overwrite"), 1);
  store.setValue(QStringLiteral("LetterBox"), 0);
  store.setValue(QStringLiteral("VideoQuality"), 1);
  store.setValue(QStringLiteral("AudioQuality"), 1);
  store.setValue(QStringLiteral("Tabsheet"), 1);
  store.setValue(QStringLiteral("FormTop"), 20);
  store.setValue(QStringLiteral("FormLeft"), 30);
}

// The Skin menu entry that is checked, by tag; -1 when none or more than one is.
int CheckedSkinTag(TestWindow& window) {
  int checked = -1;
  for (const app::Skin& skin : app::Skins()) {
    QAction* action = window->Action(QStringLiteral("actionSkin") + QString::number(skin.Tag));
    if (action == nullptr || !action->isChecked()) continue;
    if (checked != -1) return -1;
    checked = skin.Tag;
  }
  return checked;
}

int ShownTab(TestWindow& window) {
  return window->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->currentIndex();
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { qApp->setStyleSheet({}); }

  void firstRunOpensWithTheFirstRunChoicesAndWritesEveryValue() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));

    const WindowChoices& choices = window->Choices();
    QCOMPARE(choices.ComboOutputFormat.Selected, 2);
    QCOMPARE(S(choices.ComboOutputFormat.SelectedText()),
             QStringLiteral("3GP - Mobile Video Format (*.3gp)"));
    QCOMPARE(choices.LastFormatIndex, 2);
    QCOMPARE(S(choices.CurrentFormatCode), QStringLiteral("3GP"));
    QCOMPARE(S(choices.ComboVideoQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(S(choices.ComboAudioQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(S(choices.ComboBoxLetterbox.SelectedText()), QStringLiteral("Add LetterBox"));
    QVERIFY(!choices.Overwrite);
    QVERIFY(choices.OutputFolder.empty());
    QVERIFY(!window->State().SkinsOn);
    QCOMPARE(CheckedSkinTag(window), 50);
    QVERIFY(qApp->styleSheet().isEmpty());
    QCOMPARE(window->State().SavedLeft, 150);
    QCOMPARE(window->State().SavedTop, 5);
    QCOMPARE(window->pos(), QPoint(150, 5));
    QCOMPARE(ShownTab(window), 0);
    // The widgets show the same.
    QCOMPARE(window->findChild<QComboBox*>(QStringLiteral("ComboOutputFormat"))->currentText(),
             QStringLiteral("3GP - Mobile Video Format (*.3gp)"));
    QCOMPARE(window->findChild<QComboBox*>(QStringLiteral("ComboVideoQuality"))->currentText(),
             QStringLiteral("Normal"));
    QVERIFY(!window->findChild<QCheckBox*>(QStringLiteral("CheckBoxOverwrite"))->isChecked());
    QVERIFY(window.Dialogs().Calls.empty());

    QSettings store(folder.SettingsFile(), QSettings::IniFormat);
    for (const QString& key : kAllValues)
      QVERIFY2(store.contains(key), qPrintable(key));
    QCOMPARE(store.value(QStringLiteral("Skin")).toString(), QStringLiteral("No Skin"));
    QCOMPARE(store.value(QStringLiteral("Output Folder")).toString(), QString());
    QCOMPARE(store.value(QStringLiteral("ComboOutputFormat")).toInt(), 2);
    QCOMPARE(store.value(QStringLiteral("Overwrite")).toInt(), 0);
    QCOMPARE(store.value(QStringLiteral("LetterBox")).toInt(), 1);
    QCOMPARE(store.value(QStringLiteral("VideoQuality")).toInt(), 2);
    QCOMPARE(store.value(QStringLiteral("AudioQuality")).toInt(), 2);
    QCOMPARE(store.value(QStringLiteral("Tabsheet")).toInt(), 1);
    bool top_is_number = false;
    bool left_is_number = false;
    store.value(QStringLiteral("FormTop")).toString().toInt(&top_is_number);
    store.value(QStringLiteral("FormLeft")).toString().toInt(&left_is_number);
    QVERIFY(top_is_number && left_is_number);
  }

  // After a first run the quality lists show "Normal"; the first change of output format keeps it.
  void firstFormatChangeAfterAFirstRunKeepsNormalQuality() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    window->Binding().UserChose(&WindowChoices::ComboOutputFormat,
                                RowOf(window.Window(), "MP4 - MPEG4 Video (*.mp4)"));
    QCOMPARE(S(window->Choices().CurrentFormatCode), QStringLiteral("MP4"));
    QCOMPARE(S(window->Choices().ComboVideoQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(S(window->Choices().ComboAudioQuality.SelectedText()), QStringLiteral("Normal"));
  }

  void choicesOfOneRunAreRestoredInTheNext() {
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("converted"));
    int mp4_row = -1;
    {
      TestWindow first(folder);
      first.Start();
      QVERIFY(QTest::qWaitForWindowExposed(&first.Window()));
      mp4_row = RowOf(first.Window(), "MP4 - MPEG4 Video (*.mp4)");
      first->Binding().UserChose(&WindowChoices::ComboOutputFormat, mp4_row);
      first->Binding().UserChose(&WindowChoices::ComboVideoQuality, 0);
      first->Binding().UserChose(&WindowChoices::ComboAudioQuality, 3);
      first->Binding().UserChose(&WindowChoices::ComboBoxLetterbox, 0);
      first->findChild<QCheckBox*>(QStringLiteral("CheckBoxOverwrite"))->click();
      first->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
      first.Action("actionSkin56").trigger();
      // The folder dialog's answer is trimmed.
      first.Dialogs().FolderAnswers.push_back(QStringLiteral("  ") + output + QStringLiteral(" "));
      first->ButtonBrowseForFolderClick();
      first->move(210, 120);
      QVERIFY(first->close());
    }
    QVERIFY(mp4_row > 0);

    QSettings store(folder.SettingsFile(), QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("Skin")).toString(), QStringLiteral("MacOS2 (internal)"));
    QCOMPARE(store.value(QStringLiteral("Output Folder")).toString(), output);
    QCOMPARE(store.value(QStringLiteral("ComboOutputFormat")).toInt(), mp4_row);
    QCOMPARE(store.value(QStringLiteral("Overwrite")).toInt(), 1);
    QCOMPARE(store.value(QStringLiteral("LetterBox")).toInt(), 0);
    QCOMPARE(store.value(QStringLiteral("VideoQuality")).toInt(), 0);
    QCOMPARE(store.value(QStringLiteral("AudioQuality")).toInt(), 3);
    QCOMPARE(store.value(QStringLiteral("Tabsheet")).toInt(), 2);
    QCOMPARE(store.value(QStringLiteral("FormLeft")).toInt(), 210);
    QCOMPARE(store.value(QStringLiteral("FormTop")).toInt(), 120);

    TestWindow second(folder);
    second.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&second.Window()));
    const WindowChoices& choices = second->Choices();
    QCOMPARE(choices.ComboOutputFormat.Selected, mp4_row);
    QCOMPARE(S(choices.CurrentFormatCode), QStringLiteral("MP4"));
    QCOMPARE(S(choices.ComboVideoQuality.SelectedText()), QStringLiteral("Highest"));
    QCOMPARE(S(choices.ComboAudioQuality.SelectedText()), QStringLiteral("Lower"));
    QCOMPARE(S(choices.ComboBoxLetterbox.SelectedText()), QStringLiteral("None"));
    QVERIFY(choices.Overwrite);
    QVERIFY(second->findChild<QCheckBox*>(QStringLiteral("CheckBoxOverwrite"))->isChecked());
    QCOMPARE(app_test::ToQString(choices.OutputFolder), output);
    QCOMPARE(second->findChild<QLineEdit*>(QStringLiteral("EditOutputFolder"))->text(), output);
    QCOMPARE(ShownTab(second), 1);
    QVERIFY(second->State().SkinsOn);
    QCOMPARE(CheckedSkinTag(second), 56);
    QCOMPARE(second->pos(), QPoint(210, 120));
  }

  void exitLeavesTheStoreAsItWas() {
    TestFolder folder;
    WriteValidStore(folder, folder.Path());
    const QByteArray before = folder.SettingsText();
    {
      TestWindow window(folder);
      window.Start();
      QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
      window->Binding().UserChose(&WindowChoices::ComboOutputFormat,
                                  RowOf(window.Window(), "AVI - DivX Video (*.avi)"));
      window.Action("actionSkin57").trigger();
      window->move(300, 200);
      window.Action("actionExit").trigger();
      QVERIFY(!window->isVisible());
    }
    QCOMPARE(folder.SettingsText(), before);

    // Closing instead saves what changed.
    {
      TestWindow window(folder);
      window.Start();
      window.Action("actionSkin57").trigger();
      QVERIFY(window->close());
    }
    QVERIFY(folder.SettingsText() != before);
    QCOMPARE(QSettings(folder.SettingsFile(), QSettings::IniFormat).value(QStringLiteral("Skin")).toString(),
             QStringLiteral("Office2007 Blue (internal)"));
  }

  // Each row changes one value of a valid store (MKV, "Higher", Opus, the first tab, left 30, top 20).
  void storedValueIsReadAsItSays_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("skinTag");
    QTest::addColumn<QString>("formatCode");
    QTest::addColumn<QString>("videoQuality");
    QTest::addColumn<QPoint>("restoredPosition");

    const QString higher = QStringLiteral("Higher");
    const QPoint stored(30, 20);
    QTest::newRow("Tabsheet 1: the first tab") << "Tabsheet"
                                               << "1" << 0 << 52 << "MKV" << higher << stored;
    QTest::newRow("Tabsheet 2: the detailed tab") << "Tabsheet"
                                                  << "2" << 1 << 52 << "MKV" << higher << stored;
    QTest::newRow("Tabsheet 7: the detailed tab") << "Tabsheet"
                                                  << "7" << 1 << 52 << "MKV" << higher << stored;
    QTest::newRow("Tabsheet 0: the detailed tab") << "Tabsheet"
                                                  << "0" << 1 << 52 << "MKV" << higher << stored;
    QTest::newRow("Tabsheet -1: ignored") << "Tabsheet"
                                          << "-1" << 0 << 52 << "MKV" << higher << stored;
    // The saved position keeps its start-up value.
    const QString start_up_quality = QString::fromLatin1(
        profiles::QualityLevels()[static_cast<std::size_t>(WindowChoices{}.SavedVideoQuality)].data());
    QTest::newRow("VideoQuality -1: ignored") << "VideoQuality"
                                              << "-1" << 0 << 52 << "MKV" << start_up_quality << stored;
    QTest::newRow("VideoQuality 4: Lowest") << "VideoQuality"
                                            << "4" << 0 << 52 << "MKV" << QStringLiteral("Lowest") << stored;
    QTest::newRow("Skin of spaces: off") << "Skin"
                                         << "   " << 0 << 50 << "MKV" << higher << stored;
    QTest::newRow("Skin empty: off") << "Skin"
                                     << "" << 0 << 50 << "MKV" << higher << stored;
    QTest::newRow("Skin No Skin: off") << "Skin"
                                       << "No Skin" << 0 << 50 << "MKV" << higher << stored;
    QTest::newRow("Skin DarkGlass") << "Skin"
                                    << "DarkGlass (internal)" << 0 << 55 << "MKV" << higher << stored;
    QTest::newRow("Skin of another program: off")
        << "Skin"
        << "Chrome (internal)" << 0 << 50 << "MKV" << higher << stored;
    QTest::newRow("FormLeft -5: ignored") << "FormLeft"
                                          << "-5" << 0 << 52 << "MKV" << higher << QPoint(0, 20);
    // A header row names no profile: the first run's row, the other values as stored.
    QTest::newRow("ComboOutputFormat on a header row") << "ComboOutputFormat"
                                                       << "0" << 0 << 52 << "3GP" << higher << stored;
    QTest::newRow("ComboOutputFormat -1: the first run's row")
        << "ComboOutputFormat"
        << "-1" << 0 << 52 << "3GP" << higher << stored;
  }

  void storedValueIsReadAsItSays() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, tab);
    QFETCH(int, skinTag);
    QFETCH(QString, formatCode);
    QFETCH(QString, videoQuality);
    QFETCH(QPoint, restoredPosition);

    TestFolder folder;
    WriteValidStore(folder, folder.Path());
    QSettings(folder.SettingsFile(), QSettings::IniFormat).setValue(key, value);

    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    const WindowChoices& choices = window->Choices();
    QCOMPARE(ShownTab(window), tab);
    QCOMPARE(window->State().ActiveTab, tab);
    QCOMPARE(CheckedSkinTag(window), skinTag);
    QCOMPARE(window->State().SkinsOn, skinTag != 50);
    QCOMPARE(qApp->styleSheet().isEmpty(), skinTag == 50);
    QCOMPARE(S(choices.CurrentFormatCode), formatCode);
    QCOMPARE(S(choices.ComboVideoQuality.SelectedText()), videoQuality);
    // Nothing else fell back to the first run.
    QCOMPARE(S(choices.ComboAudioQuality.SelectedText()), QStringLiteral("Higher"));
    QCOMPARE(S(choices.ComboBoxLetterbox.SelectedText()), QStringLiteral("None"));
    QVERIFY(choices.Overwrite);
    QCOMPARE(window->pos(), restoredPosition);
    QVERIFY(window.Dialogs().Calls.empty());
  }

  // Each row damages a valid store (MKV, "Higher", Opus, overwrite on, letterbox "None", left 30, top 20).
  // The values are read in the order Skin, Output Folder, ComboOutputFormat, Overwrite, LetterBox,
  // VideoQuality, AudioQuality, FormTop, FormLeft, Tabsheet; a value that cannot be read ends the reading,
  // and the first run's format, qualities and position are taken. What was read before it stays.
  void damagedStoreGivesTheFirstRunChoices_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");           // "(missing)": the value is removed
    QTest::addColumn<QByteArray>("file");         // not empty: the whole file instead
    QTest::addColumn<bool>("skinAndFolderStay");  // read first, they stay
    QTest::addColumn<bool>("overwriteStays");
    QTest::addColumn<bool>("letterboxStays");

    const QByteArray none;
    QTest::newRow("format row that is no number") << "ComboOutputFormat"
                                                  << "MKV" << none << true << false << false;
    QTest::newRow("format row past the list") << "ComboOutputFormat"
                                              << "65" << none << true << false << false;
    QTest::newRow("format row far past the list") << "ComboOutputFormat"
                                                  << "99999999999" << none << true << false << false;
    QTest::newRow("format row with a fraction") << "ComboOutputFormat"
                                                << "12.5" << none << true << false << false;
    QTest::newRow("format row missing") << "ComboOutputFormat"
                                        << "(missing)" << none << true << false << false;
    QTest::newRow("overwrite of 5") << "Overwrite"
                                    << "5" << none << true << false << false;
    QTest::newRow("overwrite as a word") << "Overwrite"
                                         << "true" << none << true << false << false;
    QTest::newRow("letterbox past its list") << "LetterBox"
                                             << "2" << none << true << true << false;
    QTest::newRow("video quality past its list") << "VideoQuality"
                                                 << "5" << none << true << true << true;
    QTest::newRow("audio quality that is no number") << "AudioQuality"
                                                     << "loud" << none << true << true << true;
    QTest::newRow("top with a fraction") << "FormTop"
                                         << "1.5" << none << true << true << true;
    QTest::newRow("left missing") << "FormLeft"
                                  << "(missing)" << none << true << true << true;
    QTest::newRow("tab as a list") << "Tabsheet"
                                   << "1, 2" << none << true << true << true;
    QByteArray noise;
    for (int at = 0; at < 2000; ++at)
      noise.append(static_cast<char>((at * 131 + 7) % 256));
    QTest::newRow("a file of noise") << ""
                                     << "" << noise << false << false << false;
    QTest::newRow("a file of another program")
        << ""
        << "" << QByteArray("[Window]\nwidth=3\n") << false << false << false;
  }

  void damagedStoreGivesTheFirstRunChoices() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, file);
    QFETCH(bool, skinAndFolderStay);
    QFETCH(bool, overwriteStays);
    QFETCH(bool, letterboxStays);

    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    if (file.isEmpty()) {
      WriteValidStore(folder, output);
      QSettings store(folder.SettingsFile(), QSettings::IniFormat);
      if (value == QLatin1String("(missing)")) {
        store.remove(key);
      } else {
        store.setValue(key, value);
      }
    } else {
      folder.WriteSettingsText(file);
    }

    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    const WindowChoices& choices = window->Choices();
    QCOMPARE(S(choices.ComboOutputFormat.SelectedText()),
             QStringLiteral("3GP - Mobile Video Format (*.3gp)"));
    QCOMPARE(S(choices.CurrentFormatCode), QStringLiteral("3GP"));
    QCOMPARE(S(choices.ComboVideoQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(S(choices.ComboAudioQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(window->State().SavedLeft, 150);
    QCOMPARE(window->State().SavedTop, 5);
    QCOMPARE(window->pos(), QPoint(150, 5));
    QCOMPARE(ShownTab(window), 0);
    QCOMPARE(CheckedSkinTag(window), skinAndFolderStay ? 52 : 50);
    QCOMPARE(app_test::ToQString(choices.OutputFolder), skinAndFolderStay ? output : QString());
    QCOMPARE(choices.Overwrite, overwriteStays);
    QCOMPARE(S(choices.ComboBoxLetterbox.SelectedText()),
             letterboxStays ? QStringLiteral("None") : QStringLiteral("Add LetterBox"));
    QVERIFY(window.Dialogs().Calls.empty());
    // The fallback wrote every value again, readable now.
    if (file.isEmpty()) {
      QSettings store(folder.SettingsFile(), QSettings::IniFormat);
      for (const QString& each : kAllValues)
        QVERIFY2(store.contains(each), qPrintable(each));
      QCOMPARE(store.value(QStringLiteral("ComboOutputFormat")).toInt(), 2);
    }
    QVERIFY(window->close());
  }

  // A value that stands for an object (this program writes none) is unreadable, however it is spelled:
  // Qt's own reader would build it and trust the lengths inside, so that a damaged one asks for gigabytes.
  // Where such a value has a key of its own, the rest of the file is read.
  void objectValuesAreUnreadable_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("skinTag");
    QTest::addColumn<int>("formatRow");
    const QByteArray huge_list = "@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)";
    QTest::newRow("a list of two thousand million values, in a key of its own") << "Extra=" + huge_list + "\n"
                                                                                << 52 << 12;
    QTest::newRow("the letters inside a text") << QByteArray("Extra=/tmp/@Variant(1)\n") << 52 << 12;
    QTest::newRow("a text that begins with @") << QByteArray("Skin=@@Variant(1)\n") << 50 << 12;
    QTest::newRow("an object as the skin") << "Skin=" + huge_list + "\n" << 50 << 12;
    QTest::newRow("a whole number as an object")
        << QByteArray("VideoQuality=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n") << 52 << 2;
    QTest::newRow("quoted") << QByteArray("VideoQuality=\"@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\"\n") << 52
                            << 2;
    QTest::newRow("spelled with an escape")
        << QByteArray("VideoQuality=@\\x56\\x61riant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n") << 52 << 2;
    QTest::newRow("spelled over two lines")
        << QByteArray("VideoQuality=@Var\\\r\niant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n") << 52 << 2;
    QTest::newRow("in a list") << "VideoQuality=1, " + huge_list + "\n" << 52 << 2;
    QTest::newRow("a rectangle") << QByteArray("VideoQuality=@Rect(1 2 3 4)\n") << 52 << 2;
  }
  void objectValuesAreUnreadable() {
    QFETCH(QByteArray, line);
    QFETCH(int, skinTag);
    QFETCH(int, formatRow);
    TestFolder folder;
    const QString output = folder.Folder(QStringLiteral("out"));
    WriteValidStore(folder, output);
    {
      // The store ends in its "[General]" section; a key given twice counts with its last value.
      QFile file(folder.SettingsFile());
      QVERIFY(file.open(QIODevice::Append));
      file.write(line);
    }
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QCOMPARE(CheckedSkinTag(window), skinTag);
    // The folder is read before the values above fail.
    QCOMPARE(app_test::ToQString(window->Choices().OutputFolder), output);
    QCOMPARE(window->Choices().ComboOutputFormat.Selected, formatRow);
    QVERIFY(window->close());
  }

  // The store is a folder: nothing can be read or written, and the window still opens.
  void unreadableStoreGivesTheFirstRunChoices() {
    TestFolder folder;
    QVERIFY(QDir().mkpath(folder.SettingsFile()));
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QCOMPARE(S(window->Choices().CurrentFormatCode), QStringLiteral("3GP"));
    QCOMPARE(S(window->Choices().ComboVideoQuality.SelectedText()), QStringLiteral("Normal"));
    QCOMPARE(window->pos(), QPoint(150, 5));
    QCOMPARE(CheckedSkinTag(window), 50);
    QVERIFY(window->close());
    QVERIFY(QFileInfo(folder.SettingsFile()).isDir());
  }

  void glassyDarkSkinIsStoredByItsNameAndCheckedNextStart() {
    TestFolder folder;
    QString sheet;
    {
      TestWindow first(folder);
      first.Start();
      first.Action("actionSkin55").trigger();
      sheet = qApp->styleSheet();
      QVERIFY(first->close());
    }
    QCOMPARE(QSettings(folder.SettingsFile(), QSettings::IniFormat).value(QStringLiteral("Skin")).toString(),
             QStringLiteral("DarkGlass (internal)"));
    qApp->setStyleSheet({});
    TestWindow second(folder);
    second.Start();
    QCOMPARE(CheckedSkinTag(second), 55);
    QCOMPARE(second->State().SkinName, QStringLiteral("DarkGlass (internal)"));
    QVERIFY(!sheet.isEmpty());
    QCOMPARE(qApp->styleSheet(), sheet);
  }
};

TARVELLO_APP_TEST_MAIN(SettingsTest)
#include "settings_test.moc"
