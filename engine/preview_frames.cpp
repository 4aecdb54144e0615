#include "engine/preview_frames.h"

#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine {

bool PreviewFrames::Due(std::int64_t now_us, std::int64_t interval_us) {
  // A clock that went back (a changed system time) starts a new interval rather than pausing previews.
  if (any_preview_ && now_us >= last_preview_us_ && now_us - last_preview_us_ <= interval_us) return false;
  any_preview_ = true;
  last_preview_us_ = now_us;
  return true;
}

bool PreviewFrames::Convert(const AVFrame* frame, runtime::Bitmap*& bitmap) {
  if (frame == nullptr ||
      !converter_.PictureToBitmap(frame->data, frame->linesize, static_cast<AVPixelFormat>(frame->format),
                                  frame->width, frame->height)) {
    runtime::Log(sender_, runtime::llError, "Cannot initialize the toRGB conversion context");
    return false;
  }
  bitmap = &converter_.Bitmap();
  return true;
}

TPreviewer& PreviewFrames::Previewer() {
  if (previewer_ == nullptr) previewer_ = std::make_unique<TPreviewer>(sender_);
  return *previewer_;
}

void PreviewFrames::Reset() {
  previewer_.reset();
  converter_.Reset();
  any_preview_ = false;
  last_preview_us_ = 0;
}

}  // namespace engine
