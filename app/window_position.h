// Where the main window goes when it is first shown: the restored position when some screen shows the
// window's title bar there, else the centre of the primary screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <vector>

namespace app {

// screens: the available areas of the screens, the primary first. frame: the window's size with its frame.
QPoint PlaceWindow(QPoint restored, QSize frame, const std::vector<QRect>& screens);

}  // namespace app
