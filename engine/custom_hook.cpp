#include "engine/custom_hook.h"

#include <exception>
#include <string>

#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine {

bool CustomHook::Run(AVFrame* frame, int width, int height, const CustomHookHandler& handler) {
  if (frame == nullptr || !handler) return true;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (!converter_.PictureToBitmap(frame->data, frame->linesize, format, width, height)) {
    runtime::Log(sender_, runtime::llError, "Cannot initialize the toRGB conversion context");
    return false;
  }

  bool update = true;
  bool stop = false;
  try {
    handler(converter_.Bitmap(), update, stop);
  } catch (const std::exception& error) {
    runtime::Log(sender_, runtime::llError, std::string("Error occurs OnCustomHook: ") + error.what());
    update = false;
  } catch (...) {
    runtime::Log(sender_, runtime::llError, "Error occurs OnCustomHook: unknown exception");
    update = false;
  }

  if (update) {
    // The decoder may still reference the frame's buffers (as a reference frame, or in its pool).
    if (frame->buf[0] != nullptr && runtime::avutil().av_frame_make_writable(frame) < 0) {
      runtime::Log(sender_, runtime::llError, "Cannot make the frame writable for the custom hook");
    } else if (!converter_.BitmapToPicture(frame->data, frame->linesize, format, width, height)) {
      runtime::Log(sender_, runtime::llError, "Cannot initialize the fromRGB conversion context");
      return false;
    }
  }
  return !stop;
}

}  // namespace engine
