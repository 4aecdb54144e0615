// The read thread: opens the file, chooses and opens the streams, then feeds the packet queues, carries out
// pause, play and seek requests, and at the end closes the streams and the file.
#include <chrono>
#include <limits>

#include "player/playback.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"

namespace player {

namespace {

constexpr int kMaxQueueBytes = 15 * 1024 * 1024;
constexpr int kAudioQueueBytes = 327680;
constexpr int kVideoQueuePackets = 5;

void Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int InterruptCallback(void* opaque) {
  return static_cast<TPlayback*>(opaque)->AbortRequest.load() ? 1 : 0;
}

runtime::CodecContextPtr OpenDecoder(TPlayback& playback, AVStream* stream) {
  const AVCodec* codec = runtime::avcodec().avcodec_find_decoder(stream->codecpar->codec_id);
  runtime::CodecContextPtr context(codec != nullptr ? runtime::avcodec().avcodec_alloc_context3(codec)
                                                    : nullptr);
  bool opened = false;
  if (context != nullptr &&
      runtime::avcodec().avcodec_parameters_to_context(context.get(), stream->codecpar) >= 0) {
    context->workaround_bugs = 1;
    context->err_recognition = 1;
    context->error_concealment = 3;
    context->thread_count = 1;
    context->pkt_timebase = stream->time_base;
    std::lock_guard lock(runtime::CodecLock());
    opened = runtime::avcodec().avcodec_open2(context.get(), codec, nullptr) >= 0;
  }
  if (!opened) {
    PlayerLog(playback, runtime::llError, "avcodec_open() failed.");
    if (context != nullptr) {
      std::lock_guard lock(runtime::CodecLock());
      context.reset();
    }
  }
  return context;
}

bool OpenAudioStream(TPlayback& playback, int index) {
  AVStream* stream = playback.Format->streams[index];
  runtime::CodecContextPtr codec = OpenDecoder(playback, stream);
  if (codec == nullptr) return false;
  const int channels = codec->ch_layout.nb_channels == 1 ? 1 : 2;
  SDL_AudioSpec wanted{};
  wanted.freq = codec->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(channels);
  wanted.silence = 0;
  wanted.samples = 1024;
  wanted.callback = AudioCallback;
  wanted.userdata = &playback;
  if (wanted.freq <= 0) {
    PlayerLog(playback, runtime::llError, "avcodec_open() failed.");
    std::lock_guard lock(runtime::CodecLock());
    codec.reset();
    return false;
  }
  SDL_AudioSpec granted{};
  const SDL_AudioDeviceID device = runtime::sdl().SDL_WasInit(SDL_INIT_AUDIO) != 0
                                       ? runtime::sdl().SDL_OpenAudioDevice(nullptr, 0, &wanted, &granted, 0)
                                       : 0;
  if (device == 0) {
    const char* reason = runtime::sdl().SDL_WasInit(SDL_INIT_AUDIO) != 0 ? runtime::sdl().SDL_GetError()
                                                                         : "SDL audio did not start";
    PlayerLog(playback, runtime::llError, std::string("SDL_OpenAudio() failed: ") + reason);
    PlayerLog(playback, runtime::llWarning, "no sound device: " + playback.FileName + " plays without sound");
  }
  playback.AudioIndex = index;
  playback.AudioStream = stream;
  playback.AudioCodec = std::move(codec);
  playback.AudioChannels = channels;
  playback.AudioRate = wanted.freq;
  playback.AudioDurationUS =
      stream->duration != AV_NOPTS_VALUE
          ? runtime::avutil().av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000000})
          : -1;
  playback.AudioPacket.reset(runtime::avcodec().av_packet_alloc());
  playback.AudioFrame.reset(runtime::avutil().av_frame_alloc());
  stream->discard = AVDISCARD_DEFAULT;
  if (device != 0) {
    playback.AudioDevice.Assign(device);
    runtime::sdl().SDL_PauseAudioDevice(device, 0);
  } else {
    playback.SilentOutput.Start(AudioCallback, &playback, wanted.freq, channels, wanted.samples);
  }
  return true;
}

bool OpenVideoStream(TPlayback& playback, int index) {
  AVStream* stream = playback.Format->streams[index];
  runtime::CodecContextPtr codec = OpenDecoder(playback, stream);
  if (codec == nullptr) return false;
  playback.VideoIndex = index;
  playback.VideoStream = stream;
  playback.VideoCodec = std::move(codec);
  stream->discard = AVDISCARD_DEFAULT;
  {
    std::lock_guard lock(playback.ClockMutex);
    playback.FrameLastDelay = 0.04;
    playback.FrameTimer = static_cast<double>(runtime::avutil().av_gettime()) / 1000000.0;
    playback.VideoCurrentPtsTime = runtime::avutil().av_gettime();
  }
  playback.VideoThread = std::thread([&playback] { VideoThreadMain(playback); });
  return true;
}

void CloseStreams(TPlayback& playback) {
  if (playback.VideoIndex >= 0) {
    playback.VideoQueue.Abort();
    {
      std::lock_guard lock(playback.PictureMutex);
      playback.PictureChanged.notify_all();
    }
    if (playback.VideoThread.joinable()) playback.VideoThread.join();
    playback.VideoQueue.Flush();
    playback.VideoStream->discard = AVDISCARD_ALL;
    std::lock_guard lock(runtime::CodecLock());
    playback.VideoCodec.reset();
    playback.VideoIndex = -1;
  }
  if (playback.AudioIndex >= 0) {
    playback.AudioQueue.Abort();
    playback.AudioDevice.Reset();  // both wait for a running callback
    playback.SilentOutput.Stop();
    playback.AudioQueue.Flush();
    {
      std::lock_guard lock(playback.AudioMutex);
      playback.Resampler.reset();
    }
    playback.AudioStream->discard = AVDISCARD_ALL;
    std::lock_guard lock(runtime::CodecLock());
    playback.AudioCodec.reset();
    playback.AudioIndex = -1;
    playback.AudioDurationUS = -1;
  }
}

bool OpenFile(TPlayback& playback) {
  runtime::FormatContextPtr allocated(runtime::avformat().avformat_alloc_context());
  if (allocated == nullptr) {
    playback.OpenErrorText = runtime::OpenErrorText(playback.FileName, AVERROR(ENOMEM));
    return false;
  }
  runtime::InstallFileLayer(allocated.get());
  allocated->interrupt_callback.callback = InterruptCallback;
  allocated->interrupt_callback.opaque = &playback;
  const bool library_opens = runtime::IsNeverWrappedUrl(playback.FileName);
  if (!library_opens) {
    int error = 0;
    // A named pipe without a writer, or one that stalls, must not hold the close up.
    const AVIOInterruptCB interrupt{InterruptCallback, &playback};
    playback.Io = runtime::OpenFileIo(playback.FileName, AVIO_FLAG_READ, &error, &interrupt);
    if (playback.Io == nullptr) {
      playback.OpenErrorText = runtime::OpenErrorText(playback.FileName, error);
      return false;
    }
    allocated->pb = playback.Io.get();
  }
  runtime::Dictionary options;
  if (playback.Shared->FrameWidth > 0 && playback.Shared->FrameHeight > 0)
    runtime::avutil().av_dict_set(
        options.Address(), "video_size",
        (std::to_string(playback.Shared->FrameWidth) + "x" + std::to_string(playback.Shared->FrameHeight))
            .c_str(),
        0);
  AVFormatContext* opening = allocated.release();
  const std::string library_name = runtime::LibraryFileName(playback.FileName);
  const int opened =
      runtime::avformat().avformat_open_input(&opening, library_name.c_str(), nullptr, options.Address());
  if (opened < 0) {
    playback.OpenErrorText = runtime::OpenErrorText(playback.FileName, opened);
    return false;
  }
  playback.Format.reset(opening);
  int found;
  {
    std::lock_guard lock(runtime::CodecLock());
    found = runtime::avformat().avformat_find_stream_info(opening, nullptr);
  }
  if (found < 0) {
    playback.OpenErrorText = playback.FileName + ": could not find codec parameters";
    return false;
  }
  if (opening->pb != nullptr) opening->pb->eof_reached = 0;
  const std::string format_name = opening->iformat->name;
  playback.IsImage2 = format_name == "image2";
  playback.IsVfwCap = format_name == "vfwcap";

  int audio = -1;
  int video = -1;
  for (unsigned i = 0; i < opening->nb_streams; ++i) {
    AVStream* stream = opening->streams[i];
    stream->discard = AVDISCARD_ALL;
    const AVMediaType type = stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_VIDEO && video < 0 && !playback.Shared->DisableVideo &&
        (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0)
      video = static_cast<int>(i);
    if (type == AVMEDIA_TYPE_AUDIO && audio < 0 && !playback.Shared->DisableAudio)
      audio = static_cast<int>(i);
  }
  if (audio >= 0) OpenAudioStream(playback, audio);
  if (video >= 0) OpenVideoStream(playback, video);
  if (playback.VideoIndex < 0 && !playback.Shared->DisableDisplay) playback.Waveform = true;
  if (playback.VideoIndex < 0 && playback.AudioIndex < 0) {
    playback.OpenErrorText = playback.FileName + ": could not open codecs, no stream to play.";
    return false;
  }
  return true;
}

void Seek(TPlayback& playback) {
  std::int64_t target;
  std::int64_t relative;
  int flags;
  {
    std::lock_guard lock(playback.SeekMutex);
    target = playback.SeekTarget;
    relative = playback.SeekRelative;
    flags = playback.SeekFlags;
  }
  const std::int64_t lower = relative > 0 ? target - relative + 2 : std::numeric_limits<std::int64_t>::min();
  const std::int64_t upper = relative < 0 ? target - relative - 2 : std::numeric_limits<std::int64_t>::max();
  AVFormatContext* format = playback.Format.get();
  bool sought = runtime::avformat().avformat_seek_file(format, -1, lower, target, upper, flags) >= 0;
  if (!sought) sought = runtime::avformat().av_seek_frame(format, -1, target, flags) >= 0;
  if (!sought)
    sought = runtime::avformat().av_seek_frame(format, -1, target, flags ^ AVSEEK_FLAG_BACKWARD) >= 0;
  if (!sought) {
    PlayerLog(playback, runtime::llError, playback.FileName + ": error while seeking");
    if (playback.VideoIndex >= 0) playback.Shared->FrameDecodedEvent.Set();
    playback.StepAfterSeek = false;  // no flush marker comes: a step takes the next picture
  } else {
    if (playback.AudioIndex >= 0) {
      playback.AudioQueue.Flush();
      playback.AudioQueue.PutFlush();
      if ((flags & AVSEEK_FLAG_BYTE) == 0) {
        // The sound is at the target now, also while paused (a file without video reports this position).
        // What the decoder still holds is from the old place (the callback decodes under AudioMutex too).
        std::lock_guard lock(playback.AudioMutex);
        runtime::avcodec().avcodec_flush_buffers(playback.AudioCodec.get());
        playback.AudioClock = static_cast<double>(target) / 1000000.0;
        playback.ResamplerHeld = 0;
        playback.AudioBufferSize = 0;
        playback.AudioBufferIndex = 0;
        playback.CallbackBytes = 0;
      }
    }
    if (playback.VideoIndex >= 0) {
      playback.VideoQueue.Flush();
      playback.VideoQueue.PutFlush();
      playback.Shared->FrameDecodedEvent.Reset();
    }
  }
  playback.EndOfFileReported = false;
  playback.EndOfFileMet = false;
  {
    std::lock_guard lock(playback.SeekMutex);
    playback.SeekRequest = false;
  }
  playback.Shared->SeekDoneEvent.Set();
}

void ReadLoop(TPlayback& playback) {
  AVFormatContext* format = playback.Format.get();
  runtime::PacketPtr packet(runtime::avcodec().av_packet_alloc());
  if (packet == nullptr) return;
  while (!playback.AbortRequest) {
    if (playback.Paused != playback.LastPaused) {
      playback.LastPaused = playback.Paused;
      if (playback.LastPaused) {
        runtime::avformat().av_read_pause(format);
      } else {
        runtime::avformat().av_read_play(format);
      }
    }
    bool seek;
    {
      std::lock_guard lock(playback.SeekMutex);
      seek = playback.SeekRequest;
    }
    if (seek) Seek(playback);
    const bool audio_full = playback.AudioIndex < 0 || playback.AudioQueue.Size() > kAudioQueueBytes;
    const bool video_full = playback.VideoIndex < 0 || playback.VideoQueue.Count() > kVideoQueuePackets;
    if (playback.AudioQueue.Size() + playback.VideoQueue.Size() > kMaxQueueBytes ||
        (audio_full && video_full)) {
      Sleep(10);
      continue;
    }
    if (playback.EndOfFileMet || (format->pb != nullptr && format->pb->eof_reached != 0)) {
      if (playback.VideoIndex >= 0) {
        runtime::PacketPtr empty(runtime::avcodec().av_packet_alloc());
        if (empty != nullptr) {
          empty->stream_index = playback.VideoIndex;
          playback.VideoQueue.Put(empty.get());
        }
        playback.Shared->FrameDecodedEvent.Set();
      }
      playback.EndOfFileMet = true;
      Sleep(10);
      continue;
    }
    playback.Reading = true;
    const int read = runtime::avformat().av_read_frame(format, packet.get());
    playback.Reading = false;
    if (playback.AbortRequest) break;
    if (read < 0) {
      if (playback.VideoIndex >= 0) playback.Shared->FrameDecodedEvent.Set();
      if (!playback.IsImage2 && !playback.EndOfFileReported) {
        PlayerLog(playback, runtime::llInfo, playback.FileName + ": error or end of file");
        playback.EndOfFileReported = true;
      }
      if (read == AVERROR_EOF) playback.EndOfFileMet = true;
      if (format->pb != nullptr && format->pb->error != 0) break;
      Sleep(read == AVERROR_EOF ? 10 : 100);
      continue;
    }
    if (packet->stream_index == playback.AudioIndex) {
      playback.AudioQueue.Put(packet.get());
    } else if (packet->stream_index == playback.VideoIndex) {
      playback.VideoQueue.Put(packet.get());
    } else {
      runtime::avcodec().av_packet_unref(packet.get());
    }
  }
  while (!playback.AbortRequest)
    Sleep(100);
}

}  // namespace

void ReadThreadMain(TPlayback& playback) {
  const SdlThreadState sdl_state;
  const bool opened = OpenFile(playback);
  if (opened) {
    playback.OpenResult = 1;
    ReadLoop(playback);
  }
  CloseStreams(playback);
  playback.Format.reset();
  playback.Io.reset();
  if (playback.OpenResult != 1) {
    playback.OpenResult = -1;
    playback.OpenResult = -2;
  }
  playback.ReadThreadDone.Set();
}

void RequestStopReading(TPlayback& playback) {
  playback.AbortRequest = true;
  playback.AudioQueue.Abort();
  playback.VideoQueue.Abort();
}

void PlayerLog(const TPlayback& playback, int level, const std::string& text) {
  runtime::Log(playback.Shared->Sender.load(), static_cast<runtime::TLogLevel>(level), text);
}

}  // namespace player
