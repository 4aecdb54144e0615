#include "app/preview_area.h"

#include <QPainter>
#include <QSvgRenderer>
#include <cstring>

namespace app {

PreviewArea::PreviewArea(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("sPanelPlay"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewArea::ShowFrame(const runtime::Bitmap& frame) {
  if (frame.Empty()) return;
  if (frame_.width() != frame.Width() || frame_.height() != frame.Height()) {
    frame_ = QImage(frame.Width(), frame.Height(), QImage::Format_BGR888);
  }
  const std::size_t row_bytes = static_cast<std::size_t>(frame.Width()) * runtime::Bitmap::kBytesPerPixel;
  for (int y = 0; y < frame.Height(); ++y)
    std::memcpy(frame_.scanLine(y), frame.ScanLine(y), row_bytes);
  update();
}

void PreviewArea::ShowDefaultPicture() {
  frame_ = QImage();
  update();
}

void PreviewArea::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!frame_.isNull()) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), frame_);
    return;
  }
  painter.fillRect(rect(), QColor(24, 28, 36));
  QSvgRenderer picture(QStringLiteral(":/pictures/default-picture.svg"));
  if (picture.isValid()) picture.render(&painter, rect());
}

}  // namespace app
