#include "app/window_position.h"

namespace app {

QPoint PlaceWindow(QPoint restored, QSize frame, const std::vector<QRect>& screens) {
  if (screens.empty()) return restored;
  // The title bar must be reachable to move the window: a band across its top inside some screen.
  const QRect title_bar(restored, QSize(frame.width(), 24));
  for (const QRect& screen : screens) {
    const QRect shown = screen.intersected(title_bar);
    if (shown.width() >= 100 && shown.height() >= 10) return restored;
  }
  const QRect& primary = screens.front();
  return primary.center() - QPoint(frame.width() / 2, frame.height() / 2);
}

}  // namespace app
