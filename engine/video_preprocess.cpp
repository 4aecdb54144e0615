// What every decoded picture goes through before the outputs see it: deinterlacing, then the custom hook or
// the frame hook modules.
#include "engine/deinterlace.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine {

AVFrame* TCustomFFmpeg::PreprocessPicture(TInputStreamState& ist, AVFrame* frame) {
  const bool hook = static_cast<bool>(OnTaskHook);
  if (!pending_.Deinterlace && !hook && !pending_.HookModulesLoaded) return frame;

  AVFrame* picture = frame;
  if (pending_.Deinterlace) {
    // The deinterlaced picture goes into a buffer of the task's, reused from picture to picture.
    AVFrame* work = run_->PreprocessedFrame.get();
    const bool fits = work->data[0] != nullptr && work->width == frame->width &&
                      work->height == frame->height && work->format == frame->format;
    if (!fits) {
      runtime::avutil().av_frame_unref(work);
      work->width = frame->width;
      work->height = frame->height;
      work->format = frame->format;
    }
    if ((!fits && runtime::avutil().av_frame_get_buffer(work, 0) < 0) ||
        runtime::avutil().av_frame_make_writable(work) < 0) {
      runtime::Log(this, runtime::llError, "hook buf malloc error.");
      return frame;
    }
    if (DeinterlacePicture(work, frame)) {
      runtime::avutil().av_frame_copy_props(work, frame);
      picture = work;
    } else {
      runtime::Log(this, runtime::llError, "Deinterlacing failed.");
    }
  }

  if (hook) {
    const bool stays =
        custom_hook_.Run(picture, picture->width, picture->height,
                         [this, &ist](runtime::Bitmap& bitmap, bool& update, bool& stop) {
                           OnTaskHook(*this, bitmap, video_frame_counter_, ist.Pts, update, stop);
                         });
    if (!stays) {
      // Neither the custom hook nor the modules run again in this task.
      OnTaskHook = nullptr;
      pending_.HookModulesLoaded = false;
    }
  } else if (pending_.HookModulesLoaded) {
    frame_hooks_.Process(picture, picture->width, picture->height, ist.Pts);
  }
  return picture;
}

}  // namespace engine
