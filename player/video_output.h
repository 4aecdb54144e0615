// The picture side of the play thread: the display refresh (which picture is shown when, position reports,
// the end of the media), the aspect fit, the waveform, and the two ways to the screen: an SDL2 renderer on
// the player's own child of the host's X11 window (x11_child_window.h), or fitted BGR24 frames handed to the
// host's PaintFrame.
#pragma once

#include <cstdint>
#include <string>

#include "player/playback.h"
#include "player/x11_child_window.h"

namespace player {

struct TPictureRect {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  friend bool operator==(const TPictureRect&, const TPictureRect&) = default;
};

// The display aspect: the setting when above 0; the surface's own when below 0; else the stream's sample
// aspect (or the codec's; square when neither is set) times the coded width over height.
double DisplayAspect(float setting, int surface_width, int surface_height, AVRational stream_sar,
                     AVRational codec_sar, int coded_width, int coded_height);
// The picture's place on the surface: full height, or full width when that is too wide; even sizes; centred.
TPictureRect FitPicture(int surface_width, int surface_height, double aspect);

// Draws the waveform of the ring from start over the bitmap (black, one white trace per channel, white
// separator lines).
void DrawWaveform(runtime::Bitmap& bitmap, const std::int16_t* ring, int ring_size, int start, int channels);

// Lives on the play thread.
class TVideoOutput {
 public:
  explicit TVideoOutput(TPlayerHost host) : host_(std::move(host)) {}

  // The display refresh: shows the next picture when it is due, reports the position and the end. Returns
  // the milliseconds to the next refresh.
  int Refresh(TPlayback& playback);
  // Draws what is on screen again (expose, redraw, resize).
  void Redraw(TPlayback& playback);
  void Resize(TPlayback& playback, int width, int height);
  // Draws again when the picture window has been exposed.
  void ServeWindow(TPlayback& playback);
  // Releases the SDL objects (on the play thread).
  void Release();
  // Makes the surface (on X11 the SDL window on the host's window, with its renderer) unless it is there.
  bool PrepareSurface(TPlayback& playback);
  // Starts a renderer on a hidden child of the host's window, draws once and lets it go: the first renderer
  // of a process starts the OpenGL driver, which later ones find running.
  void WarmUp(const TPlayerShared& shared);

 private:
  void ReportPosition(TPlayback& playback);
  void ShowPicture(TPlayback& playback);
  void ShowWaveform(TPlayback& playback);
  // An SDL window on the child and a renderer for it (both null on failure, with the reason in error).
  void CreateRenderer(const TPlayerShared& shared, std::string& error);
  void Present(TPlayback& playback, const TPictureRect& rect, bool picture);

  TPlayerHost host_;
  TX11ChildWindow child_;  // before window_: SDL lets go of it first
  SdlWindowPtr window_;
  SdlRendererPtr renderer_;
  SdlTexturePtr texture_;  // IYUV of the picture's size, or BGR24 of the surface size for the waveform
  int texture_width_ = 0;
  int texture_height_ = 0;
  bool texture_is_picture_ = false;
  bool window_failed_ = false;
  runtime::Bitmap surface_;  // the host-painted path's frame
  runtime::ScalerPtr scaler_;
};

}  // namespace player
