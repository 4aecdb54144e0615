// The player's own X window inside the host's picture area, which SDL renders into.
//
// Why a window of our own rather than SDL on the host's window:
// - X lets one client only select button presses on a window. The host (a Qt native widget) has selected
//   them already; any selection of those by SDL on the host's window would fail with BadAccess, which ends
//   the process under Xlib's default error handler. Our child selects nothing but exposures, so button and
//   key events are not taken on it: X passes them on to the host's window, which gets every click as before.
// - SDL_SetWindowSize on a foreign window sets size hints on it, moves it back to where it was when SDL took
//   it and raises it. Done to the host's widget that would fight the host's layout; done to our child (always
//   at 0,0 of the host) it is harmless.
// - The host's own painting of its window is clipped by the child, so it never overwrites the video, and the
//   child's exposures come to us, so the picture is drawn again at once (also while paused).
// - The host window is checked with a plain request before SDL sees anything: a window id that is no window
//   gives an error reply here instead of an X error inside SDL that ends the process.
// The connection is our own (libxcb); SDL uses its own Xlib connection to draw into the child.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace player {

struct XcbConnectionCloser {
  void operator()(xcb_connection_t* connection) const;
};
using XcbConnectionPtr = std::unique_ptr<xcb_connection_t, XcbConnectionCloser>;

// Lives on the play thread.
class TX11ChildWindow {
 public:
  TX11ChildWindow() = default;
  ~TX11ChildWindow() { Destroy(); }
  TX11ChildWindow(const TX11ChildWindow&) = delete;
  TX11ChildWindow& operator=(const TX11ChildWindow&) = delete;

  // Makes a black child of the host window covering (0, 0, width, height) and shows it (unless show is
  // false). False, with the reason in error, when the display cannot be reached or the host window is no
  // window.
  bool Create(std::uint64_t host_window, int width, int height, std::string& error, bool show = true);
  std::uint64_t Id() const { return window_; }
  // True when some part of the child has been exposed since the last call (it must be drawn again).
  bool TakeExposed();
  void Destroy();

 private:
  XcbConnectionPtr connection_;
  std::uint32_t window_ = 0;
};

}  // namespace player
