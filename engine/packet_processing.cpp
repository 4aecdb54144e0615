// One input packet on its way: the stream's clock kept, the packet decoded or copied, decoded frames handed
// to the outputs that re-encode them, and at the end of a stream the decoder and its encoders drained.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "engine/ffmpeg_exception.h"
#include "engine/stream_clock.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

constexpr AVRational kMicroseconds{1, 1000000};

// Jumps of one stream's time reported a line each; the rest are handled alike without one.
constexpr int kTimeJumpsLogged = 5;

// Whether `time` lies more than `margin` after `reference` (microseconds). In doubles: the times of a damaged
// file may be anywhere in the 64-bit range, where their difference would overflow.
bool FarAfter(double time, double reference, std::int64_t margin) {
  return time - reference > static_cast<double>(margin);
}

// Seconds from a count of microseconds, or from the difference of two (in doubles, as above).
double Seconds(std::int64_t microseconds, std::int64_t minus = 0) {
  return (static_cast<double>(microseconds) - static_cast<double>(minus)) / 1e6;
}

}  // namespace

std::int64_t TCustomFFmpeg::DiscontinuityThresholdUs() const {
  const auto seconds = static_cast<double>(pending_.DtsDeltaThreshold);
  if (!(seconds > 0)) return 0;
  // A million years is as good as never, and stays far inside the clock's range.
  constexpr double kLongest = 1e6 * 365.25 * 86400;
  return static_cast<std::int64_t>(std::min(seconds, kLongest) * 1e6);
}

void TCustomFFmpeg::LogTimeJump(TInputStreamState& ist, const std::string& what) {
  if (ist.TimeJumpsLogged >= kTimeJumpsLogged) return;
  ++ist.TimeJumpsLogged;
  runtime::Log(this, runtime::llWarning,
               runtime::TextFormat(
                   "Stream #%d.%d of '%s': %s%s", ist.FileIndex, ist.StreamIndex,
                   input_files_[static_cast<std::size_t>(ist.FileIndex)].FileName.c_str(), what.c_str(),
                   ist.TimeJumpsLogged == kTimeJumpsLogged
                       ? "; further jumps of this stream are handled alike without a line each"
                       : ""));
}

std::int64_t TCustomFFmpeg::TimeAcrossJumps(TInputStreamState& ist, std::int64_t time) {
  const TInputFileState& file = run_->InputFiles[static_cast<std::size_t>(ist.FileIndex)];
  const std::int64_t threshold = DiscontinuityThresholdUs();
  // Beyond the end of the file as its container tells it (with the stream's times scaled as its packets'
  // are): no frame of the recording lies there.
  bool beyond_end = false;
  double start = 0;
  double end = 0;
  if (file.KnownEnd != kNoTime) {
    double scale = 1;
    if (const auto found = pending_.InputTsScale.find({ist.FileIndex, ist.StreamIndex});
        found != pending_.InputTsScale.end()) {
      scale = found->second;
    }
    if (scale > 0 && std::isfinite(scale)) {
      start = static_cast<double>(file.KnownStart) * scale;
      end = static_cast<double>(file.KnownEnd) * scale;
      beyond_end = FarAfter(static_cast<double>(time), end, threshold);
    }
  }
  const bool first_frame = ist.NextFrameTime == kNoTime;
  const bool past_end =
      beyond_end &&
      (first_frame || FarAfter(static_cast<double>(time), static_cast<double>(ist.NextFrameTime), threshold));
  // In a format whose times may jump, the main loop keeps the decoding times free of jumps beyond the
  // threshold; a frame that far ahead of them carries a broken presentation time.
  const bool ahead_of_decoding =
      file.DiscontinuousTimes && !pending_.CopyTs && ist.NextPts != kNoTime &&
      FarAfter(static_cast<double>(time), static_cast<double>(ist.NextPts), threshold);
  const bool continues_jump = ist.InTimeJump;
  ist.InTimeJump = false;
  if (!past_end && !ahead_of_decoding) return time;

  // The frame takes the time the stream's clock expected: where its last frame ended, else where its
  // decoding times are, else where the file starts.
  std::int64_t due = ist.NextFrameTime;
  if (first_frame && ahead_of_decoding) {
    due = ist.NextPts;
  } else if (first_frame) {
    if (!(std::fabs(start) < 9e18)) return time;  // no start on the clock to give it
    due = static_cast<std::int64_t>(std::nearbyint(start));
  }
  ist.InTimeJump = true;
  // The frames after the first of a jump (a damaged cluster of a Matroska file) are the same jump.
  if (continues_jump) return due;
  const InputFile& input = input_files_[static_cast<std::size_t>(ist.FileIndex)];
  std::string why = runtime::TextFormat(
      "%.3f s ahead of its decoding times, in a format whose times may jump", Seconds(time, ist.NextPts));
  if (past_end) {
    const AVFormatContext& format = *input.Format;
    const std::int64_t file_start = format.start_time != AV_NOPTS_VALUE ? format.start_time : 0;
    why = runtime::TextFormat("beyond the end of the input (%.3f s)",
                              Seconds(file_start) + Seconds(format.duration));
  }
  const bool video = ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  LogTimeJump(ist,
              runtime::TextFormat("its time jumps from %.3f s to %.3f s (the file's own times), %s. Taken "
                                  "as a discontinuity of damaged or broadcast time stamps, not as a gap "
                                  "to fill: the %s is given the time due",
                                  Seconds(due, input.TsOffset), Seconds(time, input.TsOffset), why.c_str(),
                                  video ? "picture" : "frame"));
  return due;
}

int TCustomFFmpeg::ProcessPacket(TInputStreamState& ist, int ist_index, const AVPacket* packet) {
  if (ist.NextPts == kNoTime) ist.NextPts = ist.Pts;
  if (packet != nullptr) {
    if (packet->dts != AV_NOPTS_VALUE) {
      ist.Pts = ist.NextPts =
          runtime::avutil().av_rescale_q(packet->dts, ist.Stream->time_base, kMicroseconds);
    } else {
      ist.Pts = ist.NextPts;
    }
    for (TOutputStreamState& ost : run_->OutputStreams) {
      if (ost.SourceIndex == ist_index && !ost.EncodingNeeded && ost.Active) CopyPacket(ost, ist, *packet);
    }
    if (!ist.DecodingNeeded) {
      ist.NextPts += NominalDurationUs(ist.Stream, ist.Decoder, packet->duration, 0);
    }
  }

  int result = 0;
  if (ist.DecodingNeeded) {
    if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
      DecodeSubtitle(ist, ist_index, packet, result);
    } else {
      result = DecodePacket(ist, ist_index, packet);
    }
  }

  if (pending_.RateEmulation && packet != nullptr) {
    const std::int64_t now = runtime::avutil().av_gettime() - ist.StartTime;
    if (ist.Pts - now > 1000) std::this_thread::sleep_for(std::chrono::milliseconds((ist.Pts - now) / 1000));
  }

  if (packet == nullptr) {
    for (TOutputStreamState& ost : run_->OutputStreams) {
      if (ost.SourceIndex == ist_index && ost.EncodingNeeded) HandEndOfStream(ost, ist);
    }
  }
  return result;
}

void TCustomFFmpeg::FinishOutput(TOutputStreamState& ost, TInputStreamState& ist) {
  if (ost.Graph != nullptr) {
    // The graph may hold pictures back (a deinterlacer in the chain); they come out at its end.
    if (!ost.Graph->AddEndOfStream())
      throw FFmpegException("Error while filtering: " + ost.Graph->ErrorText());
    OutputFilteredPictures(ost, ist);
  }
  DrainEncoder(ost);
}

int TCustomFFmpeg::DecodePacket(TInputStreamState& ist, int ist_index, const AVPacket* packet) {
  AVCodecContext* decoder = ist.Decoder;
  AVFrame* frame = run_->DecodedFrame.get();
  // Receives every frame the decoder has ready; false on a decoding error.
  const auto receive_all = [&]() {
    for (;;) {
      const int received = runtime::avcodec().avcodec_receive_frame(decoder, frame);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
      if (received < 0) return false;
      DeliverFrame(ist, ist_index, frame);
      runtime::avutil().av_frame_unref(frame);
    }
  };
  for (;;) {
    const int sent = runtime::avcodec().avcodec_send_packet(decoder, packet);
    if (sent == AVERROR(EAGAIN)) {
      // The decoder holds frames it wants taken first; then the packet goes in.
      if (!receive_all()) return -1;
      continue;
    }
    // At the end, a decoder that was drained already answers end-of-file: nothing is lost.
    if (sent < 0 && sent != AVERROR_EOF) return -1;
    break;
  }
  return receive_all() ? 0 : -1;
}

void TCustomFFmpeg::DeliverFrame(TInputStreamState& ist, int ist_index, AVFrame* frame) {
  const std::int64_t timestamp = frame->best_effort_timestamp;
  // The decoder's time stamps come from the packets, which carry the file's offset already.
  const std::int64_t time = timestamp != AV_NOPTS_VALUE ? runtime::avutil().av_rescale_q(
                                                              timestamp, ist.Stream->time_base, kMicroseconds)
                                                        : ist.NextPts;
  ist.Pts = TimeAcrossJumps(ist, time);
  if (ist.Pts != time) {
    // A filter graph reads the frame's own time.
    frame->pts = frame->best_effort_timestamp =
        runtime::avutil().av_rescale_q(ist.Pts, kMicroseconds, ist.Stream->time_base);
  }
  ist.NextPts = ist.Pts + NominalDurationUs(ist.Stream, ist.Decoder, frame->pkt_duration, frame->nb_samples);
  ist.NextFrameTime = ist.NextPts;
  ++ist.DecodedFrames;
  const AVMediaType kind = ist.Stream->codecpar->codec_type;
  if (kind == AVMEDIA_TYPE_VIDEO) {
    ++video_frame_counter_;
    frame = PreprocessPicture(ist, frame);
  }
  const std::int64_t start = pending_.StartTime;
  if (start != 0 && ist.Pts < start) return;
  for (TOutputStreamState& ost : run_->OutputStreams) {
    if (ost.SourceIndex == ist_index && ost.EncodingNeeded && ost.Active) HandFrame(ost, ist, frame);
  }
}

void TCustomFFmpeg::ConsumeFrame(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame,
                                 std::int64_t sync_pts, int decoded_video_frames) {
  ost.SyncPts = sync_pts;
  ost.DecodedVideoFrames = decoded_video_frames;
  switch (ost.Encoder->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      if (ost.Graph != nullptr) {
        if (!ost.Graph->Add(frame)) throw FFmpegException("Error while filtering: " + ost.Graph->ErrorText());
        OutputFilteredPictures(ost, ist);
      } else {
        VideoOutput(ost, ist, frame);
      }
      break;
    case AVMEDIA_TYPE_AUDIO:
      AudioOutput(ost, ist, frame);
      break;
    default:
      throw FFmpegException("invalid codec_type");
  }
}

void TCustomFFmpeg::OutputFilteredPictures(TOutputStreamState& ost, TInputStreamState& ist) {
  AVFrame* filtered = ost.FilteredFrame.get();
  for (;;) {
    const int fetched = ost.Graph->Fetch(filtered);
    if (fetched == -2) throw FFmpegException("Error while filtering: " + ost.Graph->ErrorText());
    if (fetched != 1) return;
    if (filtered->pts != AV_NOPTS_VALUE) {
      ist.Pts = runtime::avutil().av_rescale_q(filtered->pts, ost.Graph->OutputTimeBase(), kMicroseconds);
    }
    // The clock as the picture leaves the graph (a run with a graph keeps its stages on one thread).
    ost.SyncPts = run_->InputStreams[static_cast<std::size_t>(ost.SyncInput)].Pts;
    if (filtered->sample_aspect_ratio.num != 0)
      ost.Encoder->sample_aspect_ratio = filtered->sample_aspect_ratio;
    VideoOutput(ost, ist, filtered);
    runtime::avutil().av_frame_unref(filtered);
  }
}

void TCustomFFmpeg::DecodeSubtitle(TInputStreamState& ist, int ist_index, const AVPacket* packet,
                                   int& result) {
  // Subtitle decoders keep the old one-packet-one-subtitle call; an empty packet asks a delaying decoder for
  // what it still holds.
  AVPacket* empty = nullptr;
  if (packet == nullptr) {
    empty = run_->OutPacket.get();
    runtime::avcodec().av_packet_unref(empty);
  }
  const AVPacket* input = packet != nullptr ? packet : empty;
  AVSubtitle subtitle{};
  int got = 0;
  const int decoded =
      runtime::avcodec().avcodec_decode_subtitle2(ist.Decoder, &subtitle, &got, const_cast<AVPacket*>(input));
  if (decoded < 0) {
    if (packet == nullptr) return;
    // One unreadable subtitle costs that subtitle, not the conversion (unless every error is to end it).
    runtime::Log(this, runtime::llWarning,
                 runtime::DescribeLibraryError(
                     runtime::TextFormat("Decoding a subtitle of stream #%d.%d (left out) of", ist.FileIndex,
                                         ist.StreamIndex),
                     input_files_[static_cast<std::size_t>(ist.FileIndex)].FileName, decoded));
    if (pending_.ExitOnError) result = -1;
    return;
  }
  if (got == 0) return;
  struct FreeSubtitle {
    AVSubtitle& subtitle;
    ~FreeSubtitle() { runtime::avcodec().avsubtitle_free(&subtitle); }
  } free_subtitle{subtitle};
  const std::int64_t start = pending_.StartTime;
  if (start != 0 && ist.Pts < start) return;
  const std::int64_t pts = packet != nullptr ? packet->pts : AV_NOPTS_VALUE;
  for (TOutputStreamState& ost : run_->OutputStreams) {
    if (ost.SourceIndex == ist_index && ost.EncodingNeeded && ost.Active)
      SubtitleOutput(ost, ist, subtitle, pts);
  }
}

void TCustomFFmpeg::SubtitleOutput(TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle& subtitle,
                                   std::int64_t pts) {
  if (pts == AV_NOPTS_VALUE) {
    if (pending_.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    runtime::Log(this, runtime::llError, "Subtitle packets must have a pts");
    return;
  }
  if (subtitle_buffer_.empty()) subtitle_buffer_.resize(1024 * 1024);
  const bool dvb = ost.Encoder->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int count = dvb ? 2 : 1;
  const unsigned rectangles = subtitle.num_rects;
  for (int i = 0; i < count; ++i) {
    subtitle.pts = runtime::avutil().av_rescale_q(pts, ist.Stream->time_base, kMicroseconds) +
                   std::int64_t{subtitle.start_display_time} * 1000;
    subtitle.end_display_time -= subtitle.start_display_time;
    subtitle.start_display_time = 0;
    // The second DVB packet clears the page: it carries no regions.
    if (i == 1) subtitle.num_rects = 0;
    const int size = runtime::avcodec().avcodec_encode_subtitle(
        ost.Encoder, subtitle_buffer_.data(), static_cast<int>(subtitle_buffer_.size()), &subtitle);
    subtitle.num_rects = rectangles;
    if (size < 0) {
      if (pending_.ExitOnError) throw FFmpegException("Subtitle encoding failed");
      runtime::Log(this, runtime::llWarning,
                   runtime::DescribeLibraryError(
                       runtime::TextFormat("Encoding a subtitle of stream #%d.%d (left out) for",
                                           ost.FileIndex, ost.StreamIndex),
                       output_files_[static_cast<std::size_t>(ost.FileIndex)].FileName, size));
      return;
    }
    AVPacket* out = run_->OutPacket.get();
    runtime::avcodec().av_packet_unref(out);
    if (runtime::avcodec().av_new_packet(out, size) < 0) throw FFmpegException("Subtitle encoding failed");
    std::copy_n(subtitle_buffer_.data(), size, out->data);
    out->stream_index = ost.StreamIndex;
    out->pts = runtime::avutil().av_rescale_q(subtitle.pts, kMicroseconds, ost.Stream->time_base);
    if (dvb) {
      const std::int64_t display = i == 0 ? subtitle.start_display_time : subtitle.end_display_time;
      out->pts += runtime::avutil().av_rescale_q(display, AVRational{1, 1000}, ost.Stream->time_base);
    }
    out->dts = out->pts;
    // The display length travels with the packet: containers store it, and it is all that ends a subtitle.
    const std::uint32_t shown = subtitle.end_display_time;
    if (i == 0 && shown > 0 && shown != UINT32_MAX) {
      out->duration = runtime::avutil().av_rescale_q(shown, AVRational{1, 1000}, ost.Stream->time_base);
    }
    HandPacket(ost, out, ost.Stream->time_base);
  }
}

void TCustomFFmpeg::CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket& packet) {
  const AVRational out_base = ost.Stream->time_base;
  const AVRational in_base = ist.Stream->time_base;
  const std::int64_t output_start =
      runtime::avutil().av_rescale_q(pending_.StartTime, kMicroseconds, out_base);
  if (ost.FrameNumber == 0) {
    // A copy begins with the first packet shown at or after the start, judged by its presentation time: the
    // decoding time of a key frame comes before it when pictures are reordered, and audio read from a seek
    // point may begin a little early.
    const std::int64_t shown = packet.pts != AV_NOPTS_VALUE
                                   ? runtime::avutil().av_rescale_q(packet.pts, in_base, kMicroseconds)
                                   : ist.Pts;
    const bool start_asked =
        pending_.StartTime != 0 || input_files_[static_cast<std::size_t>(ist.FileIndex)].Seeked;
    if (start_asked && shown < pending_.StartTime) return;
    if ((packet.flags & AV_PKT_FLAG_KEY) == 0 && pending_.CopyInitialNonKeyframes == 0) return;
  }

  AVPacket* out = run_->OutPacket.get();
  runtime::avcodec().av_packet_unref(out);
  if (runtime::avcodec().av_packet_ref(out, &packet) < 0) throw FFmpegException("av_packet_ref failed");
  out->stream_index = ost.StreamIndex;
  out->pts = packet.pts != AV_NOPTS_VALUE
                 ? runtime::avutil().av_rescale_q(packet.pts, in_base, out_base) - output_start
                 : AV_NOPTS_VALUE;
  out->dts =
      (packet.dts != AV_NOPTS_VALUE ? runtime::avutil().av_rescale_q(packet.dts, in_base, out_base)
                                    : runtime::avutil().av_rescale_q(ist.Pts, kMicroseconds, out_base)) -
      output_start;
  out->duration = runtime::avutil().av_rescale_q(packet.duration, in_base, out_base);
  // A subtitle shown until the next one carries the largest 32-bit millisecond count as its duration: that
  // is no length, and containers that store lengths refuse it.
  if (ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE &&
      runtime::avutil().av_rescale_q(packet.duration, in_base, AVRational{1, 1000}) >= UINT32_MAX) {
    out->duration = 0;
  }

  // A packet that starts at or after the recording time ends this stream: the output is exactly as long as
  // asked, whatever the input's interleaving.
  const std::int64_t begins = out->pts != AV_NOPTS_VALUE ? out->pts : out->dts;
  if (static_cast<double>(begins) * av_q2d(out_base) >= pending_.RecordingTimeSeconds) {
    ost.OutputTime = std::max(ost.OutputTime.Get(), pending_.RecordingTimeSeconds);
    runtime::avcodec().av_packet_unref(out);
    return;
  }
  if (ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
    run_->AudioSize += packet.size;
  } else if (ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    run_->VideoSize += packet.size;
    ++ost.SyncOpts;
  }
  HandPacket(ost, out, out_base);
  ++ost.FrameNumber;
}

void TCustomFFmpeg::DrainEncoder(TOutputStreamState& ost) {
  const AVMediaType kind = ost.Encoder->codec_type;
  if (kind == AVMEDIA_TYPE_AUDIO) FlushAudioOutput(ost);
  if (ost.ExternalAmrNb) return;  // it holds nothing back
  if (kind == AVMEDIA_TYPE_VIDEO || kind == AVMEDIA_TYPE_AUDIO) EncodeFrame(ost, nullptr);
}

int TCustomFFmpeg::EncodeFrame(TOutputStreamState& ost, const AVFrame* frame) {
  int written = 0;
  AVCodecContext* encoder = ost.Encoder;
  const bool video = encoder->codec_type == AVMEDIA_TYPE_VIDEO;
  const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
  const auto fail = [&](int code) {
    runtime::Log(this, runtime::llError,
                 runtime::DescribeLibraryError(
                     "Encoding for", output_files_[static_cast<std::size_t>(ost.FileIndex)].FileName, code));
    throw FFmpegException(failure);
  };
  AVPacket* out = ost.OutPacket.get();
  const auto receive_all = [&]() {
    for (;;) {
      runtime::avcodec().av_packet_unref(out);
      const int received = runtime::avcodec().avcodec_receive_packet(encoder, out);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return;
      if (received < 0) fail(received);
      if (video) {
        run_->VideoSize += out->size;
        ReadQualityStats(ost, out);
        if (ost.PassLog != nullptr && encoder->stats_out != nullptr)
          std::fputs(encoder->stats_out, ost.PassLog.get());
      } else {
        run_->AudioSize += out->size;
      }
      written += out->size;
      out->stream_index = ost.StreamIndex;
      HandPacket(ost, out, encoder->time_base);
    }
  };
  for (;;) {
    const int sent = runtime::avcodec().avcodec_send_frame(encoder, frame);
    if (sent == AVERROR(EAGAIN)) {
      receive_all();
      continue;
    }
    // A second end-of-stream request meets an encoder that is drained already.
    if (sent < 0 && !(frame == nullptr && sent == AVERROR_EOF)) fail(sent);
    break;
  }
  receive_all();
  return written;
}

void TCustomFFmpeg::ReadQualityStats(TOutputStreamState& ost, const AVPacket* packet) {
  // quality (32 bits), picture type (8), error count (8), reserved (16), then 64-bit errors per plane; all
  // little-endian.
  std::size_t size = 0;
  const std::uint8_t* stats =
      runtime::avcodec().av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
  if (stats == nullptr || size < 6) return;
  const auto read_le = [stats](std::size_t offset, int bytes) {
    std::uint64_t value = 0;
    for (int index = bytes - 1; index >= 0; --index)
      value = (value << 8) | stats[offset + static_cast<std::size_t>(index)];
    return value;
  };
  ost.Quality = static_cast<int>(read_le(0, 4));
  ost.PictureType = static_cast<AVPictureType>(stats[4]);
  const int errors = stats[5];
  for (int plane = 0; plane < 3; ++plane) {
    const std::size_t offset = 8 + static_cast<std::size_t>(plane) * 8;
    ost.PictureError[plane] =
        plane < errors && offset + 8 <= size ? static_cast<std::int64_t>(read_le(offset, 8)) : 0;
  }
}

}  // namespace engine
