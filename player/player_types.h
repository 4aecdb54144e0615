// The player's public value types: play states, driver choices, the events it raises and what the host gives
// it to show pictures in.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/bitmap.h"

namespace player {

class TCustomPlayer;

enum TPlayState : std::uint8_t { psPlay, psPause, psResume, psStep, psStop, psEnd };

// SDL2's names: "" (SDL's choice), "pulseaudio", "alsa".
enum TAudioDriver : std::uint8_t { adDefault, adDirectSound, adWaveOut };
// SDL2's names: "" (SDL's choice), "x11", "offscreen".
enum TVideoDriver : std::uint8_t { vdDefault, vdDirectDraw, vdGDI };

const char* AudioDriverName(TAudioDriver driver);
const char* VideoDriverName(TVideoDriver driver);

// Microseconds throughout.
using TFileOpenEvent = std::function<void(TCustomPlayer& Sender, std::int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
// Raised on the video decode thread; the handler may draw on the bitmap.
using THookEvent = std::function<void(TCustomPlayer& Sender, runtime::Bitmap& ABitmap, std::int64_t APTS)>;
using TPositionEvent = std::function<void(TCustomPlayer& Sender, std::int64_t APTS)>;
using TPlayStateEvent = std::function<void(TCustomPlayer& Sender, TPlayState AState)>;

// Where the pictures go. On X11 the host gives the native window id of its picture area and the player
// renders into it (SDL_CreateWindowFrom); the host then calls HostResized on every resize. Without an X11
// window (Wayland, offscreen) PaintFrame receives every picture, already fitted into the surface size with
// black bars, on the player's render thread; the host copies it and paints it on its own thread.
struct TPlayerHost {
  std::uint64_t X11Window = 0;  // 0: no X11 window
  int Width = 0;                // the picture area's size, the surface size unless OnFileOpen sets one
  int Height = 0;
  std::function<void(const runtime::Bitmap& AFrame)> PaintFrame;
};

}  // namespace player
