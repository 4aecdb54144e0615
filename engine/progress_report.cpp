// The progress report of a run: what has been produced so far, as figures for the component and as one line
// of text for the log; at the end the final statistics.
#include <array>
#include <atomic>
#include <cmath>

#include "engine/task.h"
#include "engine/transcode_pipeline.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/text_format.h"

namespace engine {

std::array<std::atomic<std::uint32_t>, 52>& QpHistogram() {
  // Shared by every task of the process and never cleared; atomic because tasks run at the same time.
  static std::array<std::atomic<std::uint32_t>, 52> histogram{};
  return histogram;
}

void TCustomFFmpeg::ReportProgress(bool is_last, int file_index) {
  TRunState& run = *run_;
  // While the writer runs on its own thread, the size it last saw.
  const std::int64_t total_size = pipeline_ != nullptr ? pipeline_->WrittenBytes() : OutputSize();
  std::string text;
  int frame_number = -1;
  int fps = -1;
  float quality = -1.0F;
  double minimum_time = 1e10;
  bool video_reported = false;
  for (const TOutputStreamState& ost : run.OutputStreams) {
    const bool video = ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    const float stream_quality = ost.StreamCopy ? -1.0F : static_cast<float>(ost.Quality) / FF_QP2LAMBDA;
    if (video_reported && video) text += runtime::TextFormat("q=%2.1f ", static_cast<double>(stream_quality));
    if (!video_reported && video && ost.Active) {
      const double elapsed = static_cast<double>(runtime::avutil().av_gettime() - run.StartTime) / 1000000.0;
      frame_number = ost.FrameNumber;
      if (frame_number < 1) return;
      fps = elapsed > 1 ? static_cast<int>(frame_number / elapsed + 0.5) : 0;
      quality = stream_quality;
      text +=
          runtime::TextFormat("frame=%5d fps=%3d q=%3.1f ", frame_number, fps, static_cast<double>(quality));
      if (is_last) text += "L";
      if (pending_.QpHistogram) {
        const long qp = std::lrint(quality);
        if (qp >= 0 && qp < static_cast<long>(QpHistogram().size())) {
          QpHistogram()[static_cast<std::size_t>(qp)].fetch_add(1, std::memory_order_relaxed);
        }
        for (std::size_t index = 0; index < 32; ++index) {
          const auto count = QpHistogram()[index].load(std::memory_order_relaxed);
          text += runtime::TextFormat(
              "%X", static_cast<int>(std::lrint(std::log2(static_cast<double>(count) + 1))));
        }
      }
      if ((ost.Encoder->flags & AV_CODEC_FLAG_PSNR) != 0 && !ost.StreamCopy) {
        const double pixels = static_cast<double>(ost.Encoder->width) * ost.Encoder->height * 255.0 * 255.0;
        double error_sum = 0;
        double scale_sum = 0;
        text += "PSNR=";
        for (int plane = 0; plane < 3; ++plane) {
          const double error =
              static_cast<double>(is_last ? ost.Encoder->error[plane]
                                          : static_cast<std::uint64_t>(ost.PictureError[plane].Get()));
          double scale = is_last ? pixels * frame_number : pixels;
          if (plane > 0) scale /= 4;
          error_sum += error;
          scale_sum += scale;
          text += runtime::TextFormat("%c:%2.2f ", "YUV"[plane], -10.0 * std::log10(error / scale));
        }
        text += runtime::TextFormat("*:%2.2f ", -10.0 * std::log10(error_sum / scale_sum));
      }
      video_reported = true;
    }
    if (TellsOutputTime(run, ost) && ost.OutputTime > 0 && ost.OutputTime < minimum_time)
      minimum_time = ost.OutputTime;
  }
  if (minimum_time < 0.01) minimum_time = 0.01;
  const int verbosity = pending_.Verbosity;
  if (OnTaskProgress || verbosity > 0 || is_last) {
    const double bit_rate = static_cast<double>(total_size) * 8 / minimum_time / 1000;
    text += runtime::TextFormat("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s",
                                static_cast<double>(total_size) / 1024, minimum_time, bit_rate);
    if (run.DuplicatedFrames != 0 || run.DroppedFrames != 0) {
      text += runtime::TextFormat(" dup=%d drop=%d", run.DuplicatedFrames.load(), run.DroppedFrames.load());
      if (run.DropOrDupChanged && verbosity >= 0 && OnTaskProgress) {
        run.DropOrDupChanged = false;
        runtime::Log(this, runtime::llVerbose, text);
      }
    }
    if (OnTaskProgress) {
      OnTaskProgress(*this, file_index, frame_number, fps, quality, static_cast<float>(bit_rate), total_size,
                     static_cast<std::int64_t>(minimum_time * 1000000), total_duration_);
    } else if (verbosity >= 0) {
      runtime::Log(this, runtime::llVerbose, text);
    }
  }
  if (is_last && verbosity >= 0) {
    const double payload = static_cast<double>(run.VideoSize + run.AudioSize + run.ExtraSize);
    runtime::Log(this, runtime::llVerbose,
                 runtime::TextFormat(
                     "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                     static_cast<double>(run.VideoSize) / 1024, static_cast<double>(run.AudioSize) / 1024,
                     static_cast<double>(run.ExtraSize) / 1024,
                     payload > 0 ? (static_cast<double>(total_size) - payload) * 100 / payload : 0.0));
  }
}

}  // namespace engine
