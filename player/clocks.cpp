// The clocks (the audio clock is the master whenever audio plays), the delay rule, the pause step and the
// seek request.
#include <chrono>
#include <cmath>

#include "player/playback.h"

namespace player {

namespace {
double Now() {
  return static_cast<double>(runtime::avutil().av_gettime()) / 1000000.0;
}
}  // namespace

double AudioClock(TPlayback& playback) {
  std::lock_guard lock(playback.AudioMutex);
  const double bytes_per_second = playback.AudioRate * 2.0 * playback.AudioChannels;
  if (bytes_per_second <= 0) return 0;
  double clock = playback.AudioClock - playback.ResamplerHeld;
  if (!playback.AudioBufferSilent)
    clock -= static_cast<double>(playback.AudioBufferSize - playback.AudioBufferIndex) / bytes_per_second;
  if (playback.CallbackRan) {
    // What the device still holds of the last callback's data.
    const double written = static_cast<double>(playback.CallbackBytes) / bytes_per_second;
    const double elapsed =
        static_cast<double>(runtime::avutil().av_gettime() - playback.CallbackStart) / 1000000.0;
    clock -= std::max(0.0, written - elapsed);
  }
  return clock;
}

double VideoClock(TPlayback& playback) {
  std::lock_guard lock(playback.ClockMutex);
  if (playback.Paused) return playback.VideoCurrentPts;
  return playback.VideoCurrentPts +
         static_cast<double>(runtime::avutil().av_gettime() - playback.VideoCurrentPtsTime) / 1000000.0;
}

double MasterClock(TPlayback& playback) {
  return playback.AudioIndex >= 0 ? AudioClock(playback) : VideoClock(playback);
}

double ComputeDelay(TPlayback& playback, double pts, bool after_seek) {
  double delay;
  {
    std::lock_guard lock(playback.ClockMutex);
    delay = pts - playback.FrameLastPts;
    if (delay <= 0 || delay >= 2.0 || after_seek) {
      delay = playback.FrameLastDelay;
    } else {
      playback.FrameLastDelay = delay;
    }
    playback.FrameLastPts = pts;
  }
  if (playback.AudioIndex >= 0) {
    const double diff = pts - MasterClock(playback);
    if (std::fabs(diff) < 10.0) {
      const double threshold = std::max(delay, 0.01);
      if (diff <= -threshold) {
        delay = 0;
      } else if (diff >= threshold) {
        delay = 2 * delay;
      }
    }
  }
  std::lock_guard lock(playback.ClockMutex);
  // A picture shown while paused (a step) counts from now: the resume then moves the frame timer on by the
  // time paused since this picture.
  if (playback.Paused) playback.FrameTimer = Now();
  playback.FrameTimer += delay;
  return std::max(playback.FrameTimer - Now(), 0.010);
}

void PauseStep(TPlayback& playback) {
  TPlayerShared& shared = *playback.Shared;
  if (!shared.SeekDoneEvent.WaitFor(std::chrono::milliseconds(250))) shared.SeekDoneEvent.Set();
  if (playback.AbortRequest) return;
  if (playback.Paused) {
    playback.Paused = false;
  } else {
    if (playback.VideoIndex >= 0 && !shared.FrameDecodedEvent.WaitFor(std::chrono::milliseconds(250)))
      shared.FrameDecodedEvent.Set();
    if (playback.AbortRequest) return;
    playback.Paused = true;
  }
  if (!playback.Paused) {
    // The picture time stays where the pause left it; the frame timer moves on by the time paused.
    std::lock_guard lock(playback.ClockMutex);
    const std::int64_t now = runtime::avutil().av_gettime();
    playback.FrameTimer += static_cast<double>(now - playback.VideoCurrentPtsTime) / 1000000.0;
    playback.VideoCurrentPtsTime = now;
  }
}

void RequestSeek(TPlayback& playback, int flags, std::int64_t position) {
  std::int64_t target = position;
  std::int64_t relative = 0;
  if ((flags & AVSEEK_FLAG_BYTE) == 0) {
    const AVFormatContext* format = playback.Format.get();
    if (format->duration != AV_NOPTS_VALUE) target = std::min(target, format->duration);
    if (format->start_time != AV_NOPTS_VALUE) target += format->start_time;
    relative = position <= 0 ? 1 : 0;
  }
  std::lock_guard lock(playback.SeekMutex);
  if (playback.SeekRequest) return;
  playback.SeekTarget = target;
  playback.SeekRelative = relative;
  playback.SeekFlags = flags;
  if (playback.Paused && playback.VideoIndex >= 0) {
    // Stays paused: the picture at the new place is decoded and shown, and the playback stays where it is.
    playback.StepAfterSeek = true;
    playback.StepMode = true;
  }
  playback.Shared->SeekDoneEvent.Reset();
  playback.SeekRequest = true;
}

}  // namespace player
