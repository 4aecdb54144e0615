// One open file: its container, packet queues, decoders, clocks, the one-picture queue and the audio state,
// and the player state the pipeline shares with the component. Calls go down from the component; the
// pipeline notifies upward only through the session's event ring.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/event_ring.h"
#include "player/packet_queue.h"
#include "player/player_types.h"
#include "player/sdl_owners.h"
#include "player/silent_audio.h"
#include "runtime/file_io.h"
#include "runtime/log_source.h"
#include "runtime/manual_reset_event.h"
#include "runtime/media_owners.h"
#include "runtime/picture_converter.h"

namespace player {

// What the component and every playback of it share. Lives as long as the longest of its threads.
struct TPlayerShared {
  // The component; a stand-in once the component is gone, for threads stuck in a read that outlive it.
  std::atomic<const runtime::LogSource*> Sender{nullptr};
  TCustomPlayer* Owner = nullptr;  // written at creation; the handlers get it as their sender

  std::mutex PlayerLock;  // held while a playback is handled, closed or snapshotted
  runtime::ManualResetEvent SeekDoneEvent{true};
  runtime::ManualResetEvent FrameDecodedEvent{true};

  // Settings the host may change at any time (any thread reads them).
  std::atomic<bool> Mute{false};
  std::atomic<int> AudioVolume{SDL_MIX_MAXVOLUME};
  std::atomic<float> AspectRatio{0.0F};
  std::atomic<bool> Hook{false};
  // Fixed while a playback is open (written by Open on the main thread before the threads start).
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  int FrameWidth = 0;
  int FrameHeight = 0;

  std::mutex HandlerMutex;    // guards the handlers below
  THookEvent OnHook;          // guarded by HandlerMutex
  TPositionEvent OnPosition;  // guarded by HandlerMutex
  TPlayStateEvent OnState;    // guarded by HandlerMutex
  std::atomic<bool> TriggerEventInMainThread{true};
  std::atomic<TPlayState> State{psStop};            // the last state delivered
  std::atomic<std::uint64_t> CurrentGeneration{0};  // the playback generation the component works on
};

// The one-picture queue's entry: a YUV420P copy of a decoded picture.
struct TQueuedPicture {
  runtime::FramePtr Frame;  // guarded by TPlayback::PictureMutex while queued
  double Pts = 0;
  bool AfterSeek = false;
};

struct TPlayback {
  TPlayerShared* Shared = nullptr;
  TEventRing* Ring = nullptr;
  std::uint64_t Generation = 0;
  std::string FileName;

  std::thread ReadThread;                           // joined by whoever took the playback from its session
  runtime::ManualResetEvent ReadThreadDone{false};  // the read thread has closed everything
  std::thread VideoThread;                          // joined when the video stream closes (read thread)

  std::atomic<bool> AbortRequest{false};
  std::atomic<bool> Paused{false};
  bool LastPaused = false;  // read thread

  std::mutex SeekMutex;           // guards the seek request
  bool SeekRequest = false;       // guarded by SeekMutex
  int SeekFlags = 0;              // guarded by SeekMutex
  std::int64_t SeekTarget = 0;    // guarded by SeekMutex
  std::int64_t SeekRelative = 0;  // guarded by SeekMutex
  bool FlushedAfterSeek =
      false;  // video decode thread: a flush marker came, the next picture is after a seek
  // One picture is to be decoded and shown while paused: the first one of a file opened paused, or the first
  // one at the new place after a seek while paused. TogglePause and the close clear it.
  std::atomic<bool> StepMode{false};
  // With StepMode: the step waits for the picture after the pending seek's flush (set with the request; the
  // video decode thread clears it at the flush marker, the read thread when the seek failed).
  std::atomic<bool> StepAfterSeek{false};

  runtime::FileIoPtr Io;           // read thread (closed after Format)
  runtime::InputFormatPtr Format;  // read thread; the component reads its fixed fields after opening
  std::atomic<int> OpenResult{0};  // 0 opening, 1 opened, -1 failed, -2 failed and cleaned up
  std::string OpenErrorText;       // written by the read thread before OpenResult leaves 0
  bool IsImage2 = false;           // read thread before opening ends
  bool IsVfwCap = false;
  std::atomic<bool> Reading{false};
  std::atomic<bool> EndOfFileMet{false};  // read thread
  bool EndOfFileReported = false;         // read thread

  int AudioIndex = -1;  // fixed once opened
  int VideoIndex = -1;
  AVStream* AudioStream = nullptr;
  AVStream* VideoStream = nullptr;
  runtime::CodecContextPtr AudioCodec;  // audio callback thread once opened
  runtime::CodecContextPtr VideoCodec;  // video decode thread once opened
  TPacketQueue AudioQueue;
  TPacketQueue VideoQueue;
  std::int64_t AudioDurationUS = -1;
  std::atomic<std::int64_t> StartOffset{0};   // written by the component once opened
  std::atomic<std::int64_t> FileDuration{0};  // written by the component once opened

  // Audio output (guarded by AudioMutex: the callback and the clocks meet there).
  SdlAudioDevice AudioDevice;       // read thread opens and closes it
  TSilentAudioOutput SilentOutput;  // read thread: plays in its place when no device opens
  std::mutex AudioMutex;
  int AudioChannels = 0;                  // output channels (1 or 2), fixed once opened
  int AudioRate = 0;                      // fixed once opened
  double AudioClock = 0;                  // guarded by AudioMutex: end time of the data decoded so far
  double ResamplerHeld = 0;               // guarded by AudioMutex: seconds the resampler still holds
  std::vector<std::uint8_t> AudioBuffer;  // guarded by AudioMutex: converted S16 samples
  std::size_t AudioBufferSize = 0;        // guarded by AudioMutex
  std::size_t AudioBufferIndex = 0;       // guarded by AudioMutex
  bool AudioBufferSilent = false;         // guarded by AudioMutex: the buffer holds filler silence
  runtime::ResamplerPtr Resampler;        // guarded by AudioMutex
  AVSampleFormat ResamplerFormat = AV_SAMPLE_FMT_NONE;  // guarded by AudioMutex
  runtime::PacketPtr AudioPacket;                       // callback thread
  runtime::FramePtr AudioFrame;                         // callback thread
  bool AudioDraining = false;                           // callback thread
  std::int64_t CallbackStart = 0;  // guarded by AudioMutex: av_gettime of the last callback
  std::size_t CallbackBytes = 0;   // guarded by AudioMutex: real data written by the last callback
  bool CallbackRan = false;        // guarded by AudioMutex

  std::atomic<bool> Waveform{false};  // set once while opening
  static constexpr int kWaveSamples = 131072;
  std::vector<std::int16_t> WaveSamples = std::vector<std::int16_t>(kWaveSamples);  // guarded by AudioMutex
  int WaveIndex = 0;                                                                // guarded by AudioMutex
  int WaveLastStart = 0;                                                            // play thread

  // Video clock state (play thread, video decode thread and main thread under ClockMutex).
  std::mutex ClockMutex;
  double FrameTimer = 0;                 // guarded by ClockMutex
  double FrameLastPts = 0;               // guarded by ClockMutex
  double FrameLastDelay = 0.04;          // guarded by ClockMutex
  double VideoClock = 0;                 // video decode thread: the time of the next picture
  double VideoCurrentPts = 0;            // guarded by ClockMutex
  std::int64_t VideoCurrentPtsTime = 0;  // guarded by ClockMutex

  // The one-picture queue.
  std::mutex PictureMutex;
  std::condition_variable PictureChanged;
  TQueuedPicture Picture;                   // guarded by PictureMutex
  int PictureCount = 0;                     // guarded by PictureMutex
  runtime::PictureConverter HookConverter;  // video decode thread
  runtime::ScalerPtr DecodeScaler;          // video decode thread

  // The picture on screen (play thread; CurrentFrame reads it, both under PlayerLock).
  runtime::FramePtr Shown;
  double ShownPts = 0;
  // Position reports (play thread).
  bool Reported = false;
  std::int64_t LastReported = 0;
  std::atomic<std::int64_t> CurrentPosition{-1};

  std::atomic<int> SurfaceWidth{0};
  std::atomic<int> SurfaceHeight{0};

  void SetState(TPlayState state) const { Ring->Put(TPlayerEvent{ekState, state, 0, Generation}); }
};

// Logs at llError (or the given level) with the player as sender.
void PlayerLog(const TPlayback& playback, int level, const std::string& text);

// Read thread and streams (read_thread.cpp).
void ReadThreadMain(TPlayback& playback);
// Asks the read thread to end (it closes the streams and the file); the caller joins it.
void RequestStopReading(TPlayback& playback);

// Video decode thread (video_decoder.cpp).
void VideoThreadMain(TPlayback& playback);

// The audio device's callback (audio_output.cpp).
void AudioCallback(void* userdata, Uint8* stream, int length);

// Clocks and the delay rule (clocks.cpp).
double AudioClock(TPlayback& playback);
double VideoClock(TPlayback& playback);
double MasterClock(TPlayback& playback);
double ComputeDelay(TPlayback& playback, double pts, bool after_seek);
// Pauses or resumes (TogglePause).
void PauseStep(TPlayback& playback);
void RequestSeek(TPlayback& playback, int flags, std::int64_t position);

}  // namespace player
