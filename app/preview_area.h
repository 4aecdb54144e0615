// The preview panel's picture area: the default picture while nothing plays, the player's pictures while a
// file plays, and the frames of a running conversion, stretched over the whole area without smoothing (rows
// and columns dropped or doubled). On X11 the player draws into a native child window of its own; elsewhere
// its pictures come in as frames, like the conversion's.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "runtime/bitmap.h"

namespace app {

class PictureSurface;

enum class PreviewKey { PlayPause, Back, Forward, Mute };

class PreviewArea final : public QWidget {
  Q_OBJECT
 public:
  // native_surface: the player draws into a native window (X11).
  explicit PreviewArea(QWidget* parent, bool native_surface);

  // Copies the frame; it is shown until the next frame, ShowPlayerPicture or ShowDefaultPicture.
  void ShowFrame(const runtime::Bitmap& frame);
  void ShowDefaultPicture();
  // The player is about to draw: the native window is shown (black until the first picture), or the area
  // turns black until the first frame comes in.
  void ShowPlayerPicture();
  // The native window's id for the player, 0 without one.
  std::uint64_t PlayerWindow();
  bool ShowsDefaultPicture() const { return mode_ == Mode::DefaultPicture; }
  bool ShowsPlayerSurface() const { return mode_ == Mode::PlayerSurface; }
  const QImage& Frame() const { return frame_; }

 signals:
  // The size the player's pictures are fitted into changed, or its window was uncovered.
  void PictureResized(QSize size);
  void PictureExposed();
  void KeyCommand(PreviewKey key);
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  enum class Mode { DefaultPicture, Frame, PlayerSurface, Black };
  void SetMode(Mode mode);

  Mode mode_ = Mode::DefaultPicture;
  QImage frame_;
  PictureSurface* surface_ = nullptr;  // X11 only
};

}  // namespace app
