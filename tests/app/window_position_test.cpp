// Where the window opens: at the stored position when some screen shows its title bar there, else centred
// on the primary screen; taken once, when the window is first shown, so later activations (the About window
// closing) leave the user's own moves alone.
#include <QDialog>
#include <QScreen>
#include <QTimer>

#include "app/window_position.h"
#include "app_test_support.h"

using app_test::TestFolder;
using app_test::TestWindow;

Q_DECLARE_METATYPE(std::vector<QRect>)

namespace {

void StoreWindowPosition(const TestFolder& folder, int left, int top) {
  QSettings store(folder.SettingsFile(), QSettings::IniFormat);
  store.setValue(QStringLiteral("Skin"), QStringLiteral("No Skin"));
  store.setValue(QStringLiteral("Output Folder"), QString());
  store.setValue(QStringLiteral("ComboOutputFormat"), 2);
  store.setValue(QStringLiteral("Overwrite"), 0);
  store.setValue(QStringLiteral("LetterBox"), 1);
  store.setValue(QStringLiteral("VideoQuality"), 2);
  store.setValue(QStringLiteral("AudioQuality"), 2);
  store.setValue(QStringLiteral("Tabsheet"), 1);
  store.setValue(QStringLiteral("FormTop"), top);
  store.setValue(QStringLiteral("FormLeft"), left);
}

}  // namespace

class WindowPositionTest : public QObject {
  Q_OBJECT

 private slots:
  void placeWindow_data() {
    QTest::addColumn<QPoint>("restored");
    QTest::addColumn<std::vector<QRect>>("screens");
    QTest::addColumn<QPoint>("placed");

    const QSize frame(793, 604);
    const std::vector<QRect> one{QRect(0, 0, 1024, 768)};
    // QRect(0, 0, 1024, 768).center() is (511, 383).
    const QPoint centred(511 - frame.width() / 2, 383 - frame.height() / 2);
    const std::vector<QRect> two{QRect(0, 0, 1024, 768), QRect(1024, 0, 1280, 1024)};

    QTest::newRow("inside the screen") << QPoint(150, 5) << one << QPoint(150, 5);
    QTest::newRow("at the origin") << QPoint(0, 0) << one << QPoint(0, 0);
    QTest::newRow("partly off the right edge, title bar reachable")
        << QPoint(900, 100) << one << QPoint(900, 100);
    QTest::newRow("only 50 pixels of title bar on the screen") << QPoint(974, 100) << one << centred;
    QTest::newRow("exactly 100 pixels of title bar") << QPoint(924, 100) << one << QPoint(924, 100);
    QTest::newRow("right of every screen") << QPoint(5000, 100) << one << centred;
    QTest::newRow("below every screen") << QPoint(100, 2000) << one << centred;
    QTest::newRow("far up and left") << QPoint(-5000, -5000) << one << centred;
    QTest::newRow("title bar above the screen") << QPoint(100, -20) << one << centred;
    QTest::newRow("title bar 10 pixels on the screen") << QPoint(100, -14) << one << QPoint(100, -14);
    QTest::newRow("on the second screen") << QPoint(1500, 300) << two << QPoint(1500, 300);
    QTest::newRow("where a screen was unplugged") << QPoint(1500, 300) << one << centred;
    QTest::newRow("centred on the primary screen, not the origin")
        << QPoint(-3000, 0) << std::vector<QRect>{QRect(1920, 0, 1280, 1024), QRect(0, 0, 1920, 1080)}
        << QPoint(1920 + 639 - frame.width() / 2, 511 - frame.height() / 2);
    QTest::newRow("no screens known") << QPoint(5000, 5000) << std::vector<QRect>{} << QPoint(5000, 5000);
  }

  void placeWindow() {
    QFETCH(QPoint, restored);
    QFETCH(std::vector<QRect>, screens);
    QFETCH(QPoint, placed);
    QCOMPARE(app::PlaceWindow(restored, QSize(793, 604), screens), placed);
  }

  void storedPositionOffEveryScreenCentresTheWindow() {
    TestFolder folder;
    StoreWindowPosition(folder, 6000, 4000);
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    QCOMPARE(window->pos(), screen.center() - QPoint(frame.width() / 2, frame.height() / 2));
  }

  // After the user has moved the window, neither another showing nor an activation moves it back, nor does
  // closing the About window.
  void onlyTheFirstShowingMovesTheWindow() {
    TestFolder folder;
    StoreWindowPosition(folder, 40, 30);
    TestWindow window(folder);
    window.Start();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QCOMPARE(window->pos(), QPoint(40, 30));

    window->move(120, 90);
    QCOMPARE(window->pos(), QPoint(120, 90));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&window.Window(), &activate);
    QCOMPARE(window->pos(), QPoint(120, 90));
    window->hide();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(&window.Window()));
    QCOMPARE(window->pos(), QPoint(120, 90));

    // The About window is modal: closed by a timer once it is up.
    bool about_seen = false;
    QTimer closer;
    closer.setInterval(50);
    connect(&closer, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        about_seen = true;
        dialog->accept();
      }
    });
    closer.start();
    window.Action("actionAbout").trigger();
    closer.stop();
    QVERIFY(about_seen);
    QCoreApplication::processEvents();
    QCOMPARE(window->pos(), QPoint(120, 90));
  }
};

TARVELLO_APP_TEST_MAIN(WindowPositionTest)
#include "window_position_test.moc"
