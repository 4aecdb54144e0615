// Opening a task's input: the container, its streams' decoder contexts, and the pending values read back
// from the streams for the outputs created afterwards.
#include <cmath>
#include <cstdio>

#include "engine/codec_lookup.h"
#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/stream_kind.h"

namespace engine {
namespace {

std::string RationalText(AVRational value) {
  return std::to_string(value.num) + "/" + std::to_string(value.den);
}

// The demuxer parameters the pending values give; raw formats read them, the others ignore them.
runtime::Dictionary DemuxerParameters(const TPendingValues& pending) {
  runtime::Dictionary parameters;
  auto set = [&](const char* key, const std::string& value) {
    runtime::avutil().av_dict_set(parameters.Address(), key, value.c_str(), 0);
  };
  if (pending.AudioSampleRate > 0) set("sample_rate", std::to_string(pending.AudioSampleRate));
  if (pending.AudioChannels > 0) set("channels", std::to_string(pending.AudioChannels));
  if (pending.FrameRate.num > 0 && pending.FrameRate.den > 0)
    set("framerate", RationalText(pending.FrameRate));
  const int width = pending.FrameWidth + pending.PadLeft + pending.PadRight;
  const int height = pending.FrameHeight + pending.PadTop + pending.PadBottom;
  if (width > 0 && height > 0) set("video_size", std::to_string(width) + "x" + std::to_string(height));
  if (pending.FramePixFmt >= 0) {
    if (const char* name =
            runtime::avutil().av_get_pix_fmt_name(static_cast<AVPixelFormat>(pending.FramePixFmt))) {
      set("pixel_format", name);
    }
  }
  if (pending.VideoChannel != 0) set("channel", std::to_string(pending.VideoChannel));
  if (pending.VideoStandard) set("standard", *pending.VideoStandard);
  if (pending.LoopInput) set("loop", "1");
  return parameters;
}

}  // namespace

bool TCustomFFmpeg::OpenInput(const std::string& file_name) {
  TPendingValues& p = pending_;
  // Whatever happens, the codec names and the channel belong to this one file.
  struct ConsumePerFileValues {
    TPendingValues& pending;
    ~ConsumePerFileValues() {
      pending.VideoCodecName.reset();
      pending.AudioCodecName.reset();
      pending.SubtitleCodecName.reset();
      pending.VideoChannel = 0;
    }
  } consume{p};

  const AVInputFormat* forced_format = nullptr;
  if (!p.FileFormat.empty()) {
    forced_format = runtime::avformat().av_find_input_format(p.FileFormat.c_str());
    p.FileFormat.clear();
  }

  AVFormatContext* raw_context = runtime::avformat().avformat_alloc_context();
  if (raw_context == nullptr) throw FFmpegException("avformat_alloc_context failed");
  runtime::FormatContextPtr context(raw_context);
  runtime::InstallFileLayer(context.get());
  runtime::Dictionary parameters = DemuxerParameters(p);
  generic_options_.ApplyTo(context.get(), generic_options_.Format(), AV_OPT_FLAG_DECODING_PARAM);

  const CodecLookup video = LookupCodec(p.VideoCodecName, AVMEDIA_TYPE_VIDEO, false);
  const CodecLookup audio = LookupCodec(p.AudioCodecName, AVMEDIA_TYPE_AUDIO, false);
  const CodecLookup subtitle = LookupCodec(p.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false);
  for (const CodecLookup* lookup : {&video, &audio, &subtitle}) {
    if (!lookup->Found) {
      task_error_text_ = lookup->ErrorText;
      return false;
    }
  }
  if (video.Codec != nullptr) {
    context->video_codec_id = video.Codec->id;
    context->video_codec = video.Codec;
  }
  if (audio.Codec != nullptr) {
    context->audio_codec_id = audio.Codec->id;
    context->audio_codec = audio.Codec;
  }
  if (subtitle.Codec != nullptr) {
    context->subtitle_codec_id = subtitle.Codec->id;
    context->subtitle_codec = subtitle.Codec;
  }
  context->flags |= AVFMT_FLAG_NONBLOCK;
  if (p.PgmYuvCompat) context->video_codec_id = AV_CODEC_ID_PGMYUV;

  // Local files are read through our file layer; a format that opens its files itself (an image sequence
  // named by its pattern) and the library's network protocols get the name.
  InputFile input;
  input.FileName = file_name;
  const bool library_opens = runtime::IsNeverWrappedUrl(file_name) ||
                             (forced_format != nullptr && (forced_format->flags & AVFMT_NOFILE) != 0);
  if (!library_opens) {
    int error = 0;
    input.Io = runtime::OpenFileIo(file_name, AVIO_FLAG_READ, &error);
    if (input.Io == nullptr) {
      task_error_text_ = runtime::OpenErrorText(file_name, error);
      return false;
    }
    context->pb = input.Io.get();
  }
  AVFormatContext* opening = context.release();
  const std::string library_name = runtime::LibraryFileName(file_name);
  const int opened = runtime::avformat().avformat_open_input(&opening, library_name.c_str(), forced_format,
                                                             parameters.Address());
  if (opened < 0) {
    // The library has freed the context.
    task_error_text_ = runtime::OpenErrorText(file_name, opened);
    return false;
  }
  input.Format.reset(opening);
  AVFormatContext* format = input.Format.get();

  if (p.ProgramID != 0) {
    for (unsigned index = 0; index < format->nb_programs; ++index) {
      if (format->programs[index]->id != p.ProgramID) format->programs[index]->discard = AVDISCARD_ALL;
    }
  }

  int found;
  {
    std::lock_guard lock(runtime::CodecLock());
    found = runtime::avformat().avformat_find_stream_info(format, nullptr);
  }
  if (found < 0 && p.Verbosity >= 0) {
    task_error_text_ = file_name + ": could not find codec parameters";
    runtime::Log(this, runtime::llVerbose, task_error_text_);
    return false;
  }

  std::int64_t timestamp = p.StartTime;
  if (format->start_time != AV_NOPTS_VALUE) timestamp += format->start_time;
  if (p.StartTime != 0) {
    // Seeking is best effort: a file that cannot seek is converted from its start.
    runtime::avformat().av_seek_frame(format, -1, timestamp, AVSEEK_FLAG_BACKWARD);
    p.StartTime = 0;
    input.Seeked = true;
  }

  const int input_index = static_cast<int>(input_files_.size());
  bool has_non_cover_video = false;
  for (unsigned index = 0; index < format->nb_streams; ++index) {
    has_non_cover_video =
        has_non_cover_video || (format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                                !runtime::IsAttachedPicture(*format->streams[index]));
  }
  for (unsigned index = 0; index < format->nb_streams; ++index) {
    AVStream* stream = format->streams[index];
    const AVCodecParameters* parameters_in = stream->codecpar;
    InputStreamSetup setup;
    setup.Decoder.reset(runtime::avcodec().avcodec_alloc_context3(nullptr));
    if (setup.Decoder == nullptr ||
        runtime::avcodec().avcodec_parameters_to_context(setup.Decoder.get(), parameters_in) < 0) {
      throw FFmpegException("avcodec_alloc_context failed");
    }
    AVCodecContext* decoder = setup.Decoder.get();
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = p.ThreadCount;

    switch (parameters_in->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        generic_options_.ApplyTo(decoder, generic_options_.Video(),
                                 AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
        // A cover picture beside real video would hand the output its own size; its rate is no rate.
        const bool cover = runtime::IsAttachedPicture(*stream);
        if (!cover || !has_non_cover_video) {
          p.FrameHeight = parameters_in->height;
          p.FrameWidth = parameters_in->width;
          const AVRational aspect = stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio
                                                                         : parameters_in->sample_aspect_ratio;
          const double ratio = aspect.den != 0 ? static_cast<double>(aspect.num) / aspect.den : 0.0;
          if (p.FrameWidth != 0 && p.FrameHeight != 0) {
            const double display = ratio != 0 ? p.FrameWidth * ratio : p.FrameWidth;
            p.FrameAspectRatio = static_cast<float>(display / p.FrameHeight);
          } else {
            p.FrameAspectRatio = ratio != 0 ? static_cast<float>(ratio) : 1.3333334F;
          }
          // An unknown format stays unknown: taking it for yuv420p would hide a stream that cannot be decoded
          // and hand that format to the demuxer of a raw input opened next.
          p.FramePixFmt = parameters_in->format;
        }
        if (decoder->lowres > 0) {
          // The factor is limited to what the decoder can do, as the decoder itself will limit it.
          const AVCodec* codec = video.Codec != nullptr
                                     ? video.Codec
                                     : runtime::avcodec().avcodec_find_decoder(parameters_in->codec_id);
          const int limit = codec != nullptr ? codec->max_lowres : 0;
          if (decoder->lowres > limit) decoder->lowres = limit;
          if (!cover || !has_non_cover_video) {
            p.FrameHeight >>= decoder->lowres;
            p.FrameWidth >>= decoder->lowres;
          }
        }
        const AVRational codec_rate = stream->avg_frame_rate;
        const AVRational stream_rate = stream->r_frame_rate;
        if (codec_rate.num > 0 && codec_rate.den > 0 && stream_rate.num > 0 && stream_rate.den > 0 &&
            av_cmp_q(codec_rate, stream_rate) != 0 && p.Verbosity >= 0) {
          char line[256];
          std::snprintf(
              line, sizeof line,
              "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) -> "
              "%2.2f (%d/%d)",
              static_cast<int>(index), av_q2d(codec_rate), codec_rate.num, codec_rate.den,
              av_q2d(stream_rate), stream_rate.num, stream_rate.den);
          runtime::Log(this, runtime::llInfo, line);
        }
        if (!cover) p.FrameRate = stream_rate.num > 0 && stream_rate.den > 0 ? stream_rate : codec_rate;
        setup.ForcedDecoder = video.Codec;
        if (p.DisableVideo) {
          stream->discard = AVDISCARD_ALL;
        } else if (p.VideoDiscard != 0) {
          stream->discard = static_cast<AVDiscard>(p.VideoDiscard);
        }
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        generic_options_.ApplyTo(decoder, generic_options_.Audio(),
                                 AV_OPT_FLAG_DECODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
        p.ChannelLayout = parameters_in->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                              ? static_cast<std::int64_t>(parameters_in->ch_layout.u.mask)
                              : 0;
        p.AudioChannels = parameters_in->ch_layout.nb_channels;
        p.AudioSampleRate = parameters_in->sample_rate;
        p.AudioSampleFmt = parameters_in->format;
        setup.ForcedDecoder = audio.Codec;
        if (p.DisableAudio) stream->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        setup.ForcedDecoder = subtitle.Codec;
        if (p.DisableSubtitle) stream->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
      case AVMEDIA_TYPE_UNKNOWN:
        break;
      default:
        throw FFmpegException("invalid codec_type");
    }
    input.Streams.push_back(std::move(setup));
  }

  if (format->duration != AV_NOPTS_VALUE && format->duration > total_duration_) {
    total_duration_ = format->duration;
  }
  input.TsOffset = p.CopyTs ? p.InputTsOffset : p.InputTsOffset - timestamp;
  if (p.Verbosity >= 0) runtime::avformat().av_dump_format(format, input_index, library_name.c_str(), 0);
  input_files_.push_back(std::move(input));
  return true;
}

}  // namespace engine
