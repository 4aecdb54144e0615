// The start of a conversion run: the stream tables, the mapping of output streams to input streams, copy or
// re-encoding set-up, the codecs opened, the metadata maps applied and the headers written.
#include <algorithm>
#include <cstring>

#include "engine/encoder_limits.h"
#include "engine/ffmpeg_exception.h"
#include "engine/video_filter_graph.h"
#include "engine/task.h"
#include "engine/transcode_pipeline.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/scaler.h"
#include "runtime/stream_kind.h"
#include "runtime/text_format.h"
#include "runtime/trim_blanks.h"

namespace engine {
namespace {

const char* KindName(const AVCodecParameters* parameters) {
  return runtime::StreamKindName(parameters->codec_type);
}

}  // namespace

void TCustomFFmpeg::Transcode() {
  run_ = std::make_unique<TRunState>();
  run_->Packet.reset(runtime::avcodec().av_packet_alloc());
  run_->OutPacket.reset(runtime::avcodec().av_packet_alloc());
  for (runtime::FramePtr* frame : {&run_->DecodedFrame, &run_->PreprocessedFrame}) {
    frame->reset(runtime::avutil().av_frame_alloc());
    if (*frame == nullptr) throw FFmpegException("av_mallocz fail");
  }
  if (!run_->Packet || !run_->OutPacket) throw FFmpegException("av_mallocz fail");

  BuildInputTables();
  BuildOutputTables();
  MapStreams();
  for (TOutputStreamState& ost : run_->OutputStreams) {
    TInputStreamState& ist = run_->InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
    if (const AVDictionaryEntry* language =
            runtime::avutil().av_dict_get(ist.Stream->metadata, "language", nullptr, 0);
        language != nullptr &&
        runtime::avutil().av_dict_get(ost.Stream->metadata, "language", nullptr, 0) == nullptr) {
      runtime::avutil().av_dict_set(&ost.Stream->metadata, "language", language->value, 0);
    }
    ost.Stream->disposition = ist.Stream->disposition;
    ost.Encoder->bits_per_raw_sample = ist.Decoder->bits_per_raw_sample;
    ost.Encoder->chroma_sample_location = ist.Decoder->chroma_sample_location;
    if (ost.StreamCopy) {
      SetUpStreamCopy(ost, ist);
    } else {
      SetUpEncoding(ost, ist);
    }
  }
  OpenEncoders();
  // Known before the decoders open: a pipelined run gives its video decoder the cores its stages leave.
  schedule_refusal_ = TranscodePipeline::Refusal(*this, *run_);
  OpenDecoders();
  for (TInputStreamState& ist : run_->InputStreams) {
    ist.Pts = 0;
    ist.NextPts = kNoTime;
    ist.IsStart = true;
  }
  ApplyMetaDataMaps();
  WriteHeaders();
  for (std::size_t file = 0; file < output_files_.size(); ++file)
    DumpOutputFormat(static_cast<int>(file));
  LogStreamMapping();
  MainLoop();
}

void TCustomFFmpeg::BuildInputTables() {
  const bool rate_emulation = pending_.RateEmulation;
  for (std::size_t file = 0; file < input_files_.size(); ++file) {
    InputFile& input = input_files_[file];
    TInputFileState state;
    state.FirstStream = static_cast<int>(run_->InputStreams.size());
    state.StreamCount = static_cast<int>(input.Format->nb_streams);
    const AVFormatContext& format = *input.Format;
    state.DiscontinuousTimes = (format.iformat->flags & AVFMT_TS_DISCONT) != 0;
    // A length guessed from the bit rate may be far too short: it tells nothing about where the file ends.
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0 &&
        format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
      const std::int64_t start = format.start_time != AV_NOPTS_VALUE ? format.start_time : 0;
      std::int64_t known_start = 0;
      std::int64_t known_end = 0;
      // A damaged header may hold any numbers: a range that does not fit the clock is no range.
      if (!__builtin_add_overflow(start, input.TsOffset, &known_start) &&
          !__builtin_add_overflow(known_start, format.duration, &known_end)) {
        state.KnownStart = known_start;
        state.KnownEnd = known_end;
      }
    }
    run_->InputFiles.push_back(state);
    for (int index = 0; index < state.StreamCount; ++index) {
      TInputStreamState ist;
      ist.FileIndex = static_cast<int>(file);
      ist.StreamIndex = index;
      ist.Stream = input.Format->streams[index];
      ist.Decoder = input.Streams[static_cast<std::size_t>(index)].Decoder.get();
      ist.ForcedDecoder = input.Streams[static_cast<std::size_t>(index)].ForcedDecoder;
      if (rate_emulation) ist.StartTime = runtime::avutil().av_gettime();
      run_->InputStreams.push_back(ist);
    }
  }
}

void TCustomFFmpeg::BuildOutputTables() {
  std::size_t total = 0;
  for (std::size_t file = 0; file < output_files_.size(); ++file) {
    if (output_files_[file].Format->nb_streams == 0) {
      DumpOutputFormat(static_cast<int>(file));
      throw FFmpegException(
          runtime::TextFormat("Output file #%d does not contain any stream", static_cast<int>(file)));
    }
    total += output_files_[file].Format->nb_streams;
  }
  const std::vector<TStreamMap>& maps = pending_.StreamMaps;
  if (!maps.empty() && maps.size() != total) {
    throw FFmpegException("Number of stream maps must match number of output streams");
  }
  const auto valid = [this](int file, int stream) {
    return file >= 0 && file < static_cast<int>(input_files_.size()) && stream >= 0 &&
           stream < static_cast<int>(input_files_[static_cast<std::size_t>(file)].Format->nb_streams);
  };
  for (const TStreamMap& map : maps) {
    if (!valid(map.FileIndex, map.StreamIndex)) {
      throw FFmpegException(
          runtime::TextFormat("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
    }
    if (!valid(map.SyncFileIndex, map.SyncStreamIndex)) {
      throw FFmpegException(
          runtime::TextFormat("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
    }
  }
  for (std::size_t file = 0; file < output_files_.size(); ++file) {
    OutputFile& output = output_files_[file];
    for (unsigned index = 0; index < output.Format->nb_streams; ++index) {
      TOutputStreamState ost;
      ost.FileIndex = static_cast<int>(file);
      ost.StreamIndex = static_cast<int>(index);
      ost.Stream = output.Format->streams[index];
      OutputStreamSetup& setup = output.Streams[index];
      ost.Encoder = setup.Encoder.get();
      ost.ForcedEncoder = setup.ForcedEncoder;
      ost.StreamCopy = setup.StreamCopy;
      ost.ExternalAmrNb = setup.ExternalAmrNb;
      ost.OutPacket.reset(runtime::avcodec().av_packet_alloc());
      if (ost.OutPacket == nullptr) throw FFmpegException("av_mallocz fail");
      for (runtime::FramePtr* frame :
           {&ost.WorkFrame, &ost.FilteredFrame, &ost.AudioFrame, &ost.SilenceFrame}) {
        frame->reset(runtime::avutil().av_frame_alloc());
        if (*frame == nullptr) throw FFmpegException("av_mallocz fail");
      }
      run_->OutputStreams.push_back(std::move(ost));
    }
  }
  run_->SubtitlesOnly = std::all_of(
      run_->OutputStreams.begin(), run_->OutputStreams.end(),
      [](const TOutputStreamState& ost) { return ost.Encoder->codec_type == AVMEDIA_TYPE_SUBTITLE; });
}

void TCustomFFmpeg::MapStreams() {
  const std::vector<TStreamMap>& maps = pending_.StreamMaps;
  std::vector<TInputStreamState>& inputs = run_->InputStreams;
  const auto position = [this](int file, int stream) {
    return run_->InputFiles[static_cast<std::size_t>(file)].FirstStream + stream;
  };
  // Cover pictures feed a video output only when the inputs hold no other video.
  const bool has_non_cover_video =
      std::any_of(inputs.begin(), inputs.end(), [](const TInputStreamState& ist) {
        return ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
               !runtime::IsAttachedPicture(*ist.Stream);
      });
  for (std::size_t i = 0; i < run_->OutputStreams.size(); ++i) {
    TOutputStreamState& ost = run_->OutputStreams[i];
    const AVMediaType kind = ost.Encoder->codec_type;
    const auto feeds = [kind, has_non_cover_video](const TInputStreamState& ist) {
      return ist.Stream->codecpar->codec_type == kind &&
             !(has_non_cover_video && runtime::IsAttachedPicture(*ist.Stream));
    };
    int source = -1;
    if (!maps.empty()) {
      const TStreamMap& map = maps[i];
      source = position(map.FileIndex, map.StreamIndex);
      const AVMediaType input_kind = inputs[static_cast<std::size_t>(source)].Stream->codecpar->codec_type;
      if (input_kind != kind) {
        DumpOutputFormat(ost.FileIndex);
        throw FFmpegException(
            runtime::TextFormat("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.FileIndex,
                                map.StreamIndex, runtime::StreamKindName(input_kind), ost.FileIndex,
                                ost.StreamIndex, runtime::StreamKindName(kind)));
      }
      ost.SyncInput = position(map.SyncFileIndex, map.SyncStreamIndex);
    } else {
      const int program_id = pending_.ProgramID;
      const OutputStreamSetup& setup = output_files_[static_cast<std::size_t>(ost.FileIndex)]
                                           .Streams[static_cast<std::size_t>(ost.StreamIndex)];
      if (setup.SourceFile >= 0) {
        // The stream was made for this input stream (a subtitle stream copied or converted from it).
        source = position(setup.SourceFile, setup.SourceStream);
      } else if (program_id != 0) {
        for (std::size_t file = 0; file < input_files_.size() && source < 0; ++file) {
          const AVFormatContext* context = input_files_[file].Format.get();
          for (unsigned program = 0; program < context->nb_programs && source < 0; ++program) {
            const AVProgram* found = context->programs[program];
            if (found->id != program_id) continue;
            for (unsigned entry = 0; entry < found->nb_stream_indexes; ++entry) {
              const int candidate =
                  position(static_cast<int>(file), static_cast<int>(found->stream_index[entry]));
              const TInputStreamState& ist = inputs[static_cast<std::size_t>(candidate)];
              if (ist.Discard && feeds(ist)) {
                source = candidate;
                break;
              }
            }
          }
        }
      } else {
        for (std::size_t candidate = 0; candidate < inputs.size(); ++candidate) {
          if (inputs[candidate].Discard && feeds(inputs[candidate])) {
            source = static_cast<int>(candidate);
            break;
          }
        }
      }
      if (source < 0 && program_id == 0) {
        for (std::size_t candidate = inputs.size(); candidate-- > 0;) {
          if (feeds(inputs[candidate])) {
            source = static_cast<int>(candidate);
            break;
          }
        }
      }
      if (source < 0) {
        DumpOutputFormat(ost.FileIndex);
        throw FFmpegException(
            runtime::TextFormat("Could not find input stream matching output stream #%d.%d (%s)",
                                ost.FileIndex, ost.StreamIndex, runtime::StreamKindName(kind)));
      }
      ost.SyncInput = source;
    }
    ost.SourceIndex = source;
    inputs[static_cast<std::size_t>(source)].Discard = false;
    ost.Active = true;
  }
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStreamState& ost, TInputStreamState& ist) {
  AVCodecParameters* out = ost.Stream->codecpar;
  const AVCodecParameters* in = ist.Stream->codecpar;
  const std::uint32_t forced_tag = ost.Encoder->codec_tag;
  const AVRational forced_aspect = ost.Stream->sample_aspect_ratio;
  if (runtime::avcodec().avcodec_parameters_copy(out, in) < 0) throw FFmpegException("av_mallocz fail");

  // The input's tag is kept where the output format knows it for the same codec, or knows no tag at all
  // for it; otherwise the muxer picks its own.
  const AVOutputFormat* format = output_files_[static_cast<std::size_t>(ost.FileIndex)].Format->oformat;
  if (forced_tag != 0) {
    out->codec_tag = forced_tag;
  } else if (format->codec_tag != nullptr &&
             runtime::avformat().av_codec_get_id(format->codec_tag, in->codec_tag) != in->codec_id &&
             runtime::avformat().av_codec_get_tag(format->codec_tag, in->codec_id) != 0) {
    out->codec_tag = 0;
  }
  ost.Stream->time_base = ist.Stream->time_base;

  switch (in->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (pending_.AudioVolume != 256) {
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      }
      if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) || out->codec_id == AV_CODEC_ID_AC3) {
        out->block_align = 0;
      }
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (OnTaskHook)
        throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
      if (pending_.HookModulesLoaded) {
        throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
      }
      if (preview_ || preview_bitmap_) {
        throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      }
      ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
      ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
      if (forced_aspect.num != 0) out->sample_aspect_ratio = forced_aspect;
      ost.Stream->sample_aspect_ratio = out->sample_aspect_ratio;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      break;
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
}

std::string TCustomFFmpeg::DamagedInputText(const TInputStreamState& ist, const char* missing) const {
  return runtime::TextFormat(
      "Input stream #%d.%d (%s) of '%s' has no known %s: the file may be damaged or cut short", ist.FileIndex,
      ist.StreamIndex, KindName(ist.Stream->codecpar),
      input_files_[static_cast<std::size_t>(ist.FileIndex)].FileName.c_str(), missing);
}

void TCustomFFmpeg::SetUpEncoding(TOutputStreamState& ost, TInputStreamState& ist) {
  AVCodecContext* codec = ost.Encoder;
  const AVCodecContext* icodec = ist.Decoder;
  const TPendingValues& p = pending_;
  switch (codec->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      // The decoded frames bring their own format, rate and layout; the encoder takes the input's rate and
      // format when the output gives none, and the library cannot open it without them.
      if (codec->sample_rate <= 0 || codec->sample_fmt == AV_SAMPLE_FMT_NONE) {
        throw FFmpegException(DamagedInputText(ist, "sample format or rate"));
      }
      ost.AudioResample = icodec->sample_rate != codec->sample_rate || p.AudioSyncMethod > 1;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      // Display times are milliseconds; picture subtitles are drawn on the source's canvas.
      if (codec->time_base.num <= 0 || codec->time_base.den <= 0) codec->time_base = AVRational{1, 1000};
      if (codec->width == 0 && codec->height == 0) {
        codec->width = icodec->width;
        codec->height = icodec->height;
      }
      break;
    case AVMEDIA_TYPE_VIDEO: {
      // The scaler and the filter graph are made from the input's format and size; the scaler library aborts
      // the process on an unknown format rather than failing.
      if (icodec->width <= 0 || icodec->height <= 0 ||
          runtime::avutil().av_pix_fmt_desc_get(icodec->pix_fmt) == nullptr) {
        throw FFmpegException(DamagedInputText(ist, "picture format or size"));
      }
      if (codec->pix_fmt == AV_PIX_FMT_NONE) {
        throw FFmpegException("Video pixel format is unknown, stream cannot be decoded");
      }
      ost.VideoCrop = p.CropTop + p.CropBottom + p.CropLeft + p.CropRight != 0;
      ost.VideoPad = p.PadTop + p.PadBottom + p.PadLeft + p.PadRight != 0;
      ost.VideoResample =
          !(codec->width == icodec->width - p.CropLeft - p.CropRight + p.PadLeft + p.PadRight &&
            codec->height == icodec->height - p.CropTop - p.CropBottom + p.PadTop + p.PadBottom &&
            codec->pix_fmt == icodec->pix_fmt);
      if (ost.VideoResample) MakeScalerOutputWritable(ost);
      if (ost.VideoCrop) {
        ost.TopBand = ost.ConfiguredTop = p.CropTop;
        ost.BottomBand = ost.ConfiguredBottom = p.CropBottom;
        ost.LeftBand = ost.ConfiguredLeft = p.CropLeft;
        ost.RightBand = ost.ConfiguredRight = p.CropRight;
      }
      if (ost.VideoPad) {
        ost.PadTop = p.PadTop;
        ost.PadBottom = p.PadBottom;
        ost.PadLeft = p.PadLeft;
        ost.PadRight = p.PadRight;
      }
      ost.ConfiguredHeight = icodec->height;
      ost.ConfiguredWidth = icodec->width;
      current_scaler_flags_ = ScalerFlagsOption();
      filter_error_text_.clear();
      if (video_filters_on_) {
        // The graph crops and scales; the pads are painted around what it delivers.
        VideoFilterSetup setup;
        setup.InputWidth = icodec->width;
        setup.InputHeight = icodec->height;
        setup.InputFormat = icodec->pix_fmt;
        setup.InputTimeBase = ist.Stream->time_base;
        setup.InputAspect = icodec->sample_aspect_ratio;
        setup.CropTop = p.CropTop;
        setup.CropBottom = p.CropBottom;
        setup.CropLeft = p.CropLeft;
        setup.CropRight = p.CropRight;
        setup.PadTop = p.PadTop;
        setup.PadBottom = p.PadBottom;
        setup.PadLeft = p.PadLeft;
        setup.PadRight = p.PadRight;
        setup.OutputWidth = codec->width;
        setup.OutputHeight = codec->height;
        setup.OutputFormat = codec->pix_fmt;
        setup.ScalerFlags = current_scaler_flags_;
        setup.Chain = p.VideoFilters;
        ost.Graph = std::make_unique<VideoFilterGraph>();
        if (!ost.Graph->Build(setup)) {
          filter_error_text_ = ost.Graph->ErrorText();
          throw FFmpegException(filter_error_text_.empty() ? "Error opening filters!"
                                                           : "Error opening filters: " + filter_error_text_);
        }
        codec->width = ost.Graph->OutputWidth() + p.PadLeft + p.PadRight;
        codec->height = ost.Graph->OutputHeight() + p.PadTop + p.PadBottom;
        const PictureSize accepted =
            AcceptedPictureSize(codec->codec_id, codec->pix_fmt, codec->width, codec->height);
        if (accepted != PictureSize{codec->width, codec->height}) {
          throw FFmpegException(runtime::TextFormat(
              "Error opening filters: the filter chain gives %dx%d pictures, which the %s encoder does "
              "not take in %s; end the chain with scale=%d:%d",
              ost.Graph->OutputWidth(), ost.Graph->OutputHeight(),
              runtime::avcodec().avcodec_get_name(codec->codec_id),
              runtime::avutil().av_get_pix_fmt_name(codec->pix_fmt), accepted.Width - p.PadLeft - p.PadRight,
              accepted.Height - p.PadTop - p.PadBottom));
        }
        ost.VideoResample = false;
      }
      if (ost.VideoPad || ost.VideoResample || (ost.VideoCrop && !video_filters_on_)) {
        ost.Picture.reset(runtime::avutil().av_frame_alloc());
        if (ost.Picture != nullptr) {
          ost.Picture->format = codec->pix_fmt;
          ost.Picture->width = codec->width;
          ost.Picture->height = codec->height;
        }
        if (ost.Picture == nullptr || runtime::avutil().av_frame_get_buffer(ost.Picture.get(), 0) < 0) {
          throw FFmpegException(ost.VideoResample ? "Cannot allocate temp picture, check pix fmt"
                                                  : "avpicture_alloc fail");
        }
      }
      if (ost.VideoResample) {
        ost.Scaler = runtime::NewScaler(
            icodec->width - p.CropLeft - p.CropRight, icodec->height - p.CropTop - p.CropBottom,
            icodec->pix_fmt, codec->width - p.PadLeft - p.PadRight, codec->height - p.PadTop - p.PadBottom,
            codec->pix_fmt, current_scaler_flags_);
        if (ost.Scaler == nullptr) throw FFmpegException("Cannot get resampling context");
        codec->bits_per_raw_sample = 0;
      }
      ost.ResampleHeight = icodec->height - p.CropTop - p.CropBottom;
      ost.ResampleWidth = icodec->width - p.CropLeft - p.CropRight;
      ost.ResamplePixFmt = icodec->pix_fmt;
      break;
    }
    default:
      throw FFmpegException("invalid codec_type of output stream");
  }
  ost.EncodingNeeded = true;
  ist.DecodingNeeded = true;
  if ((codec->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) != 0) {
    OpenTwoPassLog(ost, static_cast<int>(&ost - run_->OutputStreams.data()));
  }
}

void TCustomFFmpeg::OpenEncoders() {
  for (TOutputStreamState& ost : run_->OutputStreams) {
    if (!ost.EncodingNeeded) continue;
    AVCodecContext* codec = ost.Encoder;
    const char* kind = runtime::StreamKindName(codec->codec_type);
    if (ost.ExternalAmrNb) {
      OpenAmrNbEncoder(ost);
      continue;
    }
    if (codec->codec_type == AVMEDIA_TYPE_SUBTITLE) GiveSubtitleHeader(ost);
    const AVCodec* encoder = ost.ForcedEncoder != nullptr
                                 ? ost.ForcedEncoder
                                 : runtime::avcodec().avcodec_find_encoder(codec->codec_id);
    if (encoder == nullptr || (codec->codec != nullptr && codec->codec != encoder)) {
      LogStreamMapping();
      const std::string message =
          runtime::TextFormat("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                              static_cast<int>(codec->codec_id), ost.FileIndex, ost.StreamIndex, kind);
      runtime::Log(this, runtime::llError, message);
      throw FFmpegException(message);
    }
    int opened;
    {
      std::lock_guard lock(runtime::CodecLock());
      opened = runtime::avcodec().avcodec_open2(codec, encoder, nullptr);
      ost.EncoderOpen = opened >= 0;
    }
    if (opened < 0) {
      LogStreamMapping();
      const std::string message = runtime::TextFormat(
          "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such as "
          "bit_rate, "
          "rate, width or height",
          ost.FileIndex, ost.StreamIndex, kind);
      runtime::Log(this, runtime::llError, message + ": " + runtime::LibraryErrorText(opened));
      throw FFmpegException(message);
    }
    if (runtime::avcodec().avcodec_parameters_from_context(ost.Stream->codecpar, codec) < 0) {
      throw FFmpegException("av_mallocz fail");
    }
    ost.Stream->time_base = codec->time_base;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) ost.Stream->avg_frame_rate = codec->framerate;
    run_->ExtraSize += codec->extradata_size;
  }
  // Bitstream filters start from the parameters the stream now has, and hand theirs to the muxer.
  for (TOutputStreamState& ost : run_->OutputStreams) {
    const OutputStreamSetup& setup = output_files_[static_cast<std::size_t>(ost.FileIndex)]
                                         .Streams[static_cast<std::size_t>(ost.StreamIndex)];
    for (const std::string& name : setup.BitstreamFilters) {
      const AVBitStreamFilter* filter = runtime::avcodec().av_bsf_get_by_name(name.c_str());
      AVBSFContext* raw = nullptr;
      if (filter == nullptr || runtime::avcodec().av_bsf_alloc(filter, &raw) < 0) {
        throw FFmpegException("Unknown bitstream filter " + name);
      }
      runtime::BitstreamFilterPtr context(raw);
      const AVCodecParameters* source =
          ost.Filters.empty() ? ost.Stream->codecpar : ost.Filters.back()->par_out;
      const AVRational time_base =
          ost.Filters.empty() ? ost.Stream->time_base : ost.Filters.back()->time_base_out;
      runtime::avcodec().avcodec_parameters_copy(context->par_in, source);
      context->time_base_in = time_base;
      const int initialised = runtime::avcodec().av_bsf_init(context.get());
      if (initialised < 0) {
        throw FFmpegException(runtime::TextFormat("%s failed for stream %d, codec %s: %s", name.c_str(),
                                                  ost.StreamIndex,
                                                  runtime::avcodec().avcodec_get_name(source->codec_id),
                                                  runtime::LibraryErrorText(initialised).c_str()));
      }
      ost.Filters.push_back(std::move(context));
    }
    if (!ost.Filters.empty()) {
      runtime::avcodec().avcodec_parameters_copy(ost.Stream->codecpar, ost.Filters.back()->par_out);
      ost.Stream->time_base = ost.Filters.back()->time_base_out;
    }
  }
}

void TCustomFFmpeg::OpenAmrNbEncoder(TOutputStreamState& ost) {
  AVCodecContext* codec = ost.Encoder;
  ost.AmrNb = std::make_unique<AmrNbEncoder>();
  if (!ost.AmrNb->Open(codec->bit_rate > 0 ? codec->bit_rate : 12200)) {
    LogStreamMapping();
    const std::string message = runtime::TextFormat(
        "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters such as "
        "bit_rate, "
        "rate, width or height",
        ost.FileIndex, ost.StreamIndex, runtime::StreamKindName(codec->codec_type));
    runtime::Log(this, runtime::llError, message + ": " + ost.AmrNb->ErrorText());
    throw FFmpegException(message + ": " + ost.AmrNb->ErrorText());
  }
  codec->bit_rate = AmrNbEncoder::BitRateOfMode(ost.AmrNb->Mode());
  AVCodecParameters* parameters = ost.Stream->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_AUDIO;
  parameters->codec_id = AV_CODEC_ID_AMR_NB;
  parameters->sample_rate = AmrNbEncoder::kSampleRate;
  parameters->frame_size = AmrNbEncoder::kFrameSamples;
  parameters->bit_rate = codec->bit_rate;
  runtime::avutil().av_channel_layout_uninit(&parameters->ch_layout);
  runtime::avutil().av_channel_layout_default(&parameters->ch_layout, 1);
  ost.Stream->time_base = AVRational{1, AmrNbEncoder::kSampleRate};
}

void TCustomFFmpeg::GiveSubtitleHeader(TOutputStreamState& ost) {
  // Text subtitle encoders start from the styles the decoder describes (the ASS header), which the decoder
  // makes when it opens: its decoder is opened first.
  TInputStreamState& ist = run_->InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
  if (!ist.DecodingNeeded) return;
  OpenDecoder(ist);
  const AVCodecContext* decoder = ist.Decoder;
  AVCodecContext* encoder = ost.Encoder;
  if (encoder->subtitle_header != nullptr || decoder->subtitle_header == nullptr ||
      decoder->subtitle_header_size <= 0) {
    return;
  }
  // The encoder context frees it, so it comes from the library's allocator; one byte more keeps it a string.
  const auto size = static_cast<std::size_t>(decoder->subtitle_header_size);
  auto* header = static_cast<std::uint8_t*>(runtime::avutil().av_mallocz(size + 1));
  if (header == nullptr) throw FFmpegException("av_mallocz fail");
  std::memcpy(header, decoder->subtitle_header, size);
  encoder->subtitle_header = header;
  encoder->subtitle_header_size = decoder->subtitle_header_size;
}

void TCustomFFmpeg::OpenDecoders() {
  for (TInputStreamState& ist : run_->InputStreams) {
    if (ist.DecodingNeeded) OpenDecoder(ist);
  }
}

void TCustomFFmpeg::OpenDecoder(TInputStreamState& ist) {
  if (ist.DecoderOpen) return;
  const char* kind = KindName(ist.Stream->codecpar);
  const AVCodec* decoder = ist.ForcedDecoder != nullptr
                               ? ist.ForcedDecoder
                               : runtime::avcodec().avcodec_find_decoder(ist.Stream->codecpar->codec_id);
  if (decoder == nullptr) {
    LogStreamMapping();
    const std::string message = runtime::TextFormat(
        "Decoder (codec id %d) not found for input stream #%d.%d (%s)",
        static_cast<int>(ist.Stream->codecpar->codec_id), ist.FileIndex, ist.StreamIndex, kind);
    runtime::Log(this, runtime::llError, message);
    throw FFmpegException(message);
  }
  if (schedule_refusal_.empty() && pending_.ThreadCount == 0 &&
      ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    ist.Decoder->thread_count = TranscodePipeline::DecoderThreads(*run_);
  }
  int opened;
  {
    std::lock_guard lock(runtime::CodecLock());
    opened = runtime::avcodec().avcodec_open2(ist.Decoder, decoder, nullptr);
    ist.DecoderOpen = opened >= 0;
  }
  if (opened < 0) {
    LogStreamMapping();
    const std::string message = runtime::TextFormat(
        "Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex, kind);
    runtime::Log(this, runtime::llError, message + ": " + runtime::LibraryErrorText(opened));
    throw FFmpegException(message);
  }
}

void TCustomFFmpeg::ApplyMetaDataMaps() {
  const int outputs = static_cast<int>(output_files_.size());
  const int inputs = static_cast<int>(input_files_.size());
  for (const TMetaDataMap& map : pending_.MetaDataMaps) {
    std::string message;
    if (map.OutFile < 0 || map.OutFile >= outputs) {
      message = runtime::TextFormat("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile,
                                    map.OutFile, map.InFile);
    } else if (map.InFile < 0 || map.InFile >= inputs) {
      message = runtime::TextFormat("Invalid input file index %d map_meta_data(%d,%d)", map.InFile,
                                    map.OutFile, map.InFile);
    }
    if (!message.empty()) {
      LogStreamMapping();
      runtime::Log(this, runtime::llError, message);
      throw FFmpegException(message);
    }
    AVFormatContext* out = output_files_[static_cast<std::size_t>(map.OutFile)].Format.get();
    const AVFormatContext* in = input_files_[static_cast<std::size_t>(map.InFile)].Format.get();
    runtime::avutil().av_dict_copy(&out->metadata, in->metadata, 0);
  }
}

void TCustomFFmpeg::WriteHeaders() {
  for (std::size_t file = 0; file < output_files_.size(); ++file) {
    OutputFile& output = output_files_[file];
    const int written =
        runtime::avformat().avformat_write_header(output.Format.get(), output.MuxerOptions.Address());
    if (written < 0) {
      LogStreamMapping();
      runtime::Log(this, runtime::llError,
                   runtime::DescribeLibraryError("Writing the header of", output.FileName, written));
      const std::string message =
          runtime::TextFormat("Could not write header for output file #%d (incorrect codec parameters ?)",
                              static_cast<int>(file));
      runtime::Log(this, runtime::llError, message);
      // The library's reason goes with it: a full disk is no matter of codec parameters.
      throw FFmpegException(message + ": " + runtime::LibraryErrorText(written));
    }
    output.HeaderWritten = true;
    // Muxer options the muxer did not take would otherwise vanish without a word.
    const AVDictionaryEntry* unused = nullptr;
    while ((unused = runtime::avutil().av_dict_get(output.MuxerOptions.Get(), "", unused,
                                                   AV_DICT_IGNORE_SUFFIX)) != nullptr) {
      runtime::Log(this, runtime::llWarning,
                   runtime::TextFormat("Option %s not used by the %s muxer of '%s'", unused->key,
                                       output.Format->oformat->name, output.FileName.c_str()));
    }
  }
  bool all_rtp = !output_files_.empty();
  std::vector<AVFormatContext*> contexts;
  for (OutputFile& output : output_files_) {
    all_rtp = all_rtp && std::strcmp(output.Format->oformat->name, "rtp") == 0;
    contexts.push_back(output.Format.get());
  }
  if (all_rtp) {
    char sdp[2048] = {};
    runtime::avformat().av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp, sizeof sdp);
    runtime::Log(this, runtime::llInfo, "SDP:\r\n" + std::string(runtime::TrimBlanks(sdp)));
  }
}

void TCustomFFmpeg::DumpOutputFormat(int file_index) {
  const OutputFile& output = output_files_[static_cast<std::size_t>(file_index)];
  runtime::avformat().av_dump_format(output.Format.get(), file_index, output.Format->url, 1);
}

void TCustomFFmpeg::LogStreamMapping() {
  if (pending_.Verbosity < 0 || run_ == nullptr) return;
  runtime::Log(this, runtime::llVerbose, "Stream mapping:");
  for (const TOutputStreamState& ost : run_->OutputStreams) {
    const TInputStreamState& source = run_->InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
    std::string line =
        runtime::TextFormat("  Stream #%d.%d -> #%d.%d (%s)", source.FileIndex, source.StreamIndex,
                            ost.FileIndex, ost.StreamIndex, runtime::StreamKindName(ost.Encoder->codec_type));
    if (ost.SyncInput != ost.SourceIndex) {
      const TInputStreamState& sync = run_->InputStreams[static_cast<std::size_t>(ost.SyncInput)];
      line += runtime::TextFormat(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex,
                                  KindName(sync.Stream->codecpar));
    }
    runtime::Log(this, runtime::llVerbose, line);
  }
}

}  // namespace engine
