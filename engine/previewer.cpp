#include "engine/previewer.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "runtime/time_text.h"

namespace engine {
namespace {

// The window whose input an event reports; 0 for events that belong to no window.
std::uint32_t EventWindowId(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT:
      return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      return event.key.windowID;
    case SDL_TEXTEDITING:
      return event.edit.windowID;
    case SDL_TEXTEDITING_EXT:
      return event.editExt.windowID;
    case SDL_TEXTINPUT:
      return event.text.windowID;
    case SDL_MOUSEMOTION:
      return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      return event.button.windowID;
    case SDL_MOUSEWHEEL:
      return event.wheel.windowID;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPBEGIN:
    case SDL_DROPCOMPLETE:
      return event.drop.windowID;
    default:
      return 0;
  }
}

// The window has no frame worth grabbing, so the whole picture moves it.
SDL_HitTestResult DragAnywhere(SDL_Window*, const SDL_Point*, void*) {
  return SDL_HITTEST_DRAGGABLE;
}

// Serialises the windows' main-thread steps. Uncontended on a program's main thread; it matters where no main
// thread is bound and the steps run on the workers themselves, as the loader and SDL's video calls are not
// thread-safe. Held only while SDL works, never while waiting for another thread.
std::mutex& WindowStepMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

TPreviewer::~TPreviewer() {
  Close();
}

bool TPreviewer::ShowFrame(const runtime::Bitmap& bitmap, int /*frame_number*/, std::int64_t time_us) {
  if (closed_) return false;
  bool painted = false;
  bool shown = false;
  runtime::RunOnMainThread([&] {
    const std::lock_guard lock(WindowStepMutex());
    painted = true;
    shown = Paint(bitmap, time_us);
  });
  if (!painted) {
    // The main thread serves no more calls (the program is ending): no window can be shown from now on.
    runtime::Log(sender_, runtime::llWarning,
                 "The preview window cannot be shown: the main thread has stopped");
    closed_ = true;
    return false;
  }
  return shown && !closed_;
}

void TPreviewer::Close() {
  closed_ = true;
  // Paint marks the start before it looks at the closed flag, so either it sees the flag and opens nothing,
  // or this sees the start and destroys what it opened.
  if (!started_) return;
  runtime::RunOnMainThread([this] {
    const std::lock_guard lock(WindowStepMutex());
    DestroyWindow();
  });
}

bool TPreviewer::Paint(const runtime::Bitmap& bitmap, std::int64_t time_us) {
  started_ = true;
  if (closed_) return false;
  if (window_ != nullptr) {
    TakeOwnEvents();
    if (closed_) {
      DestroyWindow();
      return false;
    }
  }
  if (bitmap.Empty()) return true;
  if (window_ == nullptr && !Open(bitmap)) return false;

  const auto& sdl = runtime::sdl();
  if (bitmap.Width() != window_width_ || bitmap.Height() != window_height_) {
    sdl.SDL_SetWindowSize(window_, bitmap.Width(), bitmap.Height());
    window_width_ = bitmap.Width();
    window_height_ = bitmap.Height();
  }
  sdl.SDL_SetWindowTitle(window_, runtime::TimeText(time_us).c_str());
  // The window surface is the window's own pixel store (SDL repaints from it); a window manager may have
  // given the window another size than asked for, so only the common part is copied.
  if (SDL_Surface* surface = sdl.SDL_GetWindowSurface(window_); surface != nullptr) {
    const int width = std::min(bitmap.Width(), surface->w);
    const int height = std::min(bitmap.Height(), surface->h);
    if (sdl.SDL_ConvertPixels(width, height, SDL_PIXELFORMAT_BGR24, bitmap.Pixels(), bitmap.Stride(),
                              surface->format->format, surface->pixels, surface->pitch) == 0) {
      sdl.SDL_UpdateWindowSurface(window_);
    }
  }
  return true;
}

bool TPreviewer::Open(const runtime::Bitmap& bitmap) {
  if (!runtime::FFmpegLoader().LoadLibraries({runtime::lkSDL})) {
    Unavailable(runtime::FFmpegLoader().LastError());
    return false;
  }
  const auto& sdl = runtime::sdl();
  // Interrupts belong to the program, not to SDL's quit event (unless the program chose otherwise).
  sdl.SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
  if (sdl.SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    Unavailable(std::string("no display (") + sdl.SDL_GetError() + ")");
    return false;
  }
  video_started_ = true;
  window_ =
      sdl.SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, bitmap.Width(),
                           bitmap.Height(), SDL_WINDOW_SHOWN | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_UTILITY);
  if (window_ == nullptr) {
    Unavailable(std::string("the window cannot be created (") + sdl.SDL_GetError() + ")");
    return false;
  }
  window_width_ = bitmap.Width();
  window_height_ = bitmap.Height();
  window_id_ = sdl.SDL_GetWindowID(window_);
  // Not every video driver can do this; the window then moves by its frame alone.
  sdl.SDL_SetWindowHitTest(window_, DragAnywhere, nullptr);
  return true;
}

void TPreviewer::Unavailable(const std::string& reason) {
  runtime::Log(sender_, runtime::llWarning, "The preview window cannot be shown: " + reason);
  closed_ = true;
  DestroyWindow();
}

// Takes this window's events out of SDL's queue (noting a close request) and leaves every other event to
// whoever else uses SDL in this process, such as the player.
void TPreviewer::TakeOwnEvents() {
  const auto& sdl = runtime::sdl();
  sdl.SDL_PumpEvents();
  sdl.SDL_FilterEvents(&TPreviewer::FilterEvent, this);
}

int TPreviewer::FilterEvent(void* previewer, SDL_Event* event) {
  auto* self = static_cast<TPreviewer*>(previewer);
  const std::uint32_t window_id = EventWindowId(*event);
  if (window_id == 0 || window_id != self->window_id_) return 1;
  if (event->type == SDL_WINDOWEVENT && event->window.event == SDL_WINDOWEVENT_CLOSE) self->closed_ = true;
  return 0;
}

void TPreviewer::DestroyWindow() {
  const auto& sdl = runtime::sdl();
  if (window_ != nullptr) {
    sdl.SDL_DestroyWindow(window_);
    window_ = nullptr;
    // Destroying reports the window hidden; nobody else wants to hear about it.
    TakeOwnEvents();
    window_id_ = 0;
  }
  if (video_started_) {
    sdl.SDL_QuitSubSystem(SDL_INIT_VIDEO);
    video_started_ = false;
  }
}

}  // namespace engine
