// The custom hook step of the video path: every decoded picture is shown to the caller's handler as a BGR24
// bitmap, and what the handler drew is written back into the picture before it is scaled and encoded.
#pragma once

#include <functional>

#include "runtime/bitmap.h"
#include "runtime/log_source.h"
#include "runtime/picture_converter.h"

struct AVFrame;

namespace engine {

// May draw on the bitmap. update (true on entry): write the bitmap back into the frame; stop (false on
// entry): no more hook calls for this task.
using CustomHookHandler = std::function<void(runtime::Bitmap& bitmap, bool& update, bool& stop)>;

class CustomHook {
 public:
  // Failures are logged on behalf of sender (may be null).
  explicit CustomHook(const runtime::LogSource* sender = nullptr) : sender_(sender) {}

  // Converts the frame (its own pixel format, width x height) to the bitmap, calls the handler and, when it
  // asks for it, writes the bitmap back into the frame, first making a frame with shared buffers writable.
  // An exception from the handler is logged and leaves the frame as it was. Returns whether the hook stays
  // on: false once the handler set stop or a conversion is impossible.
  bool Run(AVFrame* frame, int width, int height, const CustomHookHandler& handler);

  // Frees the bitmap, the buffers and the scaler contexts kept between frames.
  void Reset() { converter_.Reset(); }

 private:
  const runtime::LogSource* sender_;
  runtime::PictureConverter converter_;
};

}  // namespace engine
