#include "probe/av_probe.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include "runtime/codec_name_text.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/metadata_value.h"
#include "runtime/open_error_text.h"
#include "runtime/stream_kind.h"

namespace probe {
namespace {

// The library's 64-bit rates and counts, in the records' 32-bit fields.
std::int32_t Clamped(std::int64_t value) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value > kMax ? kMax : (value < kMin ? kMin : value));
}

// The leading decimal number of a tag ("2009-05-01" gives 2009, "3/12" gives 3), or -1.
std::int32_t LeadingNumber(const AVDictionary* metadata, const char* key) {
  const std::string text = runtime::MetadataValue(metadata, key, "");
  std::int32_t value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end != text.data() ? value : -1;
}

std::int64_t Microseconds(std::int64_t value, AVRational time_base) {
  if (value == AV_NOPTS_VALUE) return -1;
  return runtime::avutil().av_rescale_q(value, time_base, AVRational{1, AV_TIME_BASE});
}

// The codec name of a stream, read from a codec context of our own: the stream's parameters belong to
// whoever opened the container, and other threads may be using them.
std::string DecoderName(const AVStream& stream) {
  runtime::CodecContextPtr codec(runtime::avcodec().avcodec_alloc_context3(nullptr));
  if (codec == nullptr ||
      runtime::avcodec().avcodec_parameters_to_context(codec.get(), stream.codecpar) < 0) {
    return {};
  }
  return runtime::CodecNameText(*codec, false);
}

}  // namespace

TCustomAVProbe::TCustomAVProbe() = default;

TCustomAVProbe::~TCustomAVProbe() {
  Close();
}

void TCustomAVProbe::CheckLibraries() const {
  const runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
  if (!loader.LibraryLoaded(runtime::lkAvCodec)) throw std::runtime_error("LibAVCodec not loaded.");
  if (!loader.LibraryLoaded(runtime::lkAvFormat)) throw std::runtime_error("LibAVFormat not loaded.");
  if (!loader.LibraryLoaded(runtime::lkAvUtil)) throw std::runtime_error("LibAVUtil not loaded.");
  if (!loader.LibraryLoaded(runtime::lkSwScale)) throw std::runtime_error("LibSwScale not loaded.");
}

void TCustomAVProbe::ReportError(int library_level, const std::string& text) {
  last_error_ = text;
  runtime::Log(this, runtime::LogLevelOfLibrary(library_level), text);
}

bool TCustomAVProbe::Open(const std::string& file_name, const std::string& input_format_name) {
  CheckLibraries();
  Close();

  const AVInputFormat* forced_format = nullptr;
  if (!input_format_name.empty()) {
    forced_format = runtime::avformat().av_find_input_format(input_format_name.c_str());
    if (forced_format == nullptr) {
      last_error_ = "Unknown input format: " + input_format_name;
      return false;
    }
  }

  runtime::FormatContextPtr allocated(runtime::avformat().avformat_alloc_context());
  if (allocated == nullptr) {
    ReportError(AV_LOG_ERROR, runtime::OpenErrorText(file_name, AVERROR(ENOMEM)));
    return false;
  }
  runtime::InstallFileLayer(allocated.get());
  allocated->flags |= AVFMT_FLAG_NONBLOCK;

  // Local files are read through our file layer; network protocols and formats that open their files
  // themselves get the name.
  runtime::FileIoPtr io;
  const bool library_opens = runtime::IsNeverWrappedUrl(file_name) ||
                             (forced_format != nullptr && (forced_format->flags & AVFMT_NOFILE) != 0);
  if (!library_opens) {
    int error = 0;
    io = runtime::OpenFileIo(file_name, AVIO_FLAG_READ, &error);
    if (io == nullptr) {
      ReportError(AV_LOG_ERROR, runtime::OpenErrorText(file_name, error));
      return false;
    }
    allocated->pb = io.get();
  }

  AVFormatContext* opening = allocated.release();
  const std::string library_name = runtime::LibraryFileName(file_name);
  const int opened =
      runtime::avformat().avformat_open_input(&opening, library_name.c_str(), forced_format, nullptr);
  if (opened < 0) {
    // The library has freed the context.
    ReportError(AV_LOG_ERROR, runtime::OpenErrorText(file_name, opened));
    return false;
  }
  io_ = std::move(io);
  owned_format_.reset(opening);
  context_ = opening;

  int found;
  {
    // Finding the stream parameters opens and closes decoders.
    std::lock_guard lock(runtime::CodecLock());
    found = runtime::avformat().avformat_find_stream_info(context_, nullptr);
  }
  if (found < 0) {
    Close();
    last_error_ = file_name + ": could not find codec parameters";
    return false;
  }

  Analyse();
  input_format_name_ = input_format_name;
  return true;
}

void TCustomAVProbe::Attach(AVFormatContext* context) {
  CheckLibraries();
  Close();
  context_ = context;
  Analyse();
}

void TCustomAVProbe::Close() {
  input_format_name_.clear();
  if (owned_format_ != nullptr) {
    // Closing the container frees the decoders the stream search left on its streams.
    std::lock_guard lock(runtime::CodecLock());
    owned_format_.reset();
  }
  io_.reset();
  context_ = nullptr;
  Analyse();
}

void TCustomAVProbe::Analyse() {
  file_size_ = -1;
  stream_count_ = -1;
  program_count_ = -1;
  audio_stream_count_ = -1;
  video_stream_count_ = -1;
  subtitle_stream_count_ = -1;
  first_audio_stream_ = -1;
  first_video_stream_ = -1;
  first_subtitle_stream_ = -1;
  non_cover_video_stream_count_ = -1;
  first_non_cover_video_stream_ = -1;
  if (context_ == nullptr) return;

  const std::int64_t library_size =
      context_->pb != nullptr ? runtime::avformat().avio_size(context_->pb) : -1;
  file_size_ = library_size;
  if (library_size <= 0 && context_->url != nullptr) {
    const std::filesystem::path path = runtime::FileNameFromLibrary(context_->url);
    std::error_code error;
    if (std::filesystem::exists(path, error)) {
      const std::uintmax_t size = std::filesystem::file_size(path, error);
      file_size_ = error ? -1 : static_cast<std::int64_t>(size);
    }
  }

  stream_count_ = static_cast<int>(context_->nb_streams);
  program_count_ = static_cast<int>(context_->nb_programs);
  audio_stream_count_ = 0;
  video_stream_count_ = 0;
  subtitle_stream_count_ = 0;
  non_cover_video_stream_count_ = 0;
  for (int index = 0; index < stream_count_; ++index) {
    const auto count = [index](int& counter, int& first) {
      if (counter++ == 0) first = index;
    };
    switch (context_->streams[index]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        count(video_stream_count_, first_video_stream_);
        if (!runtime::IsAttachedPicture(*context_->streams[index]))
          count(non_cover_video_stream_count_, first_non_cover_video_stream_);
        break;
      case AVMEDIA_TYPE_AUDIO:
        count(audio_stream_count_, first_audio_stream_);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        count(subtitle_stream_count_, first_subtitle_stream_);
        break;
      default:
        break;
    }
  }
}

bool TCustomAVProbe::IsAttachedPicture(int index) const {
  return context_ != nullptr && index >= 0 && index < stream_count_ &&
         runtime::IsAttachedPicture(*context_->streams[index]);
}

std::string TCustomAVProbe::ContainerFormatName() const {
  return context_ != nullptr && context_->iformat != nullptr ? context_->iformat->name : "";
}

bool TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo& info) {
  info = TFileStreamInfo{};
  if (context_ == nullptr) {
    ReportError(AV_LOG_WARNING, "file not loaded.");
    return false;
  }
  info.StartTime = context_->start_time == AV_NOPTS_VALUE ? -1 : context_->start_time;
  info.Duration = context_->duration == AV_NOPTS_VALUE ? -1 : context_->duration;
  info.BitRate = Clamped(context_->bit_rate);
  const AVDictionary* tags = context_->metadata;
  info.Year = LeadingNumber(tags, "date");
  if (info.Year < 0) info.Year = LeadingNumber(tags, "year");
  info.Track = LeadingNumber(tags, "track");
  info.Title = runtime::MetadataValue(tags, "title", "");
  info.Author = runtime::MetadataValue(tags, "author", runtime::MetadataValue(tags, "artist", ""));
  info.Copyright = runtime::MetadataValue(tags, "copyright", "");
  info.Comment = runtime::MetadataValue(tags, "comment", "");
  info.Album = runtime::MetadataValue(tags, "album", "");
  info.Genre = runtime::MetadataValue(tags, "genre", "");
  return true;
}

const AVStream* TCustomAVProbe::StreamAt(int index) {
  if (context_ == nullptr) {
    ReportError(AV_LOG_WARNING, "file not loaded.");
    return nullptr;
  }
  if (index < 0 || index >= stream_count_) {
    ReportError(AV_LOG_ERROR, "stream index #" + std::to_string(index) + " is invalid.");
    return nullptr;
  }
  return context_->streams[index];
}

bool TCustomAVProbe::GetVideoStreamInfo(int index, TVideoStreamInfo& info) {
  info = TVideoStreamInfo{};
  if (context_ != nullptr && index < 0) {
    index = first_video_stream_;
    if (index < 0) {
      ReportError(AV_LOG_ERROR, "no video stream.");
      return false;
    }
  }
  const AVStream* stream = StreamAt(index);
  if (stream == nullptr) return false;
  const AVCodecParameters& parameters = *stream->codecpar;
  if (parameters.codec_type != AVMEDIA_TYPE_VIDEO) {
    ReportError(AV_LOG_ERROR, "stream #" + std::to_string(index) + " is not video stream.");
    return false;
  }

  info.Language = runtime::MetadataValue(stream->metadata, "language", "");
  info.CodecName = DecoderName(*stream);
  // A time base without a denominator is repaired on our copy only: the stream is shared with whoever
  // opened the container.
  AVRational time_base = stream->time_base;
  if (time_base.den == 0) time_base.den = time_base.num;
  if (time_base.den == 0) time_base.den = 1;
  info.StartTime = stream->start_time;
  info.StartTimeUS = Microseconds(stream->start_time, time_base);
  info.Duration = stream->duration;
  info.DurationUS = Microseconds(stream->duration, time_base);

  info.BitRate = Clamped(parameters.bit_rate);
  info.Height = parameters.height;
  info.Width = parameters.width;
  // An unknown sample aspect ratio (0/1, or no denominator) means square pixels; a picture without height
  // has no display ratio.
  // The container's ratio wins over the coded one, as it does when the picture is shown.
  const AVRational sample_aspect =
      stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio : parameters.sample_aspect_ratio;
  const double pixel_ratio = sample_aspect.num > 0 && sample_aspect.den > 0
                                 ? static_cast<double>(sample_aspect.num) / sample_aspect.den
                                 : 1.0;
  if (parameters.height > 0) {
    info.DisplayAspectRatio = static_cast<float>(parameters.width * pixel_ratio / parameters.height);
  }
  info.PixelFormat = parameters.format;
  info.FrameRateNum = stream->r_frame_rate.num;
  info.FrameRateDen = stream->r_frame_rate.den;
  return true;
}

bool TCustomAVProbe::GetStreamSummary(int index, TStreamSummary& summary) {
  summary = TStreamSummary{};
  const AVStream* stream = StreamAt(index);
  if (stream == nullptr) return false;
  const AVCodecParameters& parameters = *stream->codecpar;
  summary.Kind = runtime::StreamKindName(parameters.codec_type);
  summary.CodecName = DecoderName(*stream);
  if (const AVCodecDescriptor* descriptor = runtime::avcodec().avcodec_descriptor_get(parameters.codec_id)) {
    summary.CodecId = descriptor->name;
  }
  summary.DurationUS = Microseconds(stream->duration, stream->time_base);
  summary.BitRate = Clamped(parameters.bit_rate);
  if (parameters.codec_type == AVMEDIA_TYPE_VIDEO) {
    summary.Width = parameters.width;
    summary.Height = parameters.height;
    summary.FrameRateNum = stream->r_frame_rate.num;
    summary.FrameRateDen = stream->r_frame_rate.den;
  } else if (parameters.codec_type == AVMEDIA_TYPE_AUDIO) {
    summary.SampleRate = parameters.sample_rate;
    summary.Channels = parameters.ch_layout.nb_channels;
  }
  return true;
}

std::optional<std::int64_t> TCustomAVProbe::MeasureDuration(std::chrono::milliseconds budget) {
  if (context_ == nullptr) return std::nullopt;
  if (context_->duration != AV_NOPTS_VALUE &&
      context_->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
    return context_->duration;
  }
  const auto deadline = std::chrono::steady_clock::now() + budget;
  runtime::PacketPtr packet(runtime::avcodec().av_packet_alloc());
  if (packet == nullptr) return std::nullopt;
  const std::int64_t start = context_->start_time == AV_NOPTS_VALUE ? 0 : context_->start_time;
  std::int64_t end = 0;
  int status = 0;
  while ((status = runtime::avformat().av_read_frame(context_, packet.get())) >= 0) {
    const AVStream* stream = context_->streams[packet->stream_index];
    const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (time != AV_NOPTS_VALUE) {
      const std::int64_t packet_end =
          Microseconds(time + std::max<std::int64_t>(packet->duration, 0), stream->time_base);
      end = std::max(end, packet_end - start);
    }
    runtime::avcodec().av_packet_unref(packet.get());
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
  }
  // Only the end of the file ends the reading; a read error leaves the length unknown.
  if (status != AVERROR_EOF) return std::nullopt;
  return end;
}

}  // namespace probe
