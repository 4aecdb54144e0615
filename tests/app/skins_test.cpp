// The Skin menu: each entry checks only itself and puts its own style sheet on the whole program; "No Skin"
// gives the platform's own look back. The sheets parse, find every picture they name, and look different.
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSet>

#include "app/skins.h"
#include "app_test_support.h"

using app_test::TestFolder;
using app_test::TestWindow;

namespace {

// Qt's warnings while a style sheet is applied and used ("Could not parse application stylesheet").
QStringList g_warnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtWarningMsg || type == QtCriticalMsg) g_warnings << message;
}

QStringList CheckedSkinEntries(TestWindow& window) {
  QStringList checked;
  for (const app::Skin& skin : app::Skins()) {
    QAction* action = window->Action(QStringLiteral("actionSkin") + QString::number(skin.Tag));
    if (action != nullptr && action->isChecked()) checked << action->text();
  }
  return checked;
}

QImage Picture(QWidget& window) {
  QCoreApplication::processEvents();
  return window.grab().toImage();
}

}  // namespace

class SkinsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    qApp->setStyleSheet({});
    g_warnings.clear();
  }

  void skinMenuListsTheEntriesInOrder() {
    TestFolder folder;
    TestWindow window(folder);
    auto* menu = window->findChild<QMenu*>(QStringLiteral("MenuSkin"));
    QVERIFY(menu != nullptr);
    QStringList entries;
    for (const QAction* action : menu->actions())
      entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries, QStringList({"No Skin", "-", "Sky Blue Skin", "Pleasant Grey Skin", "Sporting Skin",
                                   "Serrated Skin", "Glassy Dark Skin", "MacOS Skin", "Office Blue Skin"}));
  }

  void entryChecksOnlyItselfAndAppliesItsSkin_data() {
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("storedName");
    QTest::newRow("No Skin") << 50 << "No Skin"
                             << "No Skin";
    QTest::newRow("Sky Blue") << 51 << "Sky Blue Skin"
                              << "Elegance (internal)";
    QTest::newRow("Pleasant Grey") << 52 << "Pleasant Grey Skin"
                                   << "Opus (internal)";
    QTest::newRow("Sporting") << 53 << "Sporting Skin"
                              << "Sporting (internal)";
    QTest::newRow("Serrated") << 54 << "Serrated Skin"
                              << "Acryl (internal)";
    QTest::newRow("Glassy Dark") << 55 << "Glassy Dark Skin"
                                 << "DarkGlass (internal)";
    QTest::newRow("MacOS") << 56 << "MacOS Skin"
                           << "MacOS2 (internal)";
    QTest::newRow("Office Blue") << 57 << "Office Blue Skin"
                                 << "Office2007 Blue (internal)";
  }

  void entryChecksOnlyItselfAndAppliesItsSkin() {
    QFETCH(int, tag);
    QFETCH(QString, entry);
    QFETCH(QString, storedName);
    TestFolder folder;
    {
      TestWindow window(folder);
      window.Start();
      // From another skin, so that the entry has something to undo.
      window.Action(tag == 53 ? "actionSkin55" : "actionSkin53").trigger();
      QAction* action = window->Action(QStringLiteral("actionSkin") + QString::number(tag));
      QVERIFY(action != nullptr);
      QCOMPARE(action->text(), entry);

      qInstallMessageHandler(CollectWarnings);
      action->trigger();
      const QImage shown = Picture(window.Window());
      qInstallMessageHandler(nullptr);

      QCOMPARE(CheckedSkinEntries(window), QStringList{entry});
      QCOMPARE(window->State().SkinsOn, tag != 50);
      QCOMPARE(qApp->styleSheet().isEmpty(), tag == 50);
      QVERIFY(!shown.isNull());
      QVERIFY2(g_warnings.isEmpty(), qPrintable(g_warnings.join(QLatin1Char('\n'))));
      QVERIFY(window->close());
    }
    // What the store keeps for it.
    QCOMPARE(QSettings(folder.SettingsFile(), QSettings::IniFormat).value(QStringLiteral("Skin")).toString(),
             storedName);
  }

  void skinsAreDistinctAndFindTheirPictures() {
    QSet<QString> sheets;
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet == nullptr) continue;
      const QString sheet = app::StyleSheetOf(skin);
      QVERIFY2(!sheet.isEmpty(), skin.Name);
      QVERIFY2(!sheets.contains(sheet), skin.Name);
      sheets.insert(sheet);
      // Every picture a sheet names is compiled in.
      static const QRegularExpression kUrl(QStringLiteral("url\\(\\s*[\"']?([^\"')]+)[\"']?\\s*\\)"));
      for (const QRegularExpressionMatch& match : kUrl.globalMatch(sheet)) {
        const QString picture = match.captured(1).trimmed();
        QVERIFY2(QFile::exists(picture),
                 qPrintable(QString::fromLatin1(skin.Name) + QStringLiteral(": ") + picture));
      }
    }
    QCOMPARE(sheets.size(), 7);
  }

  // No two skins make the window look the same, and none looks like the platform's own style.
  void eachSkinLooksItsOwn() {
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    std::vector<std::pair<QString, QImage>> pictures;
    for (const app::Skin& skin : app::Skins()) {
      window->SkinChosen(skin.Tag);
      pictures.emplace_back(QLatin1String(skin.MenuText), Picture(window.Window()));
    }
    for (std::size_t a = 0; a < pictures.size(); ++a) {
      for (std::size_t b = a + 1; b < pictures.size(); ++b) {
        QVERIFY2(pictures[a].second != pictures[b].second,
                 qPrintable(pictures[a].first + QStringLiteral(" looks like ") + pictures[b].first));
      }
    }
  }

  // Going back to "No Skin" after a skin gives every control the font and colours it had at the start.
  void noSkinAfterASkinLooksAsAtTheStart_data() {
    QTest::addColumn<int>("tag");
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet != nullptr) QTest::newRow(skin.MenuText) << skin.Tag;
    }
  }

  void noSkinAfterASkinLooksAsAtTheStart() {
    QFETCH(int, tag);
    TestFolder folder;
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    const auto look = [&] {
      QStringList looks;
      for (const QWidget* control : window->findChildren<QWidget*>()) {
        // The window's own controls; Qt's inner parts ("qt_...") come and go with a style.
        if (control->objectName().isEmpty() || control->objectName().startsWith(QLatin1String("qt_")))
          continue;
        const QPalette& colours = control->palette();
        looks << control->objectName() + QStringLiteral(": ") + control->font().toString() +
                     QLatin1Char(' ') + colours.color(QPalette::Window).name() + QLatin1Char(' ') +
                     colours.color(QPalette::WindowText).name() + QLatin1Char(' ') +
                     colours.color(QPalette::Base).name() + QLatin1Char(' ') +
                     colours.color(QPalette::Button).name();
      }
      return looks;
    };
    const QStringList start = look();
    window->SkinChosen(tag);
    QCoreApplication::processEvents();
    QVERIFY(look() != start);
    window->SkinChosen(50);
    QCoreApplication::processEvents();
    QCOMPARE(look(), start);
  }
};

TARVELLO_APP_TEST_MAIN(SkinsTest)
#include "skins_test.moc"
