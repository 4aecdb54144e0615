// The preview step of the video path: at most one preview per interval, the output frame converted to a
// bitmap by a converter kept between frames, and the engine's preview window for tasks that show it there.
//
//   if (frames.Due(now_us, interval_us) && frames.Convert(frame, bitmap))
//     bitmap callback installed ? callback(*bitmap, ...) : keep_showing =
//     frames.Previewer().ShowFrame(*bitmap, ...);
//
// Read the task's preview flags under the preview lock, but call neither the callback, ShowFrame nor
// ClosePreviewer while holding it: they wait for the main thread, which may be waiting for that lock.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/previewer.h"
#include "runtime/bitmap.h"
#include "runtime/log_source.h"
#include "runtime/picture_converter.h"

struct AVFrame;

namespace engine {

class PreviewFrames {
 public:
  // Conversion failures and the window's warning are logged on behalf of sender (may be null).
  explicit PreviewFrames(const runtime::LogSource* sender = nullptr) : sender_(sender) {}

  // True for the first call and whenever more than interval_us has passed since the last due call; a due
  // call starts the next interval at now_us.
  bool Due(std::int64_t now_us, std::int64_t interval_us);

  // Converts the frame (its own format and size) into the bitmap kept here and points bitmap at it; the
  // bitmap stays valid until the next call or Reset. False, with "Cannot initialize the toRGB conversion
  // context" logged, when the frame cannot be converted.
  bool Convert(const AVFrame* frame, runtime::Bitmap*& bitmap);

  // The preview window, made on first use.
  TPreviewer& Previewer();
  bool HasPreviewer() const { return previewer_ != nullptr; }
  // Closes and frees the window, when there is one.
  void ClosePreviewer() { previewer_.reset(); }

  // Frees the window, the bitmap and the converter's buffers; the next preview is due at once.
  void Reset();

 private:
  const runtime::LogSource* sender_;
  runtime::PictureConverter converter_;
  std::unique_ptr<TPreviewer> previewer_;
  bool any_preview_ = false;
  std::int64_t last_preview_us_ = 0;
};

}  // namespace engine
