// The preview panel's picture area: the default picture while nothing plays, and the frames of a running
// conversion, stretched over the whole area without smoothing (rows and columns dropped or doubled).
#pragma once

#include <QImage>
#include <QWidget>

#include "runtime/bitmap.h"

namespace app {

class PreviewArea final : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewArea(QWidget* parent = nullptr);

  // Copies the frame; it is shown until the next frame or ShowDefaultPicture.
  void ShowFrame(const runtime::Bitmap& frame);
  void ShowDefaultPicture();
  bool ShowsDefaultPicture() const { return frame_.isNull(); }
  const QImage& Frame() const { return frame_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage frame_;
};

}  // namespace app
