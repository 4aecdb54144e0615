// What the player tests share: generated files of known content, SDL's disk audio driver's output, and a
// fixture that is the player's host (its main thread serves the queued event calls; its PaintFrame sink keeps
// the first and the last picture). The tests run on busy machines: they wait for what they expect with a
// generous bound, and measure time in the media's own clock (the sound device's bytes, the pictures' time
// stamps) wherever the time is what they check.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "player/ff_player.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "support/media_fixtures.h"
#include "support/thread_count.h"

namespace player_test {

using Clock = std::chrono::steady_clock;

// The bound on a wait for what takes well under a second on an idle machine: a wait that reaches it has
// failed (the player hangs or never gets there), it has not just run late.
inline constexpr int kPatienceMs = 20000;

// Red, lime and blue seconds, 160x120 at 25 fps, every frame a key frame, with a 440 Hz mono tone.
inline std::filesystem::path ColourFile() {
  return media_test::Fixture(
      "player_colours.mkv",
      "-f lavfi -i color=c=red:s=160x120:r=25:d=1 -f lavfi -i color=c=lime:s=160x120:r=25:d=1 "
      "-f lavfi -i color=c=blue:s=160x120:r=25:d=1 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=3 "
      "-filter_complex [0:v][1:v][2:v]concat=n=3:v=1:a=0[v] -map [v] -map 3:a -c:v mpeg4 -q:v 2 -g 1 "
      "-c:a pcm_s16le");
}
inline constexpr double kColourFileSoundBytesPerSecond = 44100.0 * 2;

// ColourFile's colour (blue, green, red) at the time; its last picture stays after the end.
inline std::array<int, 3> ColourFileColourAt(std::int64_t microseconds) {
  if (microseconds < 1000000) return {0, 0, 255};
  if (microseconds < 2000000) return {0, 255, 0};
  return {255, 0, 0};
}

// 2 s of a 1000 Hz stereo tone, no picture.
inline std::filesystem::path ToneFile() {
  return media_test::Fixture(
      "player_tone.wav", "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=2 -ac 2 -c:a pcm_s16le");
}

// 10 s, 160x120 at 50 fps: black with one white frame at the start of every second; a 48 kHz stereo sound
// that is silent but for a 1000 Hz beep during the first 40 ms of every second. (At 50 fps the player lets
// the picture drift up to 20 ms from the sound before it corrects it: the frame's duration.)
inline std::filesystem::path FlashBeepFile() {
  return media_test::Fixture(
      "player_flash_beep_50.mkv",
      "-f lavfi -i color=c=black:s=160x120:r=50:d=10,drawbox=c=white:t=fill:enable='lt(mod(t\\,1)\\,0.019)' "
      "-f lavfi -i aevalsrc='if(lt(mod(t\\,1)\\,0.04)\\,0.5*sin(2*PI*1000*t)\\,0)':s=48000:d=10 "
      "-ac 2 -c:v mpeg4 -q:v 5 -g 1 -c:a pcm_s16le");
}

using test_threads::LiveThreads;

// What the sound device was given, in SDL's disk driver's file.
inline const std::filesystem::path& DiskAudioFile() {
  static const std::filesystem::path file =
      std::filesystem::path(TARVELLO_TEST_BINARY_DIR) / ("disk_audio_" + std::to_string(::getpid()) + ".raw");
  return file;
}

inline std::vector<std::int16_t> ReadDiskAudio() {
  std::ifstream in(DiskAudioFile(), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

inline std::uintmax_t DiskAudioBytes() {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(DiskAudioFile(), error);
  return error ? 0 : size;
}

// Frequency from the rising zero crossings of one channel, over the samples that are not silent.
inline double MeasureFrequency(const std::vector<std::int16_t>& samples, int channels, int rate) {
  int first = -1;
  int last = -1;
  int crossings = 0;
  const auto step = static_cast<std::size_t>(channels);
  for (std::size_t i = step; i < samples.size(); i += step) {
    if (samples[i - step] < 0 && samples[i] >= 0) {
      const int frame = static_cast<int>(i) / channels;
      if (first < 0) first = frame;
      last = frame;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

inline int PeakAmplitude(const std::vector<std::int16_t>& samples, std::size_t from = 0,
                         std::size_t to = SIZE_MAX) {
  int peak = 0;
  for (std::size_t i = from; i < std::min(to, samples.size()); ++i)
    peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  return peak;
}

// The audio driver SDL is to use in this process (each test runs in a process of its own under CTest).
inline void UseAudioDriver(const char* driver) {
  ::setenv("SDL_AUDIODRIVER", driver, 1);
  ::setenv("SDL_DISKAUDIOFILE", DiskAudioFile().c_str(), 1);
}

// SDL's audio is started once per process: a test that needs another driver than the one running skips.
inline bool AudioDriverIs(const char* driver) {
  if (runtime::sdl().SDL_WasInit(SDL_INIT_AUDIO) == 0) return true;
  const char* running = runtime::sdl().SDL_GetCurrentAudioDriver();
  return running != nullptr && std::strcmp(running, driver) == 0;
}

inline bool IsColour(const std::array<int, 3>& bgr, int blue, int green, int red) {
  return std::abs(bgr[0] - blue) <= 40 && std::abs(bgr[1] - green) <= 40 && std::abs(bgr[2] - red) <= 40;
}

// Blue, green, red at (x, y) of the bitmap; -1 each outside it.
inline std::array<int, 3> PixelOf(const runtime::Bitmap& bitmap, int x, int y) {
  if (bitmap.Empty() || x >= bitmap.Width() || y >= bitmap.Height()) return {-1, -1, -1};
  const std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
  return {p[0], p[1], p[2]};
}

struct Position {
  Clock::time_point At;  // when the main thread got it
  std::int64_t Time;
};

inline double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// The positions went at real time. Never ahead of the clock on the wall: no position is further into the file
// than the time since `started` (taken before Open), give or take a fifth of a second for the sound device's
// buffer, a frame, and SDL's disk and dummy drivers, which wait a whole millisecond less than a buffer lasts;
// a busy machine can only hold a playback back. Nor far behind: from 0.3 s on, past the start, the file's
// seconds took less than 1.5 s each on the wall (a busy machine stays within 1.1; a sound device at two
// thirds of its speed, or at half, does not).
inline void ExpectRealTimePace(const std::vector<Position>& positions, Clock::time_point started) {
  ASSERT_GE(positions.size(), 10U);
  double lead = -1e9;  // how far the furthest position was ahead of the wall's time since the open
  for (const Position& position : positions)
    lead = std::max(lead, position.Time / 1e6 - Seconds(position.At - started));
  EXPECT_LE(lead, 0.2) << "a position ran " << lead << " s ahead of the clock on the wall";
  const auto from = std::find_if(positions.begin(), positions.end(),
                                 [](const Position& position) { return position.Time >= 300000; });
  ASSERT_NE(from, positions.end());
  const double played = (positions.back().Time - from->Time) / 1e6;
  const double real = Seconds(positions.back().At - from->At);
  ASSERT_GE(played, 1.0) << "too short a stretch to measure";
  EXPECT_LT(real, 1.5 * played) << played << " s played in " << real << " s";
}

// The player with a host that keeps what it is told: positions, states, the first and the last painted
// picture.
class PlayerHarness : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    UseAudioDriver("disk");
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  }
  void SetUp() override {
    runtime::BindMainThread();
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::PlayerLibraries))
        << runtime::FFmpegLoader().LastError();
    player_.SetOnPosition([this](player::TCustomPlayer&, std::int64_t time) {
      std::lock_guard lock(mutex_);
      positions_.push_back({Clock::now(), time});
    });
    player_.SetOnState([this](player::TCustomPlayer& sender, player::TPlayState state) {
      {
        std::lock_guard lock(mutex_);
        states_.push_back(state);
      }
      if (on_state_) on_state_(sender, state);
    });
    host_.Width = 160;
    host_.Height = 120;
    host_.PaintFrame = [this](const runtime::Bitmap& frame) {
      std::lock_guard lock(mutex_);
      if (frames_ == 0) first_frame_ = frame;
      last_frame_ = frame;
      ++frames_;
    };
  }
  void TearDown() override { player_.Stop(true); }

  // The test thread is the main thread: it serves the queued event calls while it waits.
  static void Serve(int milliseconds) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
      runtime::ServeQueuedCalls();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  template <class Predicate>
  static bool ServeUntil(Predicate done, int milliseconds) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
      runtime::ServeQueuedCalls();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
  }
  // Serves until the sound device has been given `seconds` more sound (or silence): a wait in the sound's
  // own time, which a busy machine does not cut short.
  static bool ServeForSound(double seconds, double bytes_per_second) {
    const std::uintmax_t until = DiskAudioBytes() + static_cast<std::uintmax_t>(seconds * bytes_per_second);
    return ServeUntil([&] { return DiskAudioBytes() >= until; }, kPatienceMs);
  }
  // Serves until no more than `count` threads are left: a thread that was joined can take a moment to
  // leave the list.
  static bool ServeUntilThreadsAtMost(int count) {
    return ServeUntil([&] { return LiveThreads() <= count; }, kPatienceMs);
  }
  int CountState(player::TPlayState state) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(states_.begin(), states_.end(), state));
  }
  bool HasState(player::TPlayState state) { return CountState(state) > 0; }
  std::int64_t LastPosition() {
    std::lock_guard lock(mutex_);
    return positions_.empty() ? -1 : positions_.back().Time;
  }
  std::vector<Position> PositionsSince(Clock::time_point from) {
    std::lock_guard lock(mutex_);
    std::vector<Position> since;
    for (const Position& position : positions_)
      if (position.At >= from) since.push_back(position);
    return since;
  }
  // Blue, green, red of the last painted frame at (x, y).
  std::array<int, 3> PaintedPixel(int x, int y) {
    std::lock_guard lock(mutex_);
    return PixelOf(last_frame_, x, y);
  }
  std::array<int, 3> FirstPaintedPixel(int x, int y) {
    std::lock_guard lock(mutex_);
    return PixelOf(first_frame_, x, y);
  }
  std::pair<int, int> PaintedSize() {
    std::lock_guard lock(mutex_);
    return {last_frame_.Width(), last_frame_.Height()};
  }

  player::TFFPlayer player_;
  player::TPlayerHost host_;
  std::function<void(player::TCustomPlayer&, player::TPlayState)> on_state_;  // main thread
  std::mutex mutex_;
  std::vector<Position> positions_;         // guarded by mutex_
  std::vector<player::TPlayState> states_;  // guarded by mutex_
  runtime::Bitmap first_frame_;             // guarded by mutex_
  runtime::Bitmap last_frame_;              // guarded by mutex_
  int frames_ = 0;                          // guarded by mutex_
};

inline void ExpectColour(const std::array<int, 3>& bgr, int blue, int green, int red) {
  EXPECT_NEAR(bgr[0], blue, 40);
  EXPECT_NEAR(bgr[1], green, 40);
  EXPECT_NEAR(bgr[2], red, 40);
}

// Collects what the player logs (from any thread). The lines live as long as the handler's last copy, so a
// thread still logging after the collector is gone harms nobody.
class LogLines {
 public:
  LogLines() {
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog([lines = lines_](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel,
                                                const std::string& line) {
      std::lock_guard lock(lines->Mutex);
      lines->Text.push_back(line);
    });
  }
  ~LogLines() { runtime::Logger().SetOnLog(nullptr); }
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;
  bool Contains(const std::string& text) const {
    std::lock_guard lock(lines_->Mutex);
    return std::any_of(lines_->Text.begin(), lines_->Text.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

 private:
  struct Lines {
    std::mutex Mutex;
    std::vector<std::string> Text;  // guarded by Mutex
  };
  std::shared_ptr<Lines> lines_ = std::make_shared<Lines>();
};

}  // namespace player_test
