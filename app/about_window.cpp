#include "app/about_window.h"

#include <QDesktopServices>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

namespace app {
namespace {

constexpr int kWidth = 359;
constexpr int kHeight = 262;

// A link in blue underlined type with a hand cursor; the colour comes from the label's palette, so a skin's
// style sheet can choose its own where blue would not be readable.
class LinkLabel final : public QLabel {
 public:
  LinkLabel(QWidget* parent, const QString& text, const char* name, void (*open)())
      : QLabel(text, parent), open_(open) {
    setObjectName(QLatin1String(name));
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 238));
    setPalette(blue);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) open_();
    QLabel::mouseReleaseEvent(event);
  }

 private:
  void (*open_)();
};

}  // namespace

void OpenWebsite() {
  QDesktopServices::openUrl(QUrl(QStringLiteral(TARVELLO_WEBSITE_URL)));
}

void OpenSupportMail() {
  QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + QStringLiteral(TARVELLO_SUPPORT_MAIL)));
}

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TFormAbout"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  setFixedSize(kWidth, kHeight);
  setModal(true);

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/pictures/tarvello.svg")).pixmap(64, 64));
  icon->setGeometry(20, 20, 64, 64);

  auto* name = new QLabel(QStringLiteral("Tarvello Video Converter 2.1"), this);
  QFont bold = name->font();
  bold.setBold(true);
  bold.setPointSize(bold.pointSize() + 2);
  name->setFont(bold);
  name->setGeometry(100, 28, 240, 24);

  auto* blurb = new QLabel(
      QStringLiteral("Converts video and sound files for computers, phones, players and discs."), this);
  blurb->setWordWrap(true);
  blurb->setGeometry(100, 56, 240, 36);

  auto* website =
      new LinkLabel(this, QStringLiteral("Visit Tarvello Software Website"), "LabelWebsite", &OpenWebsite);
  website->setGeometry(100, 110, 240, 20);
  auto* mail =
      new LinkLabel(this, QStringLiteral("Email Support Department"), "LabelEmail", &OpenSupportMail);
  mail->setGeometry(100, 136, 240, 20);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(12, 190, kWidth - 24, 2);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ButtonAboutOK"));
  ok->setDefault(true);
  ok->setGeometry(kWidth - 97, 214, 75, 25);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace app
