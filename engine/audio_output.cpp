// The audio output path: the output's sample clock kept in step with the input clock, the samples converted
// to the encoder's format, rate and channels, the volume applied, and the encoder fed whole frames from a
// FIFO.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/audio_volume.h"
#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

// Some demuxers leave the channel order unspecified: the resampler takes such input as the usual layout of
// that many channels.
AVChannelLayout UsableLayout(const AVChannelLayout& layout) {
  AVChannelLayout usable{};
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0) {
    runtime::avutil().av_channel_layout_default(&usable, layout.nb_channels > 0 ? layout.nb_channels : 2);
  } else {
    runtime::avutil().av_channel_layout_copy(&usable, &layout);
  }
  return usable;
}

// Whether the encoder takes frames of any length: variable frame sizes, or sample-based codecs such as PCM.
bool TakesAnyFrameSize(const AVCodecContext* encoder) {
  return encoder->frame_size <= 1 || (encoder->codec != nullptr &&
                                      (encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0);
}

// 768 kHz to 8 kHz is 96; DSD's 2.8 MHz to 44.1 kHz is 64.
constexpr std::int64_t kMaxResampleRatio = 256;

}  // namespace

void TCustomFFmpeg::AudioOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame) {
  AVCodecContext* encoder = ost.Encoder;
  const TPendingValues& p = pending_;
  const int channels = encoder->ch_layout.nb_channels;
  // The resampler is made from the frame's own values; a frame that lacks one carries nothing to convert.
  if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->format < 0 ||
      frame->ch_layout.nb_channels <= 0 || channels <= 0) {
    return;
  }

  // The converter follows the input's format, rate and layout; a change mid-stream makes a new one.
  const bool input_changed = ost.ResamplerInputFormat != frame->format ||
                             ost.ResamplerInputRate != frame->sample_rate ||
                             ost.ResamplerInputChannels != frame->ch_layout.nb_channels;
  if (ost.Resampler == nullptr || input_changed) {
    // A damaged header's rate (hundreds of megahertz) would have the resampler work out its filter for many
    // seconds, only to fail: no real pair of rates is this far apart.
    const std::int64_t larger = std::max(frame->sample_rate, encoder->sample_rate);
    const std::int64_t smaller = std::max(1, std::min(frame->sample_rate, encoder->sample_rate));
    if (larger / smaller > kMaxResampleRatio) {
      throw FFmpegException(runtime::TextFormat(
          "Can not resample %d channels @ %d Hz to %d channels @ %d Hz: the rates are too far apart",
          frame->ch_layout.nb_channels, frame->sample_rate, channels, encoder->sample_rate));
    }
    if (encoder->ch_layout.nb_channels != frame->ch_layout.nb_channels) ost.AudioResample = true;
    AVChannelLayout in_layout = UsableLayout(frame->ch_layout);
    AVChannelLayout out_layout = UsableLayout(encoder->ch_layout);
    SwrContext* raw = nullptr;
    const int allocated = runtime::swresample().swr_alloc_set_opts2(
        &raw, &out_layout, encoder->sample_fmt, encoder->sample_rate, &in_layout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    runtime::avutil().av_channel_layout_uninit(&in_layout);
    runtime::avutil().av_channel_layout_uninit(&out_layout);
    runtime::ResamplerPtr resampler(raw);
    if (allocated < 0 || runtime::swresample().swr_init(resampler.get()) < 0) {
      throw FFmpegException(runtime::TextFormat("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                                frame->ch_layout.nb_channels, frame->sample_rate, channels,
                                                encoder->sample_rate));
    }
    ost.Resampler = std::move(resampler);
    ost.ResamplerInputFormat = frame->format;
    ost.ResamplerInputRate = frame->sample_rate;
    ost.ResamplerInputChannels = frame->ch_layout.nb_channels;
  }
  if (ost.Fifo == nullptr) {
    ost.Fifo.reset(runtime::avutil().av_audio_fifo_alloc(encoder->sample_fmt, channels, 1024));
    if (ost.Fifo == nullptr) throw FFmpegException("av_fifo_alloc fail");
  }

  // Convert the whole block; the resampler may hold a few samples back.
  const std::int64_t capacity =
      runtime::swresample().swr_get_delay(ost.Resampler.get(), encoder->sample_rate) +
      runtime::avutil().av_rescale_rnd(frame->nb_samples, encoder->sample_rate, frame->sample_rate,
                                       AV_ROUND_UP) +
      16;
  if (capacity > INT32_MAX / 8) throw FFmpegException("Buffer sizes too large in do_audio_out");
  AVFrame* converted = ost.AudioFrame.get();
  runtime::avutil().av_frame_unref(converted);
  converted->format = encoder->sample_fmt;
  converted->nb_samples = static_cast<int>(capacity);
  if (runtime::avutil().av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout) < 0 ||
      runtime::avutil().av_frame_get_buffer(converted, 0) < 0) {
    throw FFmpegException("Out of memory in do_audio_out");
  }
  const int count = runtime::swresample().swr_convert(
      ost.Resampler.get(), converted->extended_data, converted->nb_samples,
      const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
  if (count < 0) {
    if (p.ExitOnError) throw FFmpegException("av_audio_convert() failed");
    runtime::Log(this, runtime::llError, "av_audio_convert() failed");
    return;
  }
  converted->nb_samples = count;
  if (p.AudioVolume != 256) {
    ApplyVolume(converted->extended_data, encoder->sample_fmt, channels, count, p.AudioVolume);
  }

  int skip = 0;  // converted samples to leave out at the start
  const int buffered = runtime::avutil().av_audio_fifo_size(ost.Fifo.get());
  const double sync_time = static_cast<double>(ost.SyncPts - p.StartTime) / 1000000.0;
  if (p.AudioSyncMethod != 0) {
    // The drift in samples of the output, measured against what the output has taken so far.
    const double delta = sync_time * encoder->sample_rate - static_cast<double>(ost.SyncOpts) - buffered;
    if (std::fabs(delta) > 50) {
      if (ist.IsStart ||
          std::fabs(delta) > static_cast<double>(p.AudioDriftThreshold) * encoder->sample_rate) {
        if (delta < 0) {
          skip = static_cast<int>(std::min<double>(-delta, count));
          if (p.Verbosity > 2) {
            runtime::Log(this, runtime::llVerbose,
                         runtime::TextFormat("discarding %d audio samples", static_cast<int>(-delta)));
          }
          if (skip >= count) return;  // nothing of this block remains
          ist.IsStart = false;
        } else {
          const int silence = static_cast<int>(delta);
          if (!WriteSilence(ost, silence)) throw FFmpegException("av_fifo_realloc2() failed");
          if (p.Verbosity > 2) {
            runtime::Log(this, runtime::llVerbose,
                         runtime::TextFormat("adding %d audio samples of silence", silence));
          }
          ist.IsStart = false;
        }
      } else if (p.AudioSyncMethod > 1) {
        const int limit = p.AudioSyncMethod;
        const int compensation = std::clamp(static_cast<int>(delta), -limit, limit);
        if (p.Verbosity > 2) {
          runtime::Log(this, runtime::llVerbose,
                       runtime::TextFormat("compensating audio timestamp drift:%f compensation:%d in:%d",
                                           delta, compensation, encoder->sample_rate));
        }
        runtime::swresample().swr_set_compensation(ost.Resampler.get(), compensation, encoder->sample_rate);
      }
    }
  } else {
    ost.SyncOpts = static_cast<std::int64_t>(std::nearbyint(sync_time * encoder->sample_rate)) - buffered;
  }

  // Into the FIFO, then out in the encoder's frames.
  std::uint8_t* planes[AV_NUM_DATA_POINTERS];
  const int bytes_per_sample = runtime::avutil().av_get_bytes_per_sample(encoder->sample_fmt);
  const bool planar = runtime::avutil().av_sample_fmt_is_planar(encoder->sample_fmt) != 0;
  const int plane_count = planar ? channels : 1;
  for (int plane = 0; plane < plane_count && plane < AV_NUM_DATA_POINTERS; ++plane) {
    planes[plane] = converted->extended_data[plane] +
                    static_cast<std::ptrdiff_t>(skip) * bytes_per_sample * (planar ? 1 : channels);
  }
  if (runtime::avutil().av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void**>(planes), count - skip) <
      count - skip) {
    throw FFmpegException("av_fifo_realloc2() failed");
  }
  EncodeAudioFromFifo(ost, false);
}

bool TCustomFFmpeg::WriteSilence(TOutputStreamState& ost, int samples) {
  if (samples <= 0) return true;
  AVCodecContext* encoder = ost.Encoder;
  AVFrame* silence = ost.SilenceFrame.get();
  runtime::avutil().av_frame_unref(silence);
  silence->format = encoder->sample_fmt;
  silence->nb_samples = samples;
  if (runtime::avutil().av_channel_layout_copy(&silence->ch_layout, &encoder->ch_layout) < 0 ||
      runtime::avutil().av_frame_get_buffer(silence, 0) < 0) {
    return false;
  }
  runtime::avutil().av_samples_set_silence(silence->extended_data, 0, samples, encoder->ch_layout.nb_channels,
                                           encoder->sample_fmt);
  return runtime::avutil().av_audio_fifo_write(
             ost.Fifo.get(), reinterpret_cast<void**>(silence->extended_data), samples) == samples;
}

void TCustomFFmpeg::EncodeAudioFromFifo(TOutputStreamState& ost, bool last) {
  AVCodecContext* encoder = ost.Encoder;
  AVAudioFifo* fifo = ost.Fifo.get();
  if (fifo == nullptr) return;
  const bool any_size = TakesAnyFrameSize(encoder) && !ost.ExternalAmrNb;
  const int frame_size = ost.ExternalAmrNb ? kAmrFrameSamples : encoder->frame_size;
  const bool small_last =
      encoder->codec != nullptr && (encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
  for (;;) {
    const int available = runtime::avutil().av_audio_fifo_size(fifo);
    if (available <= 0) return;
    int take;
    if (any_size) {
      take = std::min(available, 4096);
    } else if (available >= frame_size) {
      take = frame_size;
    } else if (last) {
      take = available;  // the tail: padded with silence unless the encoder takes a short last frame
    } else {
      return;
    }
    const int samples = any_size || (last && small_last) ? take : frame_size;
    AVFrame* out = ost.WorkFrame.get();
    runtime::avutil().av_frame_unref(out);
    out->format = encoder->sample_fmt;
    out->nb_samples = samples;
    out->sample_rate = encoder->sample_rate;
    if (runtime::avutil().av_channel_layout_copy(&out->ch_layout, &encoder->ch_layout) < 0 ||
        runtime::avutil().av_frame_get_buffer(out, 0) < 0) {
      throw FFmpegException("Out of memory in do_audio_out");
    }
    if (samples > take) {
      runtime::avutil().av_samples_set_silence(out->extended_data, take, samples - take,
                                               encoder->ch_layout.nb_channels, encoder->sample_fmt);
    }
    if (runtime::avutil().av_audio_fifo_read(fifo, reinterpret_cast<void**>(out->extended_data), take) <
        take) {
      throw FFmpegException("Audio encoding failed");
    }
    // Frames follow one another without gaps or overlaps, whatever the input clock's jitter.
    if (ost.SyncOpts < ost.NextAudioPts) ost.SyncOpts = ost.NextAudioPts;
    out->pts = ost.SyncOpts;
    ost.SyncOpts += samples;
    ost.NextAudioPts = ost.SyncOpts;
    if (ost.ExternalAmrNb) {
      EncodeAmrNbFrame(ost, out);
    } else {
      EncodeFrame(ost, out);
    }
    runtime::avutil().av_frame_unref(out);
  }
}

void TCustomFFmpeg::EncodeAmrNbFrame(TOutputStreamState& ost, const AVFrame* frame) {
  const std::vector<std::uint8_t> bytes =
      ost.AmrNb->EncodeFrame(reinterpret_cast<const std::int16_t*>(frame->extended_data[0]));
  AVPacket* packet = ost.OutPacket.get();
  runtime::avcodec().av_packet_unref(packet);
  if (runtime::avcodec().av_new_packet(packet, static_cast<int>(bytes.size())) < 0) {
    throw FFmpegException("Audio encoding failed");
  }
  std::copy(bytes.begin(), bytes.end(), packet->data);
  packet->pts = packet->dts = frame->pts;
  packet->duration = AmrNbEncoder::kFrameSamples;
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->stream_index = ost.StreamIndex;
  run_->AudioSize += packet->size;
  HandPacket(ost, packet, AVRational{1, AmrNbEncoder::kSampleRate});
}

void TCustomFFmpeg::FlushAudioOutput(TOutputStreamState& ost) {
  EncodeAudioFromFifo(ost, true);
}

}  // namespace engine
