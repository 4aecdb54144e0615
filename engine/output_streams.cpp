// Adding streams to an output: each takes over the pending settings of its kind.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/amr_nb_encoder.h"
#include "engine/codec_lookup.h"
#include "engine/encoder_limits.h"
#include "engine/ffmpeg_exception.h"
#include "engine/rate_control_override.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/scaler.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

template <class T>
T* CopyToLibraryMemory(const T* values, std::size_t count) {
  // The codec context frees these arrays itself, so they must come from the library's allocator.
  auto* copy = static_cast<T*>(runtime::avutil().av_malloc(sizeof(T) * count));
  if (copy == nullptr) throw FFmpegException("av_malloc fail");
  std::memcpy(copy, values, sizeof(T) * count);
  return copy;
}

const char* EncoderName(const AVCodec* encoder, AVCodecID codec_id) {
  return encoder != nullptr ? encoder->name : runtime::avcodec().avcodec_get_name(codec_id);
}

const char* PixelFormatName(AVPixelFormat format) {
  const char* name = runtime::avutil().av_get_pix_fmt_name(format);
  return name != nullptr ? name : "none";
}

bool HasAlpha(AVPixelFormat format) {
  const AVPixFmtDescriptor* descriptor = runtime::avutil().av_pix_fmt_desc_get(format);
  return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

// The given rate, or 25 when none is known; an encoder that takes only certain rates gets the nearest of
// them unless the rate is forced ("force_fps").
AVRational OutputFrameRate(const runtime::LogSource* task, const std::string& stream_name,
                           const AVCodec* encoder, int compliance, const TPendingValues& p) {
  const AVRational rate = p.FrameRate.num > 0 && p.FrameRate.den > 0 ? p.FrameRate : AVRational{25, 1};
  const AVRational* allowed = FrameRatesOf(encoder, compliance);
  if (allowed == nullptr || p.ForceFps) return rate;
  const AVRational nearest = allowed[runtime::avutil().av_find_nearest_q_idx(rate, allowed)];
  if (av_cmp_q(nearest, rate) != 0) {
    runtime::Log(task, runtime::llInfo,
                 runtime::TextFormat("%s: the %s encoder does not take %d/%d frames per second; it gets the "
                                     "nearest rate it takes, %d/%d",
                                     stream_name.c_str(), encoder->name, rate.num, rate.den, nearest.num,
                                     nearest.den));
  }
  return nearest;
}

// An encoder that takes any pixel format gets one its container can describe: the wanted one when the
// container has it, else the nearest the container has.
AVPixelFormat ContainerPixelFormat(const runtime::LogSource* task, const std::string& stream_name,
                                   const AVOutputFormat& muxer, AVCodecID codec_id, AVPixelFormat wanted) {
  const AVPixelFormat* formats = ContainerPixelFormats(&muxer, codec_id);
  if (formats == nullptr || wanted == AV_PIX_FMT_NONE) return wanted;
  for (const AVPixelFormat* candidate = formats; *candidate != AV_PIX_FMT_NONE; ++candidate) {
    if (*candidate == wanted) return wanted;
  }
  const AVPixelFormat chosen = runtime::avcodec().avcodec_find_best_pix_fmt_of_list(
      formats, wanted, HasAlpha(wanted) ? 1 : 0, nullptr);
  runtime::Log(
      task, runtime::llWarning,
      runtime::TextFormat("%s: the %s muxer cannot describe %s pictures in %s; they are converted to %s",
                          stream_name.c_str(), muxer.name, runtime::avcodec().avcodec_get_name(codec_id),
                          PixelFormatName(wanted), PixelFormatName(chosen)));
  return chosen;
}

// The size asked for, or the nearest one the encoder takes in its pixel format; the scaler makes up the
// difference.
PictureSize OutputPictureSize(const runtime::LogSource* task, const std::string& stream_name,
                              const AVCodec* encoder, AVCodecID codec_id, AVPixelFormat format, int width,
                              int height) {
  const PictureSize accepted = AcceptedPictureSize(codec_id, format, width, height);
  if (accepted != PictureSize{width, height}) {
    runtime::Log(task, runtime::llInfo,
                 runtime::TextFormat("%s: the %s encoder does not take %dx%d pictures in %s; they are scaled "
                                     "to %dx%d",
                                     stream_name.c_str(), EncoderName(encoder, codec_id), width, height,
                                     PixelFormatName(format), accepted.Width, accepted.Height));
  }
  return accepted;
}

}  // namespace

AVRational NearestAspectFraction(double value) {
  int exponent = static_cast<int>(std::nearbyint(std::log2(std::fabs(value) + 1e-20)));
  if (exponent < 0) exponent = 0;
  const std::int64_t denominator = std::int64_t{1} << (61 - exponent);
  const std::int64_t numerator =
      static_cast<std::int64_t>(std::nearbyint(value * static_cast<double>(denominator)));
  AVRational result{0, 1};
  runtime::avutil().av_reduce(&result.num, &result.den, numerator, denominator, 255);
  return result;
}

void TCustomFFmpeg::NewStream(OutputFile& output, AVMediaType kind) {
  TPendingValues& p = pending_;
  std::optional<std::string>& codec_name = kind == AVMEDIA_TYPE_VIDEO   ? p.VideoCodecName
                                           : kind == AVMEDIA_TYPE_AUDIO ? p.AudioCodecName
                                                                        : p.SubtitleCodecName;
  bool& stream_copy = kind == AVMEDIA_TYPE_VIDEO   ? p.VideoStreamCopy
                      : kind == AVMEDIA_TYPE_AUDIO ? p.AudioStreamCopy
                                                   : p.SubtitleStreamCopy;
  bool& disable = kind == AVMEDIA_TYPE_VIDEO   ? p.DisableVideo
                  : kind == AVMEDIA_TYPE_AUDIO ? p.DisableAudio
                                               : p.DisableSubtitle;
  std::string& language = kind == AVMEDIA_TYPE_VIDEO   ? p.VideoLanguage
                          : kind == AVMEDIA_TYPE_AUDIO ? p.AudioLanguage
                                                       : p.SubtitleLanguage;
  std::vector<std::string>& filters = kind == AVMEDIA_TYPE_VIDEO   ? p.VideoBitstreamFilters
                                      : kind == AVMEDIA_TYPE_AUDIO ? p.AudioBitstreamFilters
                                                                   : p.SubtitleBitstreamFilters;
  const std::uint32_t codec_tag = kind == AVMEDIA_TYPE_VIDEO   ? p.VideoCodecTag
                                  : kind == AVMEDIA_TYPE_AUDIO ? p.AudioCodecTag
                                                               : p.SubtitleCodecTag;
  // The stream's settings are used up whether or not the stream can be made.
  struct Consume {
    std::optional<std::string>& name;
    bool& copy;
    bool& disable;
    std::string& language;
    ~Consume() {
      name.reset();
      copy = false;
      disable = false;
      language.clear();
    }
  } consume{codec_name, stream_copy, disable, language};

  AVFormatContext* context = output.Format.get();
  const AVOutputFormat* format = context->oformat;
  const std::string library_name = context->url != nullptr ? context->url : "";

  OutputStreamSetup setup;
  setup.Kind = kind;
  setup.StreamCopy = stream_copy;
  AVCodecID codec_id = AV_CODEC_ID_NONE;
  const AVCodec* encoder = nullptr;
  const bool external_amr =
      !stream_copy && kind == AVMEDIA_TYPE_AUDIO && codec_name && UsesOwnAmrNbEncoder(*codec_name);
  if (external_amr) {
    // This generation's libavcodec has no AMR-NB encoder; the engine encodes it through libopencore-amrnb.
    setup.ExternalAmrNb = true;
    codec_id = AV_CODEC_ID_AMR_NB;
  } else if (!stream_copy) {
    const CodecLookup lookup = LookupCodec(codec_name, kind, true);
    if (!lookup.Found) throw FFmpegException(lookup.ErrorText);
    if (lookup.Codec != nullptr) {
      encoder = lookup.Codec;
      setup.ForcedEncoder = encoder;
      codec_id = encoder->id;
    } else {
      // Subtitles without a named encoder take the format's own as well (an output made for inputs is
      // given a named encoder or a copy instead, whichever carries the input's subtitles).
      codec_id = kind == AVMEDIA_TYPE_SUBTITLE ? format->subtitle_codec
                                               : runtime::avformat().av_guess_codec(
                                                     format, nullptr, library_name.c_str(), nullptr, kind);
      encoder = runtime::avcodec().avcodec_find_encoder(codec_id);
    }
  }

  AVStream* stream = runtime::avformat().avformat_new_stream(context, nullptr);
  if (stream == nullptr) throw FFmpegException("Could not alloc stream");
  stream->id = static_cast<int>(context->nb_streams) - 1;
  setup.Encoder.reset(runtime::avcodec().avcodec_alloc_context3(encoder));
  if (setup.Encoder == nullptr) throw FFmpegException("Could not alloc stream");
  AVCodecContext* codec = setup.Encoder.get();
  codec->codec_type = kind;
  codec->codec_id = codec_id;
  setup.BitstreamFilters = std::move(filters);
  filters.clear();
  codec->thread_count = p.ThreadCount;
  if (codec_tag != 0) codec->codec_tag = codec_tag;
  const bool format_wants_global_header = (format->flags & AVFMT_GLOBALHEADER) != 0;

  if (kind == AVMEDIA_TYPE_VIDEO) {
    if ((p.VideoGlobalHeader & 1) != 0 || (p.VideoGlobalHeader == 0 && format_wants_global_header)) {
      codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if ((p.VideoGlobalHeader & 2) != 0) codec->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    if (stream_copy) {
      const double aspect =
          p.FrameWidth != 0 && p.FrameHeight != 0
              ? static_cast<double>(p.FrameAspectRatio) * p.FrameHeight / static_cast<double>(p.FrameWidth)
              : static_cast<double>(p.FrameAspectRatio) * 3.0 / 4.0;
      stream->sample_aspect_ratio = NearestAspectFraction(aspect);
      codec->sample_aspect_ratio = stream->sample_aspect_ratio;
    } else {
      const std::string stream_name =
          runtime::TextFormat("Output stream #%d.%d", static_cast<int>(output_files_.size()), stream->index);
      generic_options_.ApplyTo(codec, generic_options_.Video(),
                               AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
      codec->framerate = OutputFrameRate(this, stream_name, encoder, codec->strict_std_compliance, p);
      codec->time_base = AVRational{codec->framerate.den, codec->framerate.num};
      codec->pix_fmt = static_cast<AVPixelFormat>(p.FramePixFmt);
      if (encoder != nullptr && encoder->pix_fmts != nullptr) {
        bool supported = false;
        for (const AVPixelFormat* candidate = encoder->pix_fmts; *candidate != AV_PIX_FMT_NONE; ++candidate) {
          supported = supported || *candidate == codec->pix_fmt;
        }
        if (!supported) codec->pix_fmt = encoder->pix_fmts[0];
      } else {
        codec->pix_fmt = ContainerPixelFormat(this, stream_name, *format, codec_id, codec->pix_fmt);
      }
      const PictureSize size =
          OutputPictureSize(this, stream_name, encoder, codec_id, codec->pix_fmt,
                            p.FrameWidth + p.PadLeft + p.PadRight, p.FrameHeight + p.PadTop + p.PadBottom);
      codec->width = size.Width;
      codec->height = size.Height;
      const double aspect =
          codec->width != 0 && codec->height != 0
              ? static_cast<double>(p.FrameAspectRatio) * codec->height / static_cast<double>(codec->width)
              : static_cast<double>(p.FrameAspectRatio) * 3.0 / 4.0;
      codec->sample_aspect_ratio = NearestAspectFraction(aspect);
      stream->sample_aspect_ratio = codec->sample_aspect_ratio;
      if (p.IntraOnly) codec->gop_size = 0;
      if (p.VideoQScale != 0 || p.SameQuality) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = static_cast<int>(FF_QP2LAMBDA * p.VideoQScale);
      }
      if (p.IntraMatrix)
        codec->intra_matrix = CopyToLibraryMemory(p.IntraMatrix->data(), p.IntraMatrix->size());
      if (p.InterMatrix)
        codec->inter_matrix = CopyToLibraryMemory(p.InterMatrix->data(), p.InterMatrix->size());
      if (p.RcOverride) {
        const std::vector<RcOverride> entries = ParseRateControlOverride(*p.RcOverride);
        if (!entries.empty()) {
          codec->rc_override = CopyToLibraryMemory(entries.data(), entries.size());
          codec->rc_override_count = static_cast<int>(entries.size());
        }
      }
      if (codec->rc_initial_buffer_occupancy == 0)
        codec->rc_initial_buffer_occupancy = codec->rc_buffer_size * 3 / 4;
      codec->intra_dc_precision = p.IntraDcPrecision - 8;
      if (p.DoPsnr) codec->flags |= AV_CODEC_FLAG_PSNR;
      if (p.PassNumber == 1) codec->flags |= AV_CODEC_FLAG_PASS1;
      if (p.PassNumber == 2) codec->flags |= AV_CODEC_FLAG_PASS2;
    }
  } else if (kind == AVMEDIA_TYPE_AUDIO) {
    if (format_wants_global_header) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (!stream_copy) {
      generic_options_.ApplyTo(codec, generic_options_.Audio(),
                               AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_AUDIO_PARAM);
      if (p.AudioQScale > -99999.0F) {
        codec->flags |= AV_CODEC_FLAG_QSCALE;
        codec->global_quality = static_cast<int>(FF_QP2LAMBDA * p.AudioQScale);
      }
      runtime::avutil().av_channel_layout_uninit(&codec->ch_layout);
      AVChannelLayout requested{};
      if (p.ChannelLayout != 0 &&
          runtime::avutil().av_channel_layout_from_mask(&requested,
                                                        static_cast<std::uint64_t>(p.ChannelLayout)) == 0 &&
          requested.nb_channels == p.AudioChannels) {
        codec->ch_layout = requested;
      } else {
        runtime::avutil().av_channel_layout_default(&codec->ch_layout,
                                                    p.AudioChannels > 0 ? p.AudioChannels : 2);
      }
      codec->sample_fmt = static_cast<AVSampleFormat>(p.AudioSampleFmt);
      if (encoder != nullptr && encoder->sample_fmts != nullptr) {
        bool supported = false;
        for (const AVSampleFormat* candidate = encoder->sample_fmts; *candidate != AV_SAMPLE_FMT_NONE;
             ++candidate) {
          supported = supported || *candidate == codec->sample_fmt;
        }
        if (!supported) codec->sample_fmt = encoder->sample_fmts[0];
      }
    } else {
      runtime::avutil().av_channel_layout_default(&codec->ch_layout,
                                                  p.AudioChannels > 0 ? p.AudioChannels : 2);
    }
    codec->sample_rate = p.AudioSampleRate;
    if (external_amr) {
      // AMR-NB is 8000 Hz mono 16-bit in 20 ms frames; the resampler brings any input there.
      codec->sample_rate = AmrNbEncoder::kSampleRate;
      codec->sample_fmt = AV_SAMPLE_FMT_S16;
      codec->frame_size = AmrNbEncoder::kFrameSamples;
      runtime::avutil().av_channel_layout_uninit(&codec->ch_layout);
      runtime::avutil().av_channel_layout_default(&codec->ch_layout, 1);
    }
    codec->time_base = AVRational{1, codec->sample_rate > 0 ? codec->sample_rate : 1};
  } else if (!stream_copy) {
    generic_options_.ApplyTo(codec, generic_options_.Subtitle(),
                             AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM);
  }

  if (!language.empty()) runtime::avutil().av_dict_set(&stream->metadata, "language", language.c_str(), 0);
  output.Streams.push_back(std::move(setup));
}

void TCustomFFmpeg::MakeScalerOutputWritable(TOutputStreamState& ost) {
  AVCodecContext* codec = ost.Encoder;
  const AVPixelFormat wanted = codec->pix_fmt;
  if (runtime::ScalerWrites(wanted)) return;
  const AVCodec* encoder = ost.ForcedEncoder != nullptr
                               ? ost.ForcedEncoder
                               : runtime::avcodec().avcodec_find_encoder(codec->codec_id);
  const AVFormatContext* context = output_files_[static_cast<std::size_t>(ost.FileIndex)].Format.get();
  const AVPixelFormat* allowed = encoder != nullptr && encoder->pix_fmts != nullptr
                                     ? encoder->pix_fmts
                                     : ContainerPixelFormats(context->oformat, codec->codec_id);
  // Without a list to choose from, the scaler's refusal is reported when it is made.
  if (allowed == nullptr) return;
  std::vector<AVPixelFormat> writable;
  for (const AVPixelFormat* candidate = allowed; *candidate != AV_PIX_FMT_NONE; ++candidate) {
    if (runtime::ScalerWrites(*candidate)) writable.push_back(*candidate);
  }
  if (writable.empty()) return;
  writable.push_back(AV_PIX_FMT_NONE);
  const AVPixelFormat chosen = runtime::avcodec().avcodec_find_best_pix_fmt_of_list(
      writable.data(), wanted, HasAlpha(wanted) ? 1 : 0, nullptr);
  const std::string stream_name = runtime::TextFormat("Output stream #%d.%d", ost.FileIndex, ost.StreamIndex);
  runtime::Log(this, runtime::llWarning,
               runtime::TextFormat("%s: the scaler cannot write pictures in %s; they are converted to %s",
                                   stream_name.c_str(), PixelFormatName(wanted), PixelFormatName(chosen)));
  codec->pix_fmt = chosen;
  // The new format may subsample the chroma; the shown shape stays what it was.
  const PictureSize size =
      OutputPictureSize(this, stream_name, encoder, codec->codec_id, chosen, codec->width, codec->height);
  if (size != PictureSize{codec->width, codec->height} && codec->sample_aspect_ratio.num > 0) {
    codec->sample_aspect_ratio =
        NearestAspectFraction(av_q2d(codec->sample_aspect_ratio) * codec->width * size.Height /
                              (static_cast<double>(codec->height) * size.Width));
    ost.Stream->sample_aspect_ratio = codec->sample_aspect_ratio;
  }
  codec->width = size.Width;
  codec->height = size.Height;
}

void TCustomFFmpeg::AddNewStream(const std::string& name, const std::string& /*value*/) {
  if (output_files_.empty()) throw FFmpegException("At least one output file must be specified");
  const AVMediaType kind = name == "newvideo"   ? AVMEDIA_TYPE_VIDEO
                           : name == "newaudio" ? AVMEDIA_TYPE_AUDIO
                                                : AVMEDIA_TYPE_SUBTITLE;
  NewStream(output_files_.back(), kind);
}

}  // namespace engine
