// TFFPlayer on generated files of known content, with a host that paints the frames it is given: the
// pictures and their colours, positions at real time, pause, a paused open, seeking while playing or paused,
// the end, the waveform, the frame hook, failures and many open/stop cycles.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include "player/player_harness.h"
#include "runtime/manual_reset_event.h"
#include "runtime/open_error_text.h"
#include "support/test_files.h"

namespace player_test {
namespace {

using player::TFFPlayer;
using PlayerTest = PlayerHarness;

TEST(PlayerWithoutLibraries, OpenFailsWithTheText) {
  TFFPlayer player;
  ASSERT_FALSE(player.MediaLibrariesLoaded());
  EXPECT_FALSE(player.Open("whatever.mkv", {}, false));
  EXPECT_EQ(player.LastErrorText(), "libav or libsdl not loaded.");
}

TEST_F(PlayerTest, FramesShowTheFilesColoursAlsoAfterAResize) {
  const std::filesystem::path file = ColourFile();
  ASSERT_FALSE(file.empty());
  ASSERT_TRUE(player_.Open(file.string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return FirstPaintedPixel(80, 60)[0] >= 0; }, kPatienceMs)) << "no picture";
  ExpectColour(FirstPaintedPixel(80, 60), 0, 0, 255);
  EXPECT_TRUE(ServeUntil([&] { return IsColour(PaintedPixel(80, 60), 0, 255, 0); }, kPatienceMs))
      << "the second second is not shown green";
  // The picture on screen is the one of its time: green from 1 s, blue from 2 s.
  std::int64_t pts = 0;
  const runtime::Bitmap& snapshot = player_.CurrentFrame(pts);
  EXPECT_EQ(snapshot.Width(), 160);
  EXPECT_EQ(snapshot.Height(), 120);
  EXPECT_GE(pts, 1000000);
  const std::array<int, 3> expected = ColourFileColourAt(pts);
  ExpectColour(PixelOf(snapshot, 80, 60), expected[0], expected[1], expected[2]);

  // A tall surface: the 4:3 picture is 80x60 in its middle, black above and below.
  player_.HostResized(80, 120);
  ASSERT_TRUE(ServeUntil([&] { return PaintedSize() == std::make_pair(80, 120); }, kPatienceMs));
  ExpectColour(PaintedPixel(40, 10), 0, 0, 0);
  ExpectColour(PaintedPixel(40, 110), 0, 0, 0);
  const std::array<int, 3> middle = PaintedPixel(40, 60);
  EXPECT_TRUE(IsColour(middle, 0, 255, 0) || IsColour(middle, 255, 0, 0))
      << "the green or, a second on, the blue picture: " << middle[0] << "," << middle[1] << "," << middle[2];
}

TEST_F(PlayerTest, PositionsAdvanceAtRealTime) {
  const Clock::time_point started = Clock::now();
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() >= 2500000; }, kPatienceMs));
  std::lock_guard lock(mutex_);
  ExpectRealTimePace(positions_, started);
}

TEST_F(PlayerTest, PauseStopsPositionAndSoundAndResumeGoesOnFromThere) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 500000; }, kPatienceMs));
  player_.TogglePause();
  EXPECT_TRUE(ServeUntil([&] { return player_.State() == player::psPause; }, kPatienceMs));
  // What was decoded before the pause plays out within 0.2 s of the device's time.
  ASSERT_TRUE(ServeForSound(0.2, kColourFileSoundBytesPerSecond)) << "the device stopped";
  const std::int64_t paused_at = LastPosition();
  const std::uintmax_t silent_from = DiskAudioBytes();
  EXPECT_TRUE(ServeForSound(0.25, kColourFileSoundBytesPerSecond)) << "the device plays silence while paused";
  EXPECT_LE(std::llabs(LastPosition() - paused_at), 20000);
  const std::uintmax_t silent_to = DiskAudioBytes();
  std::vector<std::int16_t> samples = ReadDiskAudio();
  EXPECT_EQ(PeakAmplitude(samples, silent_from / 2, silent_to / 2), 0);

  const Clock::time_point resumed = Clock::now();
  player_.TogglePause();
  EXPECT_TRUE(ServeUntil([&] { return LastPosition() > paused_at + 200000; }, kPatienceMs));
  EXPECT_TRUE(HasState(player::psResume));
  const std::vector<Position> after = PositionsSince(resumed);
  ASSERT_FALSE(after.empty());
  // Goes on from where it paused: the first position after the resume is no further on than the time since
  // allows (it comes late when the machine is busy), and not before it.
  EXPECT_GE(after.front().Time, paused_at - 60000);
  EXPECT_LE(after.front().Time,
            paused_at + 60000 + static_cast<std::int64_t>(Seconds(after.front().At - resumed) * 1e6))
      << "paused at " << paused_at << ", " << Seconds(after.front().At - resumed) << " s after the resume";
  samples = ReadDiskAudio();
  EXPECT_GT(PeakAmplitude(samples, silent_to / 2), 2000) << "the sound is back";
}

TEST_F(PlayerTest, AFileOpenedPausedShowsItsFirstPictureAndStays) {
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, true)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return PaintedPixel(80, 60)[0] >= 0; }, kPatienceMs))
      << "no picture while paused";
  ExpectColour(PaintedPixel(80, 60), 0, 0, 255);
  ASSERT_TRUE(ServeForSound(0.4, kColourFileSoundBytesPerSecond)) << "the device does not play";
  std::int64_t pts = -1;
  player_.CurrentFrame(pts);
  EXPECT_EQ(pts, 0);
  EXPECT_LE(LastPosition(), 0);
  EXPECT_EQ(PeakAmplitude(ReadDiskAudio()), 0);

  player_.TogglePause();
  EXPECT_TRUE(ServeUntil([&] { return LastPosition() > 300000; }, kPatienceMs));
  EXPECT_GT(PeakAmplitude(ReadDiskAudio()), 2000);
}

class PlayerSeek : public PlayerHarness, public testing::WithParamInterface<bool> {};

TEST_P(PlayerSeek, LandsWithinAFrameOfTheMiddle) {
  const bool paused = GetParam();
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 200000; }, kPatienceMs));
  if (paused) {
    player_.TogglePause();
    ASSERT_TRUE(ServeUntil([&] { return player_.State() == player::psPause; }, kPatienceMs));
    // What was decoded before the pause plays out.
    ASSERT_TRUE(ServeForSound(0.2, kColourFileSoundBytesPerSecond)) << "the device stopped";
  }
  const Clock::time_point asked = Clock::now();
  const std::uintmax_t asked_bytes = DiskAudioBytes();
  player_.Seek(0, 1500000);
  ASSERT_TRUE(ServeUntil(
      [&] {
        const std::vector<Position> since = PositionsSince(asked);
        return std::any_of(since.begin(), since.end(), [](const Position& p) { return p.Time >= 1000000; });
      },
      kPatienceMs));
  const std::vector<Position> since = PositionsSince(asked);
  const auto landed =
      std::find_if(since.begin(), since.end(), [](const Position& p) { return p.Time >= 1000000; });
  EXPECT_NEAR(static_cast<double>(landed->Time), 1500000.0, 40000.0) << "the first position after the seek";
  // Green from the landing until 2 s.
  EXPECT_TRUE(ServeUntil([&] { return IsColour(PaintedPixel(80, 60), 0, 255, 0); }, kPatienceMs));
  std::int64_t pts = -1;
  if (!paused) {
    EXPECT_TRUE(ServeUntil(
        [&] {
          player_.CurrentFrame(pts);
          return pts > 1500000;
        },
        kPatienceMs))
        << "the playback does not go on from the landing: " << pts;
    return;
  }
  player_.CurrentFrame(pts);
  EXPECT_NEAR(static_cast<double>(pts), 1500000.0, 40000.0);
  ASSERT_TRUE(ServeForSound(0.4, kColourFileSoundBytesPerSecond)) << "the device stopped";
  std::int64_t later = -1;
  player_.CurrentFrame(later);
  EXPECT_EQ(later, pts) << "a seek while paused leaves the playback paused";
  EXPECT_NEAR(static_cast<double>(LastPosition()), static_cast<double>(pts), 20000.0);
  EXPECT_EQ(PeakAmplitude(ReadDiskAudio(), asked_bytes / 2), 0) << "and silent";
  EXPECT_EQ(player_.State(), player::psPause);
}

INSTANTIATE_TEST_SUITE_P(PlayingOrPaused, PlayerSeek, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& case_info) {
                           return case_info.param ? std::string("Paused") : std::string("Playing");
                         });

TEST_F(PlayerTest, TheEndRaisesPsEndAtEveryRefreshAndStopFromItsHandlerCloses) {
  std::int64_t duration = 0;
  player_.OnFileOpen = [&](player::TCustomPlayer&, std::int64_t length, int, int, int&, int&) {
    duration = length;
  };
  int ends = 0;
  bool stopped = false;
  // Stops at the third end, or at the first after it that comes once the position has reached the end: the
  // last picture can come late on a busy machine, and the end with it, a little before its clock gets there.
  on_state_ = [&](player::TCustomPlayer& sender, player::TPlayState state) {
    if (state == player::psEnd && ++ends >= 3 && !stopped && LastPosition() == duration) {
      stopped = true;
      sender.Stop(false);
    }
  };
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  EXPECT_GT(duration, 2900000);
  player_.Seek(0, 2600000);
  ASSERT_TRUE(ServeUntil([&] { return HasState(player::psStop); }, kPatienceMs))
      << ends << " ends, the last position " << LastPosition() << " of " << duration;
  EXPECT_FALSE(player_.IsOpen());
  on_state_ = nullptr;
  EXPECT_GE(ends, 3);
  std::lock_guard lock(mutex_);
  EXPECT_EQ(states_.back(), player::psStop);
  ASSERT_FALSE(positions_.empty());
  EXPECT_EQ(positions_.back().Time, duration) << "the last position is the file's duration";
}

TEST_F(PlayerTest, AnAudioOnlyFileShowsItsWaveformAndAdvances) {
  ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 300000; }, kPatienceMs));
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
  EXPECT_GT(white, 160 * 3);  // two traces and the separator line
  EXPECT_GT(black, last_frame_.Width() * last_frame_.Height() / 2);
  // The separator between the two channels.
  const std::uint8_t* line = last_frame_.ScanLine(60) + 10 * 3;
  EXPECT_EQ(line[0], 255);
}

TEST_F(PlayerTest, DisableDisplayPlaysTheSoundAndShowsNothing) {
  player_.DisableDisplay = true;
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(player_.DisableVideo);
  ASSERT_TRUE(ServeUntil([&] { return LastPosition() > 300000; }, kPatienceMs));
  EXPECT_EQ(player_.CurrentFrame().Width(), 0);
  EXPECT_NEAR(MeasureFrequency(ReadDiskAudio(), 1, 44100), 440.0, 10.0);
  std::lock_guard lock(mutex_);
  EXPECT_EQ(frames_, 0);
}

struct BadFile {
  const char* Name;
  std::string Bytes;
  int Code;  // what the open reports
};

TEST_F(PlayerTest, UnplayableFilesFailOpenWithTheirTextAndLeaveNothingRunning) {
  const std::filesystem::path folder = test_files::TestFolder();
  const std::vector<BadFile> files{
      {"random.mp4", test_files::RandomBytes(8192), AVERROR_INVALIDDATA},
      {"empty.mp4", "", AVERROR_INVALIDDATA},
      {"notes.txt", "Shopping list\nmilk\nbread\n", AVERROR_INVALIDDATA},
  };
  // A first failure starts what a process starts once (SDL's audio, a sanitizer's own thread).
  const std::string missing = (folder / "missing.mkv").string();
  EXPECT_FALSE(player_.Open(missing, host_, false));
  EXPECT_EQ(player_.LastErrorText(), runtime::OpenErrorText(missing, AVERROR(ENOENT)));
  const int threads = LiveThreads();
  for (const BadFile& bad : files) {
    const std::filesystem::path file = test_files::MakeFile(folder / bad.Name, bad.Bytes);
    EXPECT_FALSE(player_.Open(file.string(), host_, false)) << bad.Name;
    EXPECT_EQ(player_.LastErrorText(), runtime::OpenErrorText(file.string(), bad.Code)) << bad.Name;
    EXPECT_FALSE(player_.IsOpen()) << bad.Name;
  }
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads)) << LiveThreads() << " threads, " << threads << " before";
  std::lock_guard lock(mutex_);
  EXPECT_TRUE(states_.empty());
}

TEST_F(PlayerTest, NoStreamToPlayFailsOpen) {
  player_.DisableAudio = true;
  EXPECT_FALSE(player_.Open(ToneFile().string(), host_, false));
  EXPECT_EQ(player_.LastErrorText(), ToneFile().string() + ": could not open codecs, no stream to play.");
}

TEST_F(PlayerTest, TheHookGetsEveryPictureWithItsTimeAndItsDrawingIsShown) {
  std::mutex hooked_mutex;
  std::vector<std::int64_t> hooked;  // guarded by hooked_mutex
  std::pair<int, int> size;          // guarded by hooked_mutex
  player_.SetHook(true);
  player_.SetOnHook([&](player::TCustomPlayer&, runtime::Bitmap& bitmap, std::int64_t pts) {
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        std::uint8_t* p = bitmap.ScanLine(y) + x * 3;
        p[0] = 0;  // yellow: blue 0, green and red 255
        p[1] = 255;
        p[2] = 255;
      }
    std::lock_guard lock(hooked_mutex);
    hooked.push_back(pts);
    size = {bitmap.Width(), bitmap.Height()};
  });
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil(
      [&] {
        std::lock_guard lock(hooked_mutex);
        return hooked.size() >= 12;
      },
      kPatienceMs));
  ASSERT_TRUE(ServeUntil([&] { return FirstPaintedPixel(0, 0)[0] >= 0; }, kPatienceMs)) << "no picture";
  ExpectColour(FirstPaintedPixel(20, 20), 0, 255, 255);
  ExpectColour(FirstPaintedPixel(120, 90), 0, 0, 255);
  const runtime::Bitmap& snapshot = player_.CurrentFrame();
  ASSERT_EQ(snapshot.Width(), 160);
  const std::uint8_t* p = snapshot.ScanLine(20) + 20 * 3;
  ExpectColour({p[0], p[1], p[2]}, 0, 255, 255);
  player_.Stop(true);
  std::lock_guard lock(hooked_mutex);
  ASSERT_GE(hooked.size(), 12U);
  EXPECT_EQ(size, std::make_pair(160, 120));
  EXPECT_EQ(hooked.front(), 0);
  for (std::size_t i = 1; i < hooked.size(); ++i)
    EXPECT_EQ(hooked[i] - hooked[i - 1], 40000) << "one call per picture, 25 a second";
}

TEST_F(PlayerTest, AHookThatThrowsIsLoggedAndThePictureShownWithoutIt) {
  LogLines log;
  player_.SetHook(true);
  player_.SetOnHook([](player::TCustomPlayer&, runtime::Bitmap& bitmap, std::int64_t) {
    std::memset(bitmap.Pixels(), 255, bitmap.SizeInBytes());
    throw std::runtime_error("the pen broke");
  });
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  ASSERT_TRUE(ServeUntil([&] { return FirstPaintedPixel(0, 0)[0] >= 0; }, kPatienceMs)) << "no picture";
  ExpectColour(FirstPaintedPixel(20, 20), 0, 0, 255);
  EXPECT_TRUE(ServeUntil([&] { return log.Contains("Error occurs OnHook: the pen broke"); }, kPatienceMs));
}

// A named pipe in the list: nobody writes to it, or its writer stalls half-way and keeps it open.
TEST_F(PlayerTest, ANamedPipeThatNeverAnswersHoldsNeitherOpenNorStopUp) {
  std::signal(SIGPIPE, SIG_IGN);  // the writer's pipe loses its reader when the player closes
  const std::filesystem::path folder = test_files::TestFolder();
  const std::filesystem::path silent = folder / "nobody_writes.mkv";
  const std::filesystem::path stalled = folder / "writer_stalls.mkv";
  for (const std::filesystem::path& pipe : {silent, stalled}) {
    std::filesystem::remove(pipe);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << pipe;
  }
  LogLines log;
  const int threads = LiveThreads();
  player_.OpenTimeout = 500;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(player_.Open(silent.string(), host_, false));
  // It gives up after its half second, not after the 10 s it waits by default.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(player_.LastErrorText(),
            silent.string() + ": the file did not answer within 1 s, it was not opened");
  EXPECT_FALSE(player_.IsOpen());

  std::string half(std::filesystem::file_size(ColourFile()) / 2, '\0');
  std::ifstream(ColourFile(), std::ios::binary).read(half.data(), static_cast<std::streamsize>(half.size()));
  runtime::ManualResetEvent release_writer{false};
  std::thread writer([&] {
    const int descriptor = ::open(stalled.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the player
    if (descriptor < 0) return;
    for (std::size_t written = 0; written < half.size();) {
      const ssize_t count = ::write(descriptor, half.data() + written, half.size() - written);
      if (count <= 0) break;
      written += static_cast<std::size_t>(count);
    }
    release_writer.WaitFor(std::chrono::seconds(30));
    ::close(descriptor);
  });
  player_.OpenTimeout = 10000;
  ASSERT_TRUE(player_.Open(stalled.string(), host_, false)) << player_.LastErrorText();
  // Plays what came, then waits for more.
  EXPECT_TRUE(ServeUntil([&] { return LastPosition() >= 1000000; }, kPatienceMs));
  const Clock::time_point stop = Clock::now();
  player_.Stop(true);
  EXPECT_LT(Clock::now() - stop, std::chrono::seconds(10));
  EXPECT_FALSE(player_.IsOpen());
  // The read waiting on the pipe ended at the stop: the play thread answered (no close from outside), and
  // every thread of the playback is gone while the writer still holds the pipe open.
  EXPECT_FALSE(log.Contains("the play thread does not answer"));
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads + 1)) << LiveThreads() << " threads, " << threads << " before";
  release_writer.Set();
  writer.join();
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads)) << LiveThreads() << " threads, " << threads << " before";
}

TEST_F(PlayerTest, ManyOpenPlayStopCyclesLeaveNoThreadBehind) {
  const std::string file = ColourFile().string();
  ASSERT_TRUE(player_.Open(file, host_, false));
  Serve(200);
  player_.Stop(true);
  Serve(100);
  const int threads = LiveThreads();
  for (int cycle = 0; cycle < 100; ++cycle) {
    ASSERT_TRUE(player_.Open(file, host_, cycle % 5 == 4)) << cycle << ": " << player_.LastErrorText();
    Serve(200);
    if (cycle % 3 == 2) player_.Seek(0, 1000000 + cycle * 10000);  // stop while seeking
    player_.Stop(cycle % 2 == 0);
  }
  player_.Stop(true);
  EXPECT_TRUE(ServeUntilThreadsAtMost(threads)) << LiveThreads() << " threads, " << threads << " before";
  EXPECT_FALSE(player_.IsOpen());
}

}  // namespace
}  // namespace player_test
