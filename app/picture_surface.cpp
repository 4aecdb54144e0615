#include "app/picture_surface.h"

#include <QResizeEvent>

namespace app {

PictureSurface::PictureSurface(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PlayerSurface"));
  setAttribute(Qt::WA_NativeWindow);
  // Only this widget gets a window of its own: native ancestors would take the style sheets' painting away.
  setAttribute(Qt::WA_DontCreateNativeAncestors);
  setAttribute(Qt::WA_PaintOnScreen);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_StaticContents);
  // Clicks go on to the picture area, which takes the focus and the double-click.
  setFocusPolicy(Qt::NoFocus);
}

void PictureSurface::paintEvent(QPaintEvent*) {
  emit Exposed();
}

void PictureSurface::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  emit Resized(event->size());
}

}  // namespace app
