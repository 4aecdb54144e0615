// The window's compiled-in look: every skin of the Skin menu finds its style sheet, every sheet parses and
// draws without a complaint from Qt, every picture a sheet names exists, every picture renders with Qt's own
// SVG renderer, every file under app/resources is in the resource list, and every skin restyles the parts of
// the window it is meant to.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "app/skins.h"

namespace {

// Collects what Qt warns about while it is installed (style sheet parse errors, pictures QtSvg cannot read).
class WarningCatcher {
 public:
  WarningCatcher() {
    Caught().clear();
    previous_ = qInstallMessageHandler(&WarningCatcher::Handle);
  }
  ~WarningCatcher() { qInstallMessageHandler(previous_); }
  WarningCatcher(const WarningCatcher&) = delete;
  WarningCatcher& operator=(const WarningCatcher&) = delete;

  static QStringList& Caught() {
    static QStringList caught;
    return caught;
  }

 private:
  static void Handle(QtMsgType type, const QMessageLogContext&, const QString& message) {
    // The offscreen platform's own notes on what it cannot do with windows are no fault of a picture.
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) Caught() << message;
  }
  QtMessageHandler previous_ = nullptr;
};

// A window with the controls and object names the main window uses, at the same places.
class SampleWindow : public QMainWindow {
 public:
  SampleWindow() {
    setObjectName(QStringLiteral("TForm1"));
    QMenu* skin_menu = menuBar()->addMenu(QStringLiteral("Skin"));
    skin_menu->addAction(QStringLiteral("No Skin"))->setCheckable(true);
    menuBar()->addMenu(QStringLiteral("About"));
    auto* client = new QWidget(this);
    client->setFixedSize(793, 582);
    setCentralWidget(client);

    tool_bar = new QWidget(client);
    tool_bar->setObjectName(QStringLiteral("ToolBar"));
    tool_bar->setAttribute(Qt::WA_StyledBackground);
    tool_bar->setGeometry(0, 0, 793, 61);
    const char* names[] = {"ButtonOpenDVD", "ButtonRemoveItem", "ButtonClearList", "ButtonStop",
                           "ButtonRipNow"};
    const char* pictures[] = {"add", "remove", "clear", "stop", "convert"};
    const int lefts[] = {43, 188, 332, 478, 623};
    for (int i = 0; i < 5; ++i) {
      auto* button = new QToolButton(tool_bar);
      button->setObjectName(QLatin1String(names[i]));
      button->setText(QLatin1String(names[i]));
      button->setIcon(QIcon(QStringLiteral(":/pictures/%1.svg").arg(QLatin1String(pictures[i]))));
      button->setIconSize(QSize(32, 32));
      button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
      button->setAutoRaise(true);
      button->setGeometry(lefts[i], 2, 125, 56);
    }

    auto* model = new QStandardItemModel(3, 7, this);
    model->setHorizontalHeaderLabels({QStringLiteral("Video Files "), QStringLiteral("Size"),
                                      QStringLiteral("Duration"), QStringLiteral("Output"),
                                      QStringLiteral("Time Remaining"), QStringLiteral("Progress"),
                                      QStringLiteral("Frames")});
    for (int row = 0; row < 3; ++row) {
      auto* item = new QStandardItem(QStringLiteral("/home/user/Videos/clip%1.avi").arg(row));
      item->setCheckable(true);
      item->setCheckState(row == 1 ? Qt::Unchecked : Qt::Checked);
      model->setItem(row, 0, item);
    }
    list = new QTableView(client);
    list->setObjectName(QStringLiteral("ListView1"));
    list->setModel(model);
    list->verticalHeader()->hide();
    list->setGeometry(0, 61, 793, 246);
    list->selectRow(0);

    auto* format_label = new QLabel(QStringLiteral("Choose Output Format :"), client);
    format_label->setObjectName(QStringLiteral("LabelOutputFormat"));
    format_label->setGeometry(6, 315, 136, 16);
    auto* formats = new QComboBox(client);
    formats->setObjectName(QStringLiteral("ComboOutputFormat"));
    formats->addItem(QStringLiteral("3GP - Mobile Video Format (*.3gp)"));
    formats->setGeometry(144, 312, 273, 21);
    auto* folder = new QLineEdit(QStringLiteral("/home/user/Videos"), client);
    folder->setObjectName(QStringLiteral("EditOutputFolder"));
    folder->setReadOnly(true);
    folder->setGeometry(517, 312, 229, 21);

    auto* tabs = new QTabWidget(client);
    tabs->setObjectName(QStringLiteral("PageControl1"));
    tabs->setGeometry(4, 344, 267, 209);
    auto* page = new QWidget;
    auto* quality = new QComboBox(page);
    quality->addItem(QStringLiteral("Normal"));
    quality->setGeometry(110, 17, 140, 21);
    tabs->addTab(page, QStringLiteral("Output  Settings"));
    tabs->addTab(new QWidget, QStringLiteral("Detailed Output Settings"));

    preview = new QFrame(client);
    preview->setObjectName(QStringLiteral("PanelPreview"));
    preview->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    preview->setGeometry(276, 345, 263, 204);
    auto* slider = new QSlider(Qt::Horizontal, preview);
    slider->setObjectName(QStringLiteral("TrackBar1"));
    slider->setGeometry(6, 147, 249, 16);
    auto* play = new QToolButton(preview);
    play->setObjectName(QStringLiteral("SpeedButtonPlay"));
    play->setIcon(QIcon(QStringLiteral(":/pictures/play.svg")));
    play->setGeometry(22, 169, 35, 27);

    auto* preferences = new QGroupBox(QStringLiteral(" Preferences "), client);
    preferences->setObjectName(QStringLiteral("GroupBoxPreferences"));
    preferences->setGeometry(546, 344, 235, 206);
    auto* volume = new QSpinBox(preferences);
    volume->setRange(0, 200);
    volume->setValue(100);
    volume->setGeometry(140, 55, 85, 21);
    auto* check = new QCheckBox(QStringLiteral("Preview video during conversion."), preferences);
    check->setChecked(true);
    check->setGeometry(10, 125, 215, 20);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(21);
    auto* size_panel = new QLabel(QStringLiteral("File Size : 12 MB"), bar);
    size_panel->setObjectName(QStringLiteral("StatusPanelSize"));
    size_panel->setFixedWidth(160);
    auto* progress = new QProgressBar(bar);
    progress->setObjectName(QStringLiteral("ProgressBar1"));
    progress->setValue(40);
    progress->setTextVisible(false);
    progress->setFixedSize(518, 15);
    auto* state_panel = new QLabel(QStringLiteral("Ready"), bar);
    state_panel->setObjectName(QStringLiteral("StatusPanelState"));
    state_panel->setFixedWidth(50);
    bar->addWidget(size_panel);
    bar->addWidget(progress);
    bar->addWidget(state_panel);
  }

  // The window as drawn now, and the rectangle of a child in it.
  QImage Picture() {
    QCoreApplication::processEvents();
    return grab().toImage().convertToFormat(QImage::Format_RGB32);
  }
  QRect PlaceOf(const QWidget* child) const { return QRect(child->mapTo(this, QPoint(0, 0)), child->size()); }

  QWidget* tool_bar = nullptr;
  QTableView* list = nullptr;
  QFrame* preview = nullptr;
};

// The share of pixels inside `area` that differ between two pictures of the same window (pictures of
// different sizes differ wherever one of them has no pixel).
double ChangedShare(const QImage& a, const QImage& b, const QRect& area) {
  if (a.size() != b.size()) return 1.0;
  int changed = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) ++changed;
    }
  }
  return static_cast<double>(changed) / (static_cast<double>(area.width()) * area.height());
}

QStringList SheetPictures(const QString& sheet) {
  QStringList pictures;
  static const QRegularExpression url(QStringLiteral(R"(url\(\s*([^)\s]+)\s*\))"));
  for (const QRegularExpressionMatch& match : url.globalMatch(sheet))
    pictures << match.captured(1);
  return pictures;
}

}  // namespace

class ResourcesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { Q_INIT_RESOURCE(tarvello); }

  void everySkinOfTheMenuHasItsStyleSheet() {
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet == nullptr) continue;
      QVERIFY2(QFileInfo::exists(QLatin1String(skin.StyleSheet)),
               qPrintable(QStringLiteral("%1: %2 is not among the resources")
                              .arg(QLatin1String(skin.MenuText), QLatin1String(skin.StyleSheet))));
      QVERIFY2(!app::StyleSheetOf(skin).trimmed().isEmpty(), skin.StyleSheet);
    }
  }

  void everySheetParsesAndDrawsWithoutWarnings() {
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet == nullptr) continue;
      SampleWindow window;
      window.show();
      WarningCatcher catcher;
      qApp->setStyleSheet(app::StyleSheetOf(skin));
      window.Picture();
      qApp->setStyleSheet(QString());
      QVERIFY2(WarningCatcher::Caught().isEmpty(),
               qPrintable(QLatin1String(skin.StyleSheet) + QStringLiteral(": ") +
                          WarningCatcher::Caught().join(QStringLiteral("; "))));
    }
  }

  void everyPictureASheetNamesIsAValidPicture() {
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet == nullptr) continue;
      for (const QString& picture : SheetPictures(app::StyleSheetOf(skin))) {
        const QString where = QLatin1String(skin.StyleSheet) + QStringLiteral(": ") + picture;
        QVERIFY2(picture.startsWith(QLatin1String(":/pictures/")), qPrintable(where));
        QVERIFY2(QFileInfo::exists(picture),
                 qPrintable(where + QStringLiteral(" is not among the resources")));
        QVERIFY2(QSvgRenderer(picture).isValid(), qPrintable(where + QStringLiteral(" does not load")));
      }
    }
  }

  void everyPictureRendersWithQtsSvgRenderer() {
    QDirIterator pictures(QStringLiteral(":/pictures"), {QStringLiteral("*.svg")}, QDir::Files,
                          QDirIterator::Subdirectories);
    QStringList seen;
    while (pictures.hasNext()) {
      const QString path = pictures.next();
      seen << path;
      WarningCatcher catcher;
      QSvgRenderer renderer(path);
      QVERIFY2(renderer.isValid(), qPrintable(path));
      const QSize size = renderer.defaultSize();
      QVERIFY2(size.width() >= 4 && size.height() >= 4, qPrintable(path));
      QImage image(size, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      renderer.render(&painter);
      painter.end();
      QVERIFY2(WarningCatcher::Caught().isEmpty(),
               qPrintable(path + QStringLiteral(": ") + WarningCatcher::Caught().join(QStringLiteral("; "))));
      bool drawn = false;
      for (int y = 0; y < image.height() && !drawn; ++y) {
        for (int x = 0; x < image.width() && !drawn; ++x)
          drawn = qAlpha(image.pixel(x, y)) > 0;
      }
      QVERIFY2(drawn, qPrintable(path + QStringLiteral(" draws nothing")));
    }
    // The pictures the window and the desktop entry use, at the sizes they are drawn for.
    const QList<std::pair<QString, QSize>> intended = {
        {QStringLiteral(":/pictures/add.svg"), QSize(32, 32)},
        {QStringLiteral(":/pictures/convert.svg"), QSize(32, 32)},
        {QStringLiteral(":/pictures/play.svg"), QSize(20, 20)},
        {QStringLiteral(":/pictures/spkhalf.svg"), QSize(16, 16)},
        {QStringLiteral(":/pictures/default-picture.svg"), QSize(255, 137)},
        {QStringLiteral(":/pictures/tarvello.svg"), QSize(256, 256)}};
    for (const auto& [path, size] : intended) {
      QVERIFY2(seen.contains(path), qPrintable(path));
      QCOMPARE(QSvgRenderer(path).defaultSize(), size);
    }
  }

  void everyFileUnderTheResourceFolderIsInTheResourceList() {
    const QString folder = QStringLiteral(TARVELLO_RESOURCE_DIR);
    for (const QString& kind : {QStringLiteral("skins"), QStringLiteral("pictures")}) {
      QDirIterator files(folder + QLatin1Char('/') + kind, QDir::Files, QDirIterator::Subdirectories);
      while (files.hasNext()) {
        const QString file = files.next();
        const QString resource = QStringLiteral(":/") + file.mid(folder.size() + 1);
        QVERIFY2(QFileInfo::exists(resource),
                 qPrintable(file + QStringLiteral(" is missing from app/resources/tarvello.qrc")));
        QFile source(file);
        QFile compiled(resource);
        QVERIFY(source.open(QIODevice::ReadOnly) && compiled.open(QIODevice::ReadOnly));
        QVERIFY2(source.readAll() == compiled.readAll(), qPrintable(resource));
      }
    }
  }

  // A selector that no longer matches (a renamed control, a typing error) leaves its part in the platform's
  // look or in the window's background. Every skin restyles the file list's header and the status bar, draws
  // the toolbar and the preview panel through their names, and no two skins draw the window alike.
  void everySkinRestylesTheWindowInItsOwnWay() {
    SampleWindow window;
    window.show();
    qApp->setStyleSheet(QString());
    const QImage plain = window.Picture();
    const QRect header = window.PlaceOf(window.list->horizontalHeader());
    const QRect status = window.PlaceOf(window.statusBar());
    // The toolbar's own background shows left of its first button.
    const QRect tool_bar = window.PlaceOf(window.tool_bar).adjusted(0, 0, 40 - 793, 0);
    const QRect preview = window.PlaceOf(window.preview);
    QList<std::pair<QString, QImage>> skinned;
    for (const app::Skin& skin : app::Skins()) {
      if (skin.StyleSheet == nullptr) continue;
      const QString name = QLatin1String(skin.StyleSheet);
      qApp->setStyleSheet(app::StyleSheetOf(skin));
      const QImage picture = window.Picture();
      QVERIFY2(ChangedShare(plain, picture, header) > 0.3, qPrintable(name + QStringLiteral(": the header")));
      QVERIFY2(ChangedShare(plain, picture, status) > 0.3,
               qPrintable(name + QStringLiteral(": the status bar")));
      for (const auto& [other, other_picture] : skinned) {
        QVERIFY2(ChangedShare(other_picture, picture, picture.rect()) > 0.2,
                 qPrintable(name + QStringLiteral(" draws like ") + other));
      }
      skinned.append({name, picture});

      window.tool_bar->setObjectName(QStringLiteral("Unnamed"));
      window.preview->setObjectName(QStringLiteral("Unnamed"));
      qApp->setStyleSheet(app::StyleSheetOf(skin));
      const QImage unnamed = window.Picture();
      window.tool_bar->setObjectName(QStringLiteral("ToolBar"));
      window.preview->setObjectName(QStringLiteral("PanelPreview"));
      QVERIFY2(ChangedShare(unnamed, picture, tool_bar) > 0.3,
               qPrintable(name + QStringLiteral(": #ToolBar")));
      QVERIFY2(ChangedShare(unnamed, picture, preview) > 0.3,
               qPrintable(name + QStringLiteral(": #PanelPreview")));
    }
    qApp->setStyleSheet(QString());
  }
};

QTEST_MAIN(ResourcesTest)
#include "resources_test.moc"
