// Sound: the audio decode step (send/receive, then swresample to packed signed 16-bit with one or two
// channels) and the device's callback with volume and mute.
#include <cstring>

#include "player/playback.h"
#include "runtime/logger.h"

namespace player {

namespace {

// Makes sure the resampler converts the frame's format, rate and layout. Under AudioMutex.
bool PrepareResampler(TPlayback& playback, const AVFrame& frame) {
  const AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
  if (playback.Resampler != nullptr && playback.ResamplerFormat == format) return true;
  playback.Resampler.reset();
  AVChannelLayout out_layout{};
  runtime::avutil().av_channel_layout_default(&out_layout, playback.AudioChannels);
  AVChannelLayout in_layout{};
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels <= 0) {
    runtime::avutil().av_channel_layout_default(&in_layout, std::max(frame.ch_layout.nb_channels, 1));
  } else {
    runtime::avutil().av_channel_layout_copy(&in_layout, &frame.ch_layout);
  }
  SwrContext* context = nullptr;
  const int made =
      runtime::swresample().swr_alloc_set_opts2(&context, &out_layout, AV_SAMPLE_FMT_S16, playback.AudioRate,
                                                &in_layout, format, frame.sample_rate, 0, nullptr);
  runtime::avutil().av_channel_layout_uninit(&in_layout);
  runtime::avutil().av_channel_layout_uninit(&out_layout);
  runtime::ResamplerPtr owned(context);
  if (made < 0 || runtime::swresample().swr_init(context) < 0) {
    const char* name = runtime::avutil().av_get_sample_fmt_name(format);
    PlayerLog(playback, runtime::llError,
              std::string("Cannot convert ") + (name != nullptr ? name : "?") +
                  " sample format to s16 sample format");
    return false;
  }
  playback.Resampler = std::move(owned);
  playback.ResamplerFormat = format;
  return true;
}

// Converts a received frame into AudioBuffer. Returns the byte count (0 for none). Under AudioMutex.
int ConvertFrame(TPlayback& playback, const AVFrame& frame) {
  if (!PrepareResampler(playback, frame)) return 0;
  SwrContext* resampler = playback.Resampler.get();
  // Sized from the sample count: what the resampler holds plus this frame, at the output rate.
  const std::int64_t out_samples =
      runtime::avutil().av_rescale_rnd(
          runtime::swresample().swr_get_delay(resampler, frame.sample_rate) + frame.nb_samples,
          playback.AudioRate, frame.sample_rate, AV_ROUND_UP) +
      16;
  const std::size_t bytes =
      static_cast<std::size_t>(out_samples) * 2U * static_cast<std::size_t>(playback.AudioChannels);
  if (playback.AudioBuffer.size() < bytes) playback.AudioBuffer.resize(bytes);
  std::uint8_t* out[1] = {playback.AudioBuffer.data()};
  const int converted = runtime::swresample().swr_convert(
      resampler, out, static_cast<int>(out_samples), const_cast<const std::uint8_t**>(frame.extended_data),
      frame.nb_samples);
  if (converted < 0) {
    PlayerLog(playback, runtime::llError, "av_audio_convert() failed");
    return 0;
  }
  playback.ResamplerHeld =
      static_cast<double>(runtime::swresample().swr_get_delay(resampler, playback.AudioRate)) /
      playback.AudioRate;
  return converted * 2 * playback.AudioChannels;
}

// The audio decode step: the byte count now in AudioBuffer, or -1 when nothing is there. Under AudioMutex.
int DecodeAudio(TPlayback& playback) {
  AVCodecContext* codec = playback.AudioCodec.get();
  AVFrame* frame = playback.AudioFrame.get();
  for (;;) {
    const int received = runtime::avcodec().avcodec_receive_frame(codec, frame);
    if (received >= 0) {
      const double rate = frame->sample_rate > 0 ? frame->sample_rate : playback.AudioRate;
      if (frame->pts != AV_NOPTS_VALUE) {
        playback.AudioClock = static_cast<double>(frame->pts) * av_q2d(playback.AudioStream->time_base) +
                              frame->nb_samples / rate;
      } else {
        playback.AudioClock += frame->nb_samples / rate;
      }
      const int bytes = ConvertFrame(playback, *frame);
      runtime::avutil().av_frame_unref(frame);
      if (bytes > 0) return bytes;
      continue;
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF)
      PlayerLog(playback, runtime::llInfo, "avcodec_decode_audio2() failed");
    if (playback.Paused || playback.AudioQueue.Aborted()) return -1;
    TQueuedPacket entry;
    if (playback.AudioQueue.Get(entry, false) <= 0) return -1;
    if (entry.IsFlush()) {
      runtime::avcodec().avcodec_flush_buffers(codec);
      playback.Resampler.reset();
      playback.ResamplerHeld = 0;
      continue;
    }
    // A packet the decoder refuses costs only that packet.
    if (runtime::avcodec().avcodec_send_packet(codec, entry.Packet.get()) < 0)
      PlayerLog(playback, runtime::llInfo, "avcodec_decode_audio2() failed");
  }
}

void CopyToWaveform(TPlayback& playback, int bytes) {
  const std::int16_t* samples = reinterpret_cast<const std::int16_t*>(playback.AudioBuffer.data());
  int count = bytes / 2;
  while (count > 0) {
    const int run = std::min(count, TPlayback::kWaveSamples - playback.WaveIndex);
    std::memcpy(playback.WaveSamples.data() + playback.WaveIndex, samples, static_cast<std::size_t>(run) * 2);
    samples += run;
    count -= run;
    playback.WaveIndex = (playback.WaveIndex + run) % TPlayback::kWaveSamples;
  }
}

}  // namespace

void AudioCallback(void* userdata, Uint8* stream, int length) {
  TPlayback& playback = *static_cast<TPlayback*>(userdata);
  // SDL2 hands the buffer over uncleared: mixing adds to it.
  std::memset(stream, 0, static_cast<std::size_t>(length));
  std::lock_guard lock(playback.AudioMutex);
  playback.CallbackStart = runtime::avutil().av_gettime();
  playback.CallbackRan = true;
  std::size_t real_bytes = 0;
  const bool mute = playback.Shared->Mute;
  const int volume = playback.Shared->AudioVolume;
  while (length > 0) {
    if (playback.AudioBufferIndex >= playback.AudioBufferSize) {
      const int decoded = DecodeAudio(playback);
      if (playback.AudioQueue.Aborted()) break;
      if (decoded < 0) {
        playback.AudioBufferSize = 1024;
        if (playback.AudioBuffer.size() < 1024) playback.AudioBuffer.resize(1024);
        std::memset(playback.AudioBuffer.data(), 0, 1024);
        playback.AudioBufferSilent = true;
      } else {
        if (playback.Waveform) CopyToWaveform(playback, decoded);
        playback.AudioBufferSize = static_cast<std::size_t>(decoded);
        playback.AudioBufferSilent = false;
      }
      playback.AudioBufferIndex = 0;
    }
    const std::size_t n =
        std::min(playback.AudioBufferSize - playback.AudioBufferIndex, static_cast<std::size_t>(length));
    if (!mute)
      runtime::sdl().SDL_MixAudioFormat(stream, playback.AudioBuffer.data() + playback.AudioBufferIndex,
                                        AUDIO_S16SYS, static_cast<Uint32>(n), volume);
    if (!playback.AudioBufferSilent) real_bytes += n;
    playback.AudioBufferIndex += n;
    stream += n;
    length -= static_cast<int>(n);
  }
  playback.CallbackBytes = real_bytes;
}

}  // namespace player
