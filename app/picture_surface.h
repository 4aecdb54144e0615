// The native window the player draws into on X11. Qt never paints it (no paint engine, no background), so
// nothing of the window's own painting lands over the video; it only reports when it was exposed or
// resized, and the player redraws.
#pragma once

#include <QWidget>

namespace app {

class PictureSurface final : public QWidget {
  Q_OBJECT
 public:
  explicit PictureSurface(QWidget* parent);
  QPaintEngine* paintEngine() const override { return nullptr; }

 signals:
  void Exposed();
  void Resized(QSize size);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace app
