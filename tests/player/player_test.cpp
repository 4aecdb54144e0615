// TFFPlayer on generated files of known content: pictures reaching the host's sink, the sound written by
// SDL's disk driver, positions, pause, seeking, the end, failures, snapshots and many open/stop cycles.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "player/ff_player.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"
#include "runtime/open_error_text.h"
#include "support/media_fixtures.h"
#include "support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
using player::TFFPlayer;

const std::filesystem::path& DiskAudioFile() {
  static const std::filesystem::path file =
      std::filesystem::path(TARVELLO_TEST_BINARY_DIR) / ("disk_audio_" + std::to_string(::getpid()) + ".raw");
  return file;
}

// Red, lime and blue seconds, 160x120 at 25 fps, every frame a key frame, with a 440 Hz mono tone.
std::filesystem::path ColourFile() {
  return media_test::Fixture(
      "player_colours.mkv",
      "-f lavfi -i color=c=red:s=160x120:r=25:d=1 -f lavfi -i color=c=lime:s=160x120:r=25:d=1 "
      "-f lavfi -i color=c=blue:s=160x120:r=25:d=1 -f lavfi -i "
      "sine=frequency=440:sample_rate=44100:duration=3 "
      "-filter_complex [0:v][1:v][2:v]concat=n=3:v=1:a=0[v] -map [v] -map 3:a -c:v mpeg4 -q:v 2 -g 1 "
      "-c:a pcm_s16le");
}

// 2 s of a 1000 Hz stereo tone, no picture.
std::filesystem::path ToneFile() {
  return media_test::Fixture(
      "player_tone.wav", "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=2 -ac 2 -c:a pcm_s16le");
}

class PlayerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", DiskAudioFile().c_str(), 1);
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  }
  void SetUp() override {
    runtime::BindMainThread();
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::PlayerLibraries))
        << runtime::FFmpegLoader().LastError();
    player_.SetOnPosition([this](player::TCustomPlayer&, std::int64_t time) {
      std::lock_guard lock(mutex_);
      positions_.emplace_back(Clock::now(), time);
    });
    player_.SetOnState([this](player::TCustomPlayer&, player::TPlayState state) {
      std::lock_guard lock(mutex_);
      states_.push_back(state);
    });
    host_.Width = 160;
    host_.Height = 120;
    host_.PaintFrame = [this](const runtime::Bitmap& frame) {
      std::lock_guard lock(mutex_);
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
  bool ServeUntil(Predicate done, int milliseconds) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
      runtime::ServeQueuedCalls();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
  }
  bool HasState(player::TPlayState state) {
    std::lock_guard lock(mutex_);
    return std::find(states_.begin(), states_.end(), state) != states_.end();
  }
  std::int64_t LastPosition() {
    std::lock_guard lock(mutex_);
    return positions_.empty() ? -1 : positions_.back().second;
  }
  // Blue, green, red of the last painted frame at (x, y).
  std::array<int, 3> PaintedPixel(int x, int y) {
    std::lock_guard lock(mutex_);
    if (last_frame_.Empty()) return {-1, -1, -1};
    const std::uint8_t* p = last_frame_.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
  }

  TFFPlayer player_;
  player::TPlayerHost host_;
  std::mutex mutex_;
  std::vector<std::pair<Clock::time_point, std::int64_t>> positions_;  // guarded by mutex_
  std::vector<player::TPlayState> states_;                             // guarded by mutex_
  runtime::Bitmap last_frame_;                                         // guarded by mutex_
  int frames_ = 0;                                                     // guarded by mutex_
};

void ExpectColour(const std::array<int, 3>& bgr, int blue, int green, int red) {
  EXPECT_NEAR(bgr[0], blue, 40);
  EXPECT_NEAR(bgr[1], green, 40);
  EXPECT_NEAR(bgr[2], red, 40);
}

std::vector<std::int16_t> ReadDiskAudio() {
  std::ifstream in(DiskAudioFile(), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// Frequency from the rising zero crossings of one channel, over the samples that are not silent.
double MeasureFrequency(const std::vector<std::int16_t>& samples, int channels, int rate) {
  int first = -1;
  int last = -1;
  int crossings = 0;
  for (std::size_t i = static_cast<std::size_t>(channels); i < samples.size();
       i += static_cast<std::size_t>(channels)) {
    if (samples[i - static_cast<std::size_t>(channels)] < 0 && samples[i] >= 0) {
      const int frame = static_cast<int>(i) / channels;
      if (first < 0) first = frame;
      last = frame;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(rate) / (last - first);
}

int PeakAmplitude(const std::vector<std::int16_t>& samples) {
  int peak = 0;
  for (const std::int16_t s : samples)
    peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

TEST(PlayerWithoutLibraries, OpenFailsWithTheText) {
  TFFPlayer player;
  ASSERT_FALSE(player.MediaLibrariesLoaded());
  EXPECT_FALSE(player.Open("whatever.mkv", {}, false));
  EXPECT_EQ(player.LastErrorText(), "libav or libsdl not loaded.");
}

TEST_F(PlayerTest, FramesReachTheHostWithTheirColours) {
  const std::filesystem::path file = ColourFile();
  ASSERT_FALSE(file.empty());
  ASSERT_TRUE(player_.Open(file.string(), host_, false)) << player_.LastErrorText();
  Serve(500);
  ExpectColour(PaintedPixel(80, 60), 0, 0, 255);
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 1300000; }, 3000));
  Serve(100);
  ExpectColour(PaintedPixel(80, 60), 0, 255, 0);
  std::int64_t pts = 0;
  const runtime::Bitmap& snapshot = player_.CurrentFrame(pts);
  EXPECT_EQ(snapshot.Width(), 160);
  EXPECT_EQ(snapshot.Height(), 120);
  EXPECT_GE(pts, 1000000);
  const std::uint8_t* p = snapshot.ScanLine(60) + 80 * 3;
  ExpectColour({p[0], p[1], p[2]}, 0, 255, 0);
}

TEST_F(PlayerTest, PositionsAdvanceAtRealTime) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  Serve(1800);
  std::lock_guard lock(mutex_);
  ASSERT_GE(positions_.size(), 10U);
  // From the first report after 0.3 s to the last one.
  std::size_t from = 0;
  while (from < positions_.size() && positions_[from].second < 300000)
    ++from;
  ASSERT_LT(from + 5, positions_.size());
  const double played = static_cast<double>(positions_.back().second - positions_[from].second) / 1e6;
  const double real = std::chrono::duration<double>(positions_.back().first - positions_[from].first).count();
  EXPECT_NEAR(played / real, 1.0, 0.1) << played << " s played in " << real << " s";
}

TEST_F(PlayerTest, PauseStopsThePositionAndResumeContinues) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  Serve(600);
  player_.TogglePause();
  EXPECT_TRUE(ServeUntil([&] { return player_.State() == player::psPause; }, 1000));
  Serve(200);
  const std::int64_t paused_at = LastPosition();
  Serve(500);
  EXPECT_LE(std::llabs(LastPosition() - paused_at), 20000);
  player_.TogglePause();
  EXPECT_TRUE(ServeUntil([&] { return LastPosition() > paused_at + 200000; }, 1500));
  EXPECT_TRUE(HasState(player::psResume));
}

struct SeekCase {
  bool Paused;
};
class PlayerSeek : public PlayerTest, public testing::WithParamInterface<SeekCase> {};

TEST_P(PlayerSeek, LandsWithinAFrameOfTheMiddle) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  Serve(300);
  if (GetParam().Paused) {
    player_.TogglePause();
    Serve(200);
  }
  player_.Seek(0, 1500000);
  std::int64_t pts = -1;
  ASSERT_TRUE(ServeUntil(
      [&] {
        player_.CurrentFrame(pts);
        return pts >= 1400000;
      },
      2000));
  if (GetParam().Paused) Serve(300);
  player_.CurrentFrame(pts);
  if (!GetParam().Paused) {
    EXPECT_NEAR(static_cast<double>(pts), 1500000.0, 200000.0);
  } else {
    EXPECT_NEAR(static_cast<double>(pts), 1500000.0, 40000.0);
    Serve(300);
    std::int64_t later = -1;
    player_.CurrentFrame(later);
    EXPECT_EQ(later, pts) << "a seek while paused leaves the playback paused";
  }
  ExpectColour(PaintedPixel(80, 60), 0, 255, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, PlayerSeek, testing::Values(SeekCase{false}, SeekCase{true}));

TEST_F(PlayerTest, TheEndGivesPsEndAgainUntilStopped) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  player_.Seek(0, 2600000);
  ASSERT_TRUE(ServeUntil([&] { return HasState(player::psEnd); }, 4000));
  EXPECT_GE(LastPosition(), 2800000);
  player_.Stop(true);
  EXPECT_TRUE(HasState(player::psStop));
  EXPECT_FALSE(player_.IsOpen());
}

TEST_F(PlayerTest, AudioOnlyShowsTheWaveform) {
  ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
  Serve(600);
  std::lock_guard lock(mutex_);
  ASSERT_FALSE(last_frame_.Empty());
  int white = 0;
  int black = 0;
  for (int y = 0; y < last_frame_.Height(); ++y)
    for (int x = 0; x < last_frame_.Width(); ++x) {
      const std::uint8_t* p = last_frame_.ScanLine(y) + x * 3;
      white += p[0] == 255 && p[1] == 255 && p[2] == 255;
      black += p[0] == 0 && p[1] == 0 && p[2] == 0;
    }
  EXPECT_GT(white, 160);  // two traces and the separator line
  EXPECT_GT(black, last_frame_.Width() * last_frame_.Height() / 2);
  // The separator between the two channels.
  const std::uint8_t* line = last_frame_.ScanLine(60) + 10 * 3;
  EXPECT_EQ(line[0], 255);
}

TEST_F(PlayerTest, DiskAudioHoldsTheToneSilentWhenMutedHalfAtHalfVolume) {
  struct Run {
    bool Mute;
    int Volume;
    int Peak = 0;
    double Frequency = 0;
  };
  std::vector<Run> runs{{false, 128}, {true, 128}, {false, 64}};
  for (Run& run : runs) {
    player_.SetMute(run.Mute);
    player_.SetAudioVolume(run.Volume);
    ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
    Serve(800);
    player_.Stop(true);
    const std::vector<std::int16_t> samples = ReadDiskAudio();
    ASSERT_GT(samples.size(), 48000U / 2);
    run.Peak = PeakAmplitude(samples);
    run.Frequency = MeasureFrequency(samples, 2, 48000);
  }
  EXPECT_NEAR(runs[0].Frequency, 1000.0, 20.0);
  EXPECT_GT(runs[0].Peak, 2000);  // the generated tone peaks at 4096 / sqrt(2) per channel
  EXPECT_EQ(runs[1].Peak, 0);
  EXPECT_NEAR(static_cast<double>(runs[2].Peak) / runs[0].Peak, 0.5, 0.05);
}

TEST_F(PlayerTest, AnUnplayableFileFailsOpenWithTheText) {
  const std::filesystem::path file =
      media_test::WrittenFixture("player_damaged.mp4", std::string(4096, '\x17'));
  EXPECT_FALSE(player_.Open(file.string(), host_, false));
  EXPECT_EQ(player_.LastErrorText(), runtime::OpenErrorText(file.string(), AVERROR_INVALIDDATA));
  EXPECT_FALSE(player_.IsOpen());
  Serve(100);
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(states_.empty());
}

TEST_F(PlayerTest, NoStreamToPlayFailsOpen) {
  player_.DisableAudio = true;
  EXPECT_FALSE(player_.Open(ToneFile().string(), host_, false));
  EXPECT_EQ(player_.LastErrorText(), ToneFile().string() + ": could not open codecs, no stream to play.");
}

int ThreadCount() {
  int count = 0;
  DIR* tasks = ::opendir("/proc/self/task");
  while (const dirent* entry = ::readdir(tasks))
    count += entry->d_name[0] != '.';
  ::closedir(tasks);
  return count;
}

TEST_F(PlayerTest, ManyOpenPlayStopCyclesLeaveNoThreadBehind) {
  const std::string file = ColourFile().string();
  ASSERT_TRUE(player_.Open(file, host_, false));
  Serve(200);
  player_.Stop(true);
  Serve(100);
  const int threads = ThreadCount();
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_TRUE(player_.Open(file, host_, false)) << cycle << ": " << player_.LastErrorText();
    Serve(200);
    if (cycle % 3 == 2) player_.Seek(0, 1000000 + cycle * 10000);  // stop while seeking
    player_.Stop(cycle % 2 == 0);
  }
  player_.Stop(true);
  Serve(200);
  EXPECT_LE(ThreadCount(), threads);
  EXPECT_FALSE(player_.IsOpen());
}

}  // namespace
