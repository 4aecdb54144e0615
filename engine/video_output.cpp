// The video output path: frame-rate synchronisation, then crop, scale and pad into the encoder's picture, and
// the frames encoded.
#include <algorithm>
#include <cmath>

#include "engine/ffmpeg_exception.h"
#include "engine/picture_geometry.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/scaler.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

std::int64_t RoundHalfEven(double value) {
  return static_cast<std::int64_t>(std::nearbyint(value));
}

// More duplicates than this for one picture is a broken timestamp, not a gap worth filling: 30 hours at
// 30 frames a second, the bound the libraries' own tool uses.
constexpr double kTooManyDuplicates = 3600.0 * 30 * 30;

}  // namespace

int TCustomFFmpeg::FramesToEmit(TOutputStreamState& ost) {
  const TPendingValues& p = pending_;
  const double sync_time = static_cast<double>(ost.SyncPts - p.StartTime) / 1000000.0;
  const double time_base = av_q2d(ost.Encoder->time_base);
  int frames = 1;
  if (p.VideoSyncMethod != 0 && time_base > 0) {
    const double vdelta = sync_time / time_base - static_cast<double>(ost.SyncOpts);
    const bool variable_rate =
        p.VideoSyncMethod == 2 ||
        (p.VideoSyncMethod < 0 &&
         (output_files_[static_cast<std::size_t>(ost.FileIndex)].Format->oformat->flags &
          AVFMT_VARIABLE_FPS) != 0);
    if (vdelta < -1.1) {
      frames = 0;
    } else if (variable_rate) {
      if (vdelta <= -0.6) {
        frames = 0;
      } else if (vdelta > 0.6) {
        ost.SyncOpts = RoundHalfEven(sync_time / time_base);
      }
    } else if (vdelta > kTooManyDuplicates) {
      runtime::Log(this, runtime::llError,
                   runtime::TextFormat("%.0f frame duplication too large, skipping", vdelta - 1));
      frames = 0;
    } else if (vdelta > 1.1) {
      frames = static_cast<int>(RoundHalfEven(vdelta));
    }
    if (frames == 0) {
      ++run_->DroppedFrames;
      run_->DropOrDupChanged = true;
      if (p.Verbosity > 2) runtime::Log(this, runtime::llVerbose, "*** drop!");
    } else if (frames > 1) {
      run_->DuplicatedFrames += frames - 1;
      run_->DropOrDupChanged = true;
      if (p.Verbosity > 2)
        runtime::Log(this, runtime::llVerbose, runtime::TextFormat("*** %d dup!", frames - 1));
    }
  } else if (time_base > 0) {
    ost.SyncOpts = RoundHalfEven(sync_time / time_base);
  }
  // Copies that would start at or after the recording time are not made: a timestamp jump in the input would
  // otherwise fill the output with duplicates far beyond the length asked for, in one go. The picture itself
  // still goes on (the writer drops what starts past the end), so that an encoder's delayed packets come out
  // and the run ends there rather than reading the rest of the input.
  if (frames > 1 && time_base > 0 && p.RecordingTime != INT64_MAX) {
    const std::int64_t end = runtime::avutil().av_rescale_q_rnd(p.RecordingTime, AVRational{1, AV_TIME_BASE},
                                                                ost.Encoder->time_base, AV_ROUND_UP);
    const std::int64_t before_end = std::max<std::int64_t>(end - ost.SyncOpts, 1);
    if (before_end < frames) frames = static_cast<int>(before_end);
  }
  const int limit = p.MaxFrames[flVideo] - ost.FrameNumber;
  return frames < limit ? frames : limit;
}

bool TCustomFFmpeg::FileSizeLimitReached() const {
  if (pending_.LimitFileSize == 0 || output_files_.empty() || output_files_.front().Format == nullptr)
    return false;
  AVIOContext* io = output_files_.front().Format->pb;
  return io != nullptr && runtime::avformat().avio_seek(io, 0, SEEK_CUR) > pending_.LimitFileSize;
}

void TCustomFFmpeg::VideoOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame) {
  const int frames = FramesToEmit(ost);
  if (frames <= 0) return;
  AVCodecContext* encoder = ost.Encoder;
  const bool filtered = ost.Graph != nullptr;

  // A new geometry of the input: the scaler follows it with the crop bands scaled to the new size.
  const int cropped_height = frame->height - ost.TopBand - ost.BottomBand;
  const int cropped_width = frame->width - ost.LeftBand - ost.RightBand;
  if (!filtered && (cropped_height != ost.ResampleHeight || cropped_width != ost.ResampleWidth ||
                    frame->format != ost.ResamplePixFmt)) {
    const char* format_name =
        runtime::avutil().av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
    runtime::Log(this, runtime::llQuiet,
                 runtime::TextFormat("Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex,
                                     ist.StreamIndex, frame->width, frame->height,
                                     format_name != nullptr ? format_name : "none"));
    if (!ost.VideoResample) {
      throw FFmpegException(
          "Assertion failure: the input's picture size changed while no scaler converts it to the output "
          "size");
    }
    if (ost.ConfiguredHeight > 0 && ost.ConfiguredWidth > 0) {
      ost.TopBand = (frame->height * ost.ConfiguredTop / ost.ConfiguredHeight) & ~1;
      ost.BottomBand = (frame->height * ost.ConfiguredBottom / ost.ConfiguredHeight) & ~1;
      ost.LeftBand = (frame->width * ost.ConfiguredLeft / ost.ConfiguredWidth) & ~1;
      ost.RightBand = (frame->width * ost.ConfiguredRight / ost.ConfiguredWidth) & ~1;
    }
    ost.ResampleHeight = frame->height - ost.TopBand - ost.BottomBand;
    ost.ResampleWidth = frame->width - ost.LeftBand - ost.RightBand;
    ost.ResamplePixFmt = frame->format;
    current_scaler_flags_ = ScalerFlagsOption();
    ost.Scaler = runtime::NewScaler(
        ost.ResampleWidth, ost.ResampleHeight, static_cast<AVPixelFormat>(frame->format),
        encoder->width - ost.PadLeft - ost.PadRight, encoder->height - ost.PadTop - ost.PadBottom,
        encoder->pix_fmt, current_scaler_flags_);
    if (ost.Scaler == nullptr) throw FFmpegException("Cannot get resampling context");
  }

  // The cropped source: a view into the decoded picture.
  std::uint8_t* source[4];
  int source_lines[4];
  if (filtered || !ost.VideoCrop) {
    for (int plane = 0; plane < 4; ++plane) {
      source[plane] = frame->data[plane];
      source_lines[plane] = frame->linesize[plane];
    }
  } else if (!OffsetPlanes(frame, ost.TopBand, ost.LeftBand, source, source_lines)) {
    if (pending_.ExitOnError) throw FFmpegException("error cropping picture");
    runtime::Log(this, runtime::llError, "error cropping picture");
    return;
  }

  const AVFrame* picture = frame;
  const bool rebuild = ost.VideoResample || ost.VideoPad || (ost.VideoCrop && !filtered);
  if (rebuild) {
    AVFrame* target = ost.Picture.get();
    // The encoder may still hold the previous picture: write into a buffer of our own.
    if (runtime::avutil().av_frame_make_writable(target) < 0) throw FFmpegException("Video encoding failed");
    std::uint8_t* inner[4];
    int inner_lines[4];
    if (!OffsetPlanes(target, ost.PadTop, ost.PadLeft, inner, inner_lines)) {
      if (pending_.ExitOnError) throw FFmpegException("error padding picture");
      runtime::Log(this, runtime::llError, "error padding picture");
      return;
    }
    if (ost.VideoResample && !filtered) {
      runtime::swscale().sws_scale(ost.Scaler.get(), source, source_lines, 0, ost.ResampleHeight, inner,
                                   inner_lines);
    } else {
      const int width = encoder->width - ost.PadLeft - ost.PadRight;
      const int height = encoder->height - ost.PadTop - ost.PadBottom;
      runtime::avutil().av_image_copy(inner, inner_lines, const_cast<const std::uint8_t**>(source),
                                      source_lines, encoder->pix_fmt, width, height);
    }
    if (ost.VideoPad) {
      PaintPadBorders(target, ost.PadTop, ost.PadBottom, ost.PadLeft, ost.PadRight, pending_.PadColor);
    }
    picture = target;
  }

  AVFrame* out = ost.WorkFrame.get();
  for (int emitted = 0; emitted < frames; ++emitted) {
    // The size limit holds between the duplicates of one picture as it holds between packets.
    if (break_requested_ || (emitted > 0 && FileSizeLimitReached())) break;
    runtime::avutil().av_frame_unref(out);
    if (runtime::avutil().av_frame_ref(out, picture) < 0) throw FFmpegException("Video encoding failed");
    out->interlaced_frame = frame->interlaced_frame;
    const std::int64_t codec_flags =
        generic_options_.Video() != nullptr ? generic_options_.Video()->flags : 0;
    if ((codec_flags & (AV_CODEC_FLAG_INTERLACED_ME | AV_CODEC_FLAG_INTERLACED_DCT)) != 0) {
      out->top_field_first = pending_.TopFieldFirst == -1 ? frame->top_field_first : pending_.TopFieldFirst;
    }
    out->quality = pending_.SameQuality ? frame->quality : encoder->global_quality;
    if (pending_.MeThreshold == 0) out->pict_type = AV_PICTURE_TYPE_NONE;
    out->pts = ost.SyncOpts;
    out->sample_aspect_ratio = encoder->sample_aspect_ratio;
    const int size = EncodeFrame(ost, out);
    if (preview_ || preview_bitmap_) PreviewFrame(ost, out);
    if (pending_.VstatsFileName && size > 0) WriteVstatsLine(ost, size);
    ++ost.SyncOpts;
    ++ost.FrameNumber;
  }
  runtime::avutil().av_frame_unref(out);
}

}  // namespace engine
