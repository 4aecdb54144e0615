#include "app/preview_area.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdlib>
#include <cstring>

#include "app/picture_surface.h"

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#endif

namespace app {

PreviewArea::PreviewArea(QWidget* parent, bool native_surface) : QWidget(parent) {
  setObjectName(QStringLiteral("sPanelPlay"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  // A click on the picture gives it the keyboard, for the preview's keys.
  setFocusPolicy(Qt::ClickFocus);
  if (native_surface) {
    surface_ = new PictureSurface(this);
    surface_->hide();
    connect(surface_, &PictureSurface::Resized, this, &PreviewArea::PictureResized);
    connect(surface_, &PictureSurface::Exposed, this, &PreviewArea::PictureExposed);
  }
}

void PreviewArea::SetMode(Mode mode) {
  mode_ = mode;
  if (surface_ != nullptr) {
    if (mode == Mode::PlayerSurface) surface_->setGeometry(rect());
    surface_->setVisible(mode == Mode::PlayerSurface);
  }
  if (mode != Mode::Frame) frame_ = QImage();
  update();
}

void PreviewArea::ShowFrame(const runtime::Bitmap& frame) {
  if (frame.Empty()) return;
  if (frame_.width() != frame.Width() || frame_.height() != frame.Height()) {
    frame_ = QImage(frame.Width(), frame.Height(), QImage::Format_BGR888);
  }
  const std::size_t row_bytes = static_cast<std::size_t>(frame.Width()) * runtime::Bitmap::kBytesPerPixel;
  for (int y = 0; y < frame.Height(); ++y)
    std::memcpy(frame_.scanLine(y), frame.ScanLine(y), row_bytes);
  if (mode_ != Mode::Frame) {
    mode_ = Mode::Frame;
    if (surface_ != nullptr) surface_->hide();
  }
  update();
}

void PreviewArea::ShowDefaultPicture() {
  SetMode(Mode::DefaultPicture);
}

void PreviewArea::ShowPlayerPicture() {
  SetMode(surface_ != nullptr ? Mode::PlayerSurface : Mode::Black);
}

std::uint64_t PreviewArea::PlayerWindow() {
  if (surface_ == nullptr) return 0;
  const auto window = static_cast<std::uint64_t>(surface_->winId());
#if QT_CONFIG(xcb)
  // The player talks to the X server over a connection of its own: the window, just made or mapped through
  // Qt's connection, must be there before the player's first request names it.
  if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>(); x11 != nullptr) {
    xcb_connection_t* connection = x11->connection();
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  }
#endif
  return window;
}

void PreviewArea::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  switch (mode_) {
    case Mode::Frame:
      painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
      painter.drawImage(rect(), frame_);
      return;
    case Mode::PlayerSurface:  // the native window covers the area
    case Mode::Black:
      painter.fillRect(rect(), Qt::black);
      return;
    case Mode::DefaultPicture:
      break;
  }
  painter.fillRect(rect(), QColor(24, 28, 36));
  QSvgRenderer picture(QStringLiteral(":/pictures/default-picture.svg"));
  if (picture.isValid()) picture.render(&painter, rect());
}

void PreviewArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (surface_ != nullptr) {
    surface_->setGeometry(rect());  // the surface reports its own new size
  } else {
    emit PictureResized(size());
  }
}

void PreviewArea::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      emit KeyCommand(PreviewKey::PlayPause);
      return;
    case Qt::Key_Left:
      emit KeyCommand(PreviewKey::Back);
      return;
    case Qt::Key_Right:
      emit KeyCommand(PreviewKey::Forward);
      return;
    case Qt::Key_M:
      emit KeyCommand(PreviewKey::Mute);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void PreviewArea::mouseDoubleClickEvent(QMouseEvent* event) {
  QWidget::mouseDoubleClickEvent(event);
  emit DoubleClicked();
}

}  // namespace app
