// The main loop of a conversion run: choose the input that lags, read a packet, correct its time stamps and
// process it; at the end drain the decoders and encoders and write the trailers.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "engine/transcode_pipeline.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/stream_kind.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

constexpr AVRational kMicroseconds{1, 1000000};

int FrameLimitKind(AVMediaType kind) {
  switch (kind) {
    case AVMEDIA_TYPE_VIDEO:
      return flVideo;
    case AVMEDIA_TYPE_AUDIO:
      return flAudio;
    case AVMEDIA_TYPE_DATA:
      return flData;
    default:
      return -1;  // subtitles have no frame limit
  }
}

}  // namespace

int TCustomFFmpeg::ChooseInput(double& smallest_output_time, double& largest_output_time) {
  int chosen = -1;
  double smallest_input_time = 1e100;
  smallest_output_time = 1e100;
  largest_output_time = 0;
  const bool input_sync = pending_.InputSync;
  for (const TOutputStreamState& ost : run_->OutputStreams) {
    const TInputStreamState& ist = run_->InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
    const TInputFileState& file = run_->InputFiles[static_cast<std::size_t>(ist.FileIndex)];
    // A subtitle stream never holds the others back, nor keeps the run going past the recording time.
    if (file.NoPacket || !TellsOutputTime(*run_, ost)) continue;
    const double output_time = ost.OutputTime;
    const auto input_time = static_cast<double>(ist.Pts);
    if (!file.EndOfFile) {
      if (input_time < smallest_input_time) {
        smallest_input_time = input_time;
        if (input_sync) chosen = ist.FileIndex;
      }
      if (output_time < smallest_output_time) {
        smallest_output_time = output_time;
        if (!input_sync) chosen = ist.FileIndex;
      }
    }
    if (output_time > largest_output_time) largest_output_time = output_time;
    const int limit_kind = FrameLimitKind(ost.Stream->codecpar->codec_type);
    if (limit_kind >= 0 && ost.FrameNumber >= pending_.MaxFrames[static_cast<std::size_t>(limit_kind)]) {
      return -1;
    }
  }
  return chosen;
}

int TCustomFFmpeg::OutputStreamIndex(const TOutputStreamState& ost) const {
  return static_cast<int>(&ost - run_->OutputStreams.data());
}

void TCustomFFmpeg::HandFrame(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame) {
  const std::int64_t sync_pts = run_->InputStreams[static_cast<std::size_t>(ost.SyncInput)].Pts;
  if (pipeline_ != nullptr) {
    pipeline_->SendFrame(OutputStreamIndex(ost), frame, sync_pts, video_frame_counter_);
  } else {
    ConsumeFrame(ost, ist, frame, sync_pts, video_frame_counter_);
  }
}

void TCustomFFmpeg::HandEndOfStream(TOutputStreamState& ost, TInputStreamState& ist) {
  if (pipeline_ != nullptr && ost.Encoder->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    pipeline_->SendEndOfStream(OutputStreamIndex(ost));
  } else {
    FinishOutput(ost, ist);
  }
}

void TCustomFFmpeg::HandPacket(TOutputStreamState& ost, AVPacket* packet, AVRational time_base) {
  if (pipeline_ != nullptr) {
    pipeline_->SendPacket(OutputStreamIndex(ost), packet, time_base);
  } else {
    WritePacket(ost, packet, time_base);
  }
}

std::int64_t TCustomFFmpeg::OutputSize() const {
  if (output_files_.empty()) return 0;
  AVIOContext* io = output_files_.front().Format->pb;
  if (io == nullptr) return 0;
  std::int64_t size = runtime::avformat().avio_size(io);
  if (size < 0) size = runtime::avformat().avio_seek(io, 0, SEEK_CUR);
  return size < 0 ? 0 : size;
}

void TCustomFFmpeg::MainLoop() {
  TRunState& run = *run_;
  const TPendingValues& p = pending_;
  // Pipelined unless the streams' work depends on one another's progress. On every way out of here the
  // stages are stopped and joined first (the pipeline's destructor), and only then is the schedule the
  // task's own again: a stage still running hands its packets to the pipeline, never past it.
  struct ScheduleReset {
    TranscodePipeline*& schedule;
    ~ScheduleReset() { schedule = nullptr; }
  } schedule_reset{pipeline_};
  std::unique_ptr<TranscodePipeline> pipeline;
  if (const std::string& refusal = schedule_refusal_; refusal.empty()) {
    pipeline = std::make_unique<TranscodePipeline>(*this);
    runtime::Log(this, runtime::llVerbose,
                 "pipelined run: the streams are encoded and written on threads of their own");
  } else {
    runtime::Log(this, runtime::llVerbose, "one-thread run: " + refusal);
  }
  pipeline_ = pipeline.get();
  run.StartTime = runtime::avutil().av_gettime();
  std::int64_t last_report = run.StartTime;
  int no_packet_count = 0;
  AVPacket* packet = run.Packet.get();

  while (!break_requested_) {
    if (!WaitWhilePaused()) break;
    double smallest_output_time = 0;
    double largest_output_time = 0;
    const int file_index = ChooseInput(smallest_output_time, largest_output_time);
    if (file_index < 0) {
      if (no_packet_count == 0) break;
      for (TInputFileState& file : run.InputFiles)
        file.NoPacket = false;
      no_packet_count = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const double reached = recording_time_by_max_ ? largest_output_time : smallest_output_time;
    if (reached >= p.RecordingTimeSeconds) break;
    if (FileSizeLimitReached()) break;

    InputFile& input = input_files_[static_cast<std::size_t>(file_index)];
    TInputFileState& file = run.InputFiles[static_cast<std::size_t>(file_index)];
    const int read = runtime::avformat().av_read_frame(input.Format.get(), packet);
    if (read == AVERROR(EAGAIN)) {
      file.NoPacket = true;
      ++no_packet_count;
      continue;
    }
    if (read < 0) {
      file.EndOfFile = true;
      if (read != AVERROR_EOF) {
        // The input is converted up to the damage; the log says where the rest went.
        runtime::Log(this, runtime::llWarning,
                     runtime::DescribeLibraryError("Reading", input.FileName, read) +
                         "; the conversion ends at this point of the input");
      }
      if (p.Shortest) break;
      continue;
    }
    for (TInputFileState& each : run.InputFiles)
      each.NoPacket = false;
    no_packet_count = 0;
    if (p.PacketDump) {
      runtime::avformat().av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, p.HexDump ? 1 : 0,
                                           input.Format->streams[packet->stream_index]);
    }
    // A stream that appeared after the set-up, or one that feeds nothing, is not processed.
    if (packet->stream_index >= file.StreamCount ||
        run.InputStreams[static_cast<std::size_t>(file.FirstStream + packet->stream_index)].Discard) {
      runtime::avcodec().av_packet_unref(packet);
      continue;
    }
    const int ist_index = file.FirstStream + packet->stream_index;
    TInputStreamState& ist = run.InputStreams[static_cast<std::size_t>(ist_index)];
    if ((packet->flags & AV_PKT_FLAG_CORRUPT) != 0 && !ist.DamageLogged) {
      ist.DamageLogged = true;
      runtime::Log(this, runtime::llWarning,
                   runtime::TextFormat("Damaged data in stream #%d.%d of '%s' (a cut or corrupted input)",
                                       ist.FileIndex, ist.StreamIndex, input.FileName.c_str()));
    }
    const AVRational time_base = ist.Stream->time_base;
    const std::int64_t offset = runtime::avutil().av_rescale_q(input.TsOffset, kMicroseconds, time_base);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    if (const auto scale = p.InputTsScale.find({file_index, packet->stream_index});
        scale != p.InputTsScale.end()) {
      if (packet->pts != AV_NOPTS_VALUE) {
        packet->pts =
            static_cast<std::int64_t>(std::nearbyint(static_cast<double>(packet->pts) * scale->second));
      }
      if (packet->dts != AV_NOPTS_VALUE) {
        packet->dts =
            static_cast<std::int64_t>(std::nearbyint(static_cast<double>(packet->dts) * scale->second));
      }
    }
    if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != kNoTime &&
        (input.Format->iformat->flags & AVFMT_TS_DISCONT) != 0 && !p.CopyTs) {
      const std::int64_t dts = runtime::avutil().av_rescale_q(packet->dts, time_base, kMicroseconds);
      const std::int64_t delta = dts - ist.NextPts;
      const bool jump = std::llabs(delta) > DiscontinuityThresholdUs();
      if (jump || dts + 1 < ist.Pts) {
        const std::int64_t offset_before = input.TsOffset;
        input.TsOffset -= delta;
        // A step back of a few frames happens in normal streams; only a jump is worth a warning.
        if (jump) {
          LogTimeJump(
              ist,
              runtime::TextFormat(
                  "its decoding time is %.3f s (the file's own times) where %.3f s was due: a jump "
                  "of %+.3f s, more than %.3f s in a format whose times may jump. Taken as a "
                  "discontinuity: the input's later times are moved by %+.3f s",
                  (static_cast<double>(dts) - static_cast<double>(offset_before)) / 1e6,
                  (static_cast<double>(ist.NextPts) - static_cast<double>(offset_before)) / 1e6,
                  static_cast<double>(delta) / 1e6, static_cast<double>(DiscontinuityThresholdUs()) / 1e6,
                  -static_cast<double>(delta) / 1e6));
        }
        if (p.Verbosity > 2) {
          runtime::Log(
              this, runtime::llVerbose,
              runtime::TextFormat("timestamp discontinuity %lld, new offset= %lld",
                                  static_cast<long long>(delta), static_cast<long long>(input.TsOffset)));
        }
        const std::int64_t shift = runtime::avutil().av_rescale_q(delta, kMicroseconds, time_base);
        packet->dts -= shift;
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
      }
    }

    const int processed = ProcessPacket(ist, ist_index, packet);
    runtime::avcodec().av_packet_unref(packet);
    if (processed < 0) {
      const std::string message =
          runtime::TextFormat("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                              runtime::StreamKindName(ist.Stream->codecpar->codec_type));
      if (p.ExitOnError) throw FFmpegException(message);
      if (p.Verbosity >= 0) runtime::Log(this, runtime::llVerbose, message);
      continue;
    }
    const std::int64_t now = runtime::avutil().av_gettime();
    if (now - last_report > progress_interval_us_) {
      last_report = now;
      ReportProgress(false, file_index);
    }
  }
  FinishRun();
}

void TCustomFFmpeg::FinishRun() {
  TRunState& run = *run_;
  for (std::size_t index = 0; index < run.InputStreams.size(); ++index) {
    TInputStreamState& ist = run.InputStreams[index];
    if (ist.DecodingNeeded && !ist.Flushed) {
      ProcessPacket(ist, static_cast<int>(index), nullptr);
      ist.Flushed = true;
    }
  }
  if (pipeline_ != nullptr) {
    pipeline_->Finish();
    pipeline_ = nullptr;  // the trailers and the last report are the task's own again
  }
  for (OutputFile& output : output_files_) {
    if (!output.HeaderWritten) continue;
    const int written = runtime::avformat().av_write_trailer(output.Format.get());
    output.HeaderWritten = false;
    // A trailer that did not reach the file leaves an unplayable output: that is a failed run.
    if (written < 0)
      throw FFmpegException(
          runtime::DescribeLibraryError("Writing the trailer of", output.FileName, written));
    if (AVIOContext* io = output.Format->pb; io != nullptr) {
      runtime::avformat().avio_flush(io);
      if (io->error < 0)
        throw FFmpegException(runtime::DescribeLibraryError("Writing", output.FileName, io->error));
    }
  }
  ReportProgress(true, -1);
  if (break_requested_) RemoveOutputsStoppedBeforeAnyPacket();
  if (!break_requested_) RefuseEmptyStreams();
  finished_ = !break_requested_;
}

void TCustomFFmpeg::RemoveOutputsStoppedBeforeAnyPacket() {
  // A run stopped before any packet reached an output leaves a header without content, a file that looks
  // like a result and that no reader opens: it goes, as an output that received nothing at all goes.
  for (std::size_t file = 0; file < output_files_.size(); ++file) {
    const OutputFile& output = output_files_[file];
    // A file that was there before the task is the user's, even when it was overwritten.
    if (!output.WritesFile || !output.CreatedByTask) continue;
    bool written = false;
    for (const TOutputStreamState& ost : run_->OutputStreams)
      written = written || (ost.FileIndex == static_cast<int>(file) && ost.PacketsMuxed > 0);
    std::error_code error;
    if (written || !std::filesystem::is_regular_file(std::filesystem::symlink_status(output.FileName, error)))
      continue;
    // Still open: the name goes now, the file itself when the task closes it.
    std::filesystem::remove(output.FileName, error);
  }
}

void TCustomFFmpeg::RefuseEmptyStreams() const {
  // A picture stream that got nothing at all, because its input was cut or damaged before the first picture
  // that decodes, leaves an output that no player or decoder reads to its end; so does an output none of
  // whose streams got anything. Either way the run failed, whatever else it wrote. (A sound stream alone
  // may stay empty beside others: its encoder gave the stream its format, and the file reads.) A picture
  // stream whose decoded frames went elsewhere (a task's own output path) is no sign of damage.
  const auto gave_nothing = [this](const TOutputStreamState& ost) {
    const TInputStreamState& source = run_->InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
    return ost.PacketsMuxed == 0 && (ost.StreamCopy || source.DecodedFrames == 0);
  };
  for (const TOutputStreamState& ost : run_->OutputStreams) {
    if (ost.Stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || !gave_nothing(ost)) continue;
    throw FFmpegException(runtime::TextFormat(
        "Nothing was written to video stream #%d.%d of '%s': its input holds no picture that could be read "
        "(cut short or damaged)",
        ost.FileIndex, ost.StreamIndex,
        output_files_[static_cast<std::size_t>(ost.FileIndex)].FileName.c_str()));
  }
  for (std::size_t file = 0; file < output_files_.size(); ++file) {
    bool empty = true;
    for (const TOutputStreamState& ost : run_->OutputStreams)
      empty = empty && (ost.FileIndex != static_cast<int>(file) || ost.PacketsMuxed == 0);
    if (!empty) continue;
    throw FFmpegException("Nothing was written to '" + output_files_[file].FileName +
                          "': its input holds nothing that could be read (cut short or damaged)");
  }
}

}  // namespace engine
