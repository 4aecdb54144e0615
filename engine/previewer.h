// The engine's own preview window: a small always-on-top SDL window showing a task's latest output frame with
// its time as the caption. Workers hand it frames; the window itself lives on the main thread, where it is
// created, painted, fed its events and destroyed. SDL is bound when the first window opens.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/bitmap.h"
#include "runtime/log_source.h"

struct SDL_Window;
union SDL_Event;

namespace engine {

class TPreviewer {
 public:
  // The warning about a window that cannot be shown names sender (may be null).
  explicit TPreviewer(const runtime::LogSource* sender = nullptr) : sender_(sender) {}
  // Closes the window (see Close).
  ~TPreviewer();
  TPreviewer(const TPreviewer&) = delete;
  TPreviewer& operator=(const TPreviewer&) = delete;

  // Shows the bitmap, opening the window sized to it on first use, and waits until the main thread has
  // painted it. False once the window has been closed (by the user or by Close), or when it cannot be shown
  // at all (no SDL library, no display, no main thread serving calls: one warning says why), so the caller
  // turns the preview off. An empty bitmap paints nothing. Must not be called while holding a lock that the
  // main thread may wait for (the preview lock among others).
  bool ShowFrame(const runtime::Bitmap& bitmap, int frame_number, std::int64_t time_us);

  // From any thread, any number of times: the window goes away (on the main thread, waited for) and
  // ShowFrame returns false from then on.
  void Close();
  bool Closed() const { return closed_; }

  // SDL's id of the window, 0 while none is open; for SDL's own calls on the main thread.
  std::uint32_t WindowId() const { return window_id_; }

 private:
  // On the main thread.
  bool Paint(const runtime::Bitmap& bitmap, std::int64_t time_us);
  bool Open(const runtime::Bitmap& bitmap);
  void Unavailable(const std::string& reason);
  void TakeOwnEvents();
  void DestroyWindow();
  static int FilterEvent(void* previewer, SDL_Event* event);

  const runtime::LogSource* sender_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> started_{false};  // the main thread has begun painting: there may be a window
  std::atomic<std::uint32_t> window_id_{0};
  // Main thread only.
  SDL_Window* window_ = nullptr;
  bool video_started_ = false;
  int window_width_ = 0;
  int window_height_ = 0;
};

}  // namespace engine
