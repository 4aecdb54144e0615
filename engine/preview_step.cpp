// Preview frames: at most one per preview interval, an encoded picture becomes a bitmap for the component's
// OnPreviewBitmap or for the engine's own preview window.
#include "engine/preview_lock.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine {

void TCustomFFmpeg::PreviewFrame(TOutputStreamState& ost, const AVFrame* frame) {
  bool preview;
  bool preview_bitmap;
  {
    // Held only to read the flags: the calls below may wait for the main thread, which takes this lock when
    // the flags change.
    std::lock_guard lock(PreviewLock());
    preview = preview_;
    preview_bitmap = preview_bitmap_;
  }
  if (!preview && preview_frames_.HasPreviewer()) preview_frames_.ClosePreviewer();
  const bool to_handler = preview_bitmap && static_cast<bool>(OnTaskPreviewBitmap);
  if (!to_handler && !preview) return;
  // The monotonic clock: a wall clock set back would hold the previews until it caught up.
  if (!preview_frames_.Due(runtime::avutil().av_gettime_relative(), preview_interval_us_)) return;

  const std::int64_t time =
      frame->pts != AV_NOPTS_VALUE
          ? runtime::avutil().av_rescale_q(frame->pts, ost.Encoder->time_base, {1, 1000000})
          : kNoTime;
  runtime::Bitmap* bitmap = nullptr;
  const bool converted = preview_frames_.Convert(frame, bitmap);
  if (to_handler) {
    if (converted) {
      OnTaskPreviewBitmap(*this, *bitmap, ost.DecodedVideoFrames, time);
    } else {
      SetPreviewFlags(preview, false);
    }
    return;
  }
  if (converted && preview_frames_.Previewer().ShowFrame(*bitmap, ost.DecodedVideoFrames, time)) return;
  // The window was closed, or cannot be shown: no further window for this task.
  SetPreviewFlags(false, preview_bitmap);
  preview_frames_.ClosePreviewer();
}

}  // namespace engine
