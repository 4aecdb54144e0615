// Creating a task's output: the container format, its streams, its metadata and the file.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/stream_kind.h"

namespace engine {
namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Muxers know "preload" and "loop" as private options; setting them where the muxer lacks them would only
// leave unused entries behind.
bool MuxerHasOption(const AVOutputFormat* format, const char* name) {
  if (format->priv_class == nullptr) return false;
  const AVClass* muxer_class = format->priv_class;
  return runtime::avutil().av_opt_find(&muxer_class, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// ISO 8601 in UTC, as the muxers expect "creation_time".
std::string CreationTimeText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
  return text;
}

}  // namespace

int TCustomFFmpeg::OpenOutput(const std::string& file_name, bool join) {
  TPendingValues& p = pending_;
  video_filters_on_ = !p.VideoFilters.empty();

  AVFormatContext* raw_context = runtime::avformat().avformat_alloc_context();
  if (raw_context == nullptr) throw FFmpegException("avformat_alloc_context failed");
  OutputFile output;
  output.FileName = file_name;
  output.Format.reset(raw_context);
  AVFormatContext* context = raw_context;
  runtime::InstallFileLayer(context);

  const std::string library_name = runtime::LibraryFileName(file_name);
  const AVOutputFormat* format;
  if (!p.FileFormat.empty()) {
    format = runtime::avformat().av_guess_format(p.FileFormat.c_str(), nullptr, nullptr);
    if (format == nullptr) {
      task_error_text_ = "Requested output format '" + p.FileFormat + "' is not a suitable output format";
      return -1;
    }
    p.FileFormat.clear();
  } else {
    format = runtime::avformat().av_guess_format(nullptr, library_name.c_str(), nullptr);
    if (format == nullptr) {
      task_error_text_ = "Unable to find a suitable output format for '" + file_name + "'";
      return -1;
    }
  }
  context->oformat = format;
  context->url = runtime::avutil().av_strdup(library_name.c_str());
  if (context->url == nullptr) throw FFmpegException("av_strdup failed");
  output.WritesFile = (format->flags & AVFMT_NOFILE) == 0;

  // An output must never overwrite what the task reads.
  for (const InputFile& input : input_files_) {
    if (SameFile(input.FileName, file_name)) {
      task_error_text_ = "Output file '" + file_name + "' is the same file as input '" + input.FileName + "'";
      return -1;
    }
  }

  // Audio formats that can carry a cover picture name PNG as their video codec; that is no video stream.
  const bool format_has_video =
      format->video_codec != AV_CODEC_ID_NONE && format->video_codec != AV_CODEC_ID_PNG;
  bool use_video = format_has_video || p.VideoStreamCopy || p.VideoCodecName.has_value();
  bool use_audio =
      format->audio_codec != AV_CODEC_ID_NONE || p.AudioStreamCopy || p.AudioCodecName.has_value();
  const bool subtitle_named = p.SubtitleStreamCopy || p.SubtitleCodecName.has_value();
  bool use_subtitle = format->subtitle_codec != AV_CODEC_ID_NONE || subtitle_named;
  std::optional<AutomaticSubtitle> automatic_subtitle;
  if (!input_files_.empty()) {
    bool has_video = false;
    bool has_audio = false;
    bool has_subtitle = false;
    const std::size_t examined = join ? 1 : input_files_.size();
    for (std::size_t file = 0; file < examined; ++file) {
      const AVFormatContext* input = input_files_[file].Format.get();
      for (unsigned index = 0; index < input->nb_streams; ++index) {
        switch (input->streams[index]->codecpar->codec_type) {
          case AVMEDIA_TYPE_VIDEO:
            // A cover picture is no video to convert, unless a stream map asks for it.
            has_video = has_video || !runtime::IsAttachedPicture(*input->streams[index]) ||
                        MapsInputStream(p.StreamMaps, static_cast<int>(file), static_cast<int>(index));
            break;
          case AVMEDIA_TYPE_AUDIO:
            has_audio = true;
            break;
          case AVMEDIA_TYPE_SUBTITLE:
            has_subtitle = true;
            break;
          case AVMEDIA_TYPE_DATA:
          case AVMEDIA_TYPE_ATTACHMENT:
          case AVMEDIA_TYPE_UNKNOWN:
            break;
          default:
            task_error_text_ = "check_audio_video_sub_inputs fail: invalid codec_type of input file";
            return -1;
        }
      }
    }
    use_video = use_video && has_video;
    use_audio = use_audio && has_audio;
    if (!subtitle_named && has_subtitle && !p.DisableSubtitle) {
      // Without a named encoder the subtitles go where the container can carry them, or are left out.
      automatic_subtitle = ChooseAutomaticSubtitle(*format, examined, file_name);
    }
    use_subtitle = has_subtitle && (subtitle_named || automatic_subtitle.has_value());
  }
  if (p.DisableVideo) use_video = false;
  if (p.DisableAudio) use_audio = false;
  if (p.DisableSubtitle) use_subtitle = false;

  struct StreamStep {
    bool wanted;
    AVMediaType kind;
    const char* failure;
  };
  for (const StreamStep& step :
       {StreamStep{use_video, AVMEDIA_TYPE_VIDEO, "new_video_stream fail: "},
        StreamStep{use_audio, AVMEDIA_TYPE_AUDIO, "new_audio_stream fail: "},
        StreamStep{use_subtitle, AVMEDIA_TYPE_SUBTITLE, "new_subtitle_stream fail: "}}) {
    if (!step.wanted) continue;
    const bool automatic = step.kind == AVMEDIA_TYPE_SUBTITLE && automatic_subtitle.has_value();
    if (automatic) {
      // Taken over by the new stream as if they had been asked for.
      if (automatic_subtitle->Choice.Way == SubtitleWay::kCopy) {
        p.SubtitleStreamCopy = true;
      } else {
        p.SubtitleCodecName = automatic_subtitle->Choice.Encoder->name;
      }
    }
    try {
      NewStream(output, step.kind);
    } catch (const std::exception& error) {
      task_error_text_ = step.failure + std::string(error.what());
      return -1;
    }
    if (automatic) {
      output.Streams.back().SourceFile = automatic_subtitle->FileIndex;
      output.Streams.back().SourceStream = automatic_subtitle->StreamIndex;
    }
  }

  if (p.RecTimestamp != 0) {
    runtime::avutil().av_dict_set(&context->metadata, "creation_time",
                                  CreationTimeText(p.RecTimestamp).c_str(), 0);
  }
  for (auto pair = p.Metadata.rbegin(); pair != p.Metadata.rend(); ++pair) {
    runtime::avutil().av_dict_set(&context->metadata, pair->first.c_str(), pair->second.c_str(), 0);
  }
  p.Metadata.clear();

  if ((format->flags & AVFMT_NEEDNUMBER) != 0 &&
      runtime::avformat().av_filename_number_test(library_name.c_str()) == 0) {
    task_error_text_ = runtime::OpenErrorText(file_name, AVERROR(EDOM));
    return -1;
  }

  if (join && input_files_.size() > 1) {
    // Only a task holding several inputs could join them, and a task holds the one input it was made for.
    task_error_text_ = "Joining several inputs into one output is not supported";
    return -1;
  }

  if (output.WritesFile) {
    std::error_code status_error;
    output.CreatedByTask = !std::filesystem::exists(std::filesystem::symlink_status(file_name, status_error));
    int error = 0;
    output.Io = runtime::OpenFileIo(file_name, AVIO_FLAG_WRITE, &error);
    if (output.Io == nullptr) {
      runtime::Log(this, runtime::llError, runtime::DescribeLibraryError("Creating", file_name, error));
      task_error_text_ = runtime::DescribeLibraryError("Could not open", file_name, error);
      return -1;
    }
    context->pb = output.Io.get();
  }

  // The muxing settings travel with the header.
  context->max_delay = static_cast<int>(p.MuxMaxDelay * 1000000.0F);
  if (MuxerHasOption(format, "preload")) {
    runtime::avutil().av_dict_set_int(output.MuxerOptions.Address(), "preload",
                                      static_cast<std::int64_t>(p.MuxPreload * 1000000.0F), 0);
  }
  if (p.LoopOutput >= 0 && MuxerHasOption(format, "loop")) {
    runtime::avutil().av_dict_set_int(output.MuxerOptions.Address(), "loop", p.LoopOutput, 0);
  }
  for (const auto& [name, value] : p.MuxerOptions) {
    runtime::avutil().av_dict_set(output.MuxerOptions.Address(), name.c_str(), value.c_str(), 0);
  }
  context->flags |= AVFMT_FLAG_NONBLOCK;
  generic_options_.ApplyTo(context, generic_options_.Format(), AV_OPT_FLAG_ENCODING_PARAM);

  join_ = join;
  output_files_.push_back(std::move(output));
  return static_cast<int>(output_files_.size());
}

}  // namespace engine
