// The player on X11: a plain X window (on an X server of the test's own) stands for the preview panel's
// native widget. It has selected button, key, expose and structure events first, as Qt does, and paints
// itself magenta. The picture must fill it with the file's colours, follow a resize, survive the host's own
// painting and an exposure while paused, and leave every click and key to the host.
#include <gtest/gtest.h>

#include "player/player_harness.h"
#include "player/x11_host.h"

namespace player_test {
namespace {

using x11_test::HostWindow;
using x11_test::Rgb;

class PlayerX11 : public PlayerHarness {
 protected:
  static void SetUpTestSuite() {
    PlayerHarness::SetUpTestSuite();
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
  }
  void SetUp() override {
    if (x11_test::Screen().Display().empty()) GTEST_SKIP() << "Xvfb did not start";
    PlayerHarness::SetUp();
    window_ = std::make_unique<HostWindow>(320, 240);
    ASSERT_TRUE(window_->Valid());
    host_.PaintFrame = nullptr;
    host_.X11Window = window_->Id();
    host_.Width = 320;
    host_.Height = 240;
  }
  void TearDown() override {
    played_in_this_process = true;
    PlayerHarness::TearDown();
    window_.reset();
  }

  // Serves the player's events and the host window's until the pixel satisfies the test.
  template <class Predicate>
  bool PixelBecomes(int x, int y, Predicate wanted, int milliseconds) {
    return ServeUntil(
        [&] {
          window_->Serve();
          return wanted(window_->Pixel(x, y));
        },
        milliseconds);
  }
  void ServeBoth(int milliseconds) {
    ServeUntil(
        [&] {
          window_->Serve();
          return false;
        },
        milliseconds);
  }
  static bool Near(const Rgb& rgb, int red, int green, int blue) {
    return std::abs(rgb.Red - red) <= 40 && std::abs(rgb.Green - green) <= 40 &&
           std::abs(rgb.Blue - blue) <= 40;
  }
  static std::string Text(const Rgb& rgb) {
    return std::to_string(rgb.Red) + "," + std::to_string(rgb.Green) + "," + std::to_string(rgb.Blue);
  }

  std::unique_ptr<HostWindow> window_;
  static inline bool played_in_this_process = false;
};

// With OpenGL, and with SDL's software renderer when OpenGL cannot be loaded.
class PlayerX11Renderer : public PlayerX11, public testing::WithParamInterface<const char*> {};

TEST_P(PlayerX11Renderer, ThePictureFillsTheHostWindowFollowsItAndLeavesItsInputToIt) {
  const std::string renderer = GetParam();
  if (renderer == "software") {
    // SDL keeps OpenGL loaded once it has been: only a process of its own (as CTest runs it) shows this.
    if (played_in_this_process) GTEST_SKIP() << "an earlier test of this process loaded OpenGL";
    ::setenv("SDL_OPENGL_LIBRARY", "/nonexistent/libGL.so.1", 1);
  }
  LogLines log;
  runtime::Logger().SetLogLevel(runtime::llVerbose);
  // Opened paused: the first picture comes however long the renderer takes to start.
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, true)) << player_.LastErrorText();
  auto red = [](const Rgb& rgb) { return Near(rgb, 255, 0, 0); };
  auto green = [](const Rgb& rgb) { return Near(rgb, 0, 255, 0); };
  auto black = [](const Rgb& rgb) { return Near(rgb, 0, 0, 0); };
  EXPECT_TRUE(PixelBecomes(160, 120, red, kPatienceMs)) << Text(window_->Pixel(160, 120));
  EXPECT_TRUE(red(window_->Pixel(5, 5))) << "the 4:3 picture fills the 4:3 window";
  EXPECT_TRUE(log.Contains("picture renderer: " + renderer));

  // The player draws in a child of its own that takes no input: clicks and keys reach the host.
  const std::vector<std::uint32_t> children = window_->Children();
  ASSERT_EQ(children.size(), 1U);
  EXPECT_EQ(window_->AllEventMasks(children[0]) & (XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_KEY_PRESS),
            0U);
  const std::string id = std::to_string(window_->Id());
  ASSERT_EQ(media_test::RunCommand("xdotool mousemove --window " + id + " 50 50 click 1 key a 2>&1").Status,
            0);
  EXPECT_TRUE(ServeUntil(
      [&] {
        window_->Serve();
        return window_->Clicks() == 1 && window_->Keys() == 1;
      },
      kPatienceMs))
      << window_->Clicks() << " clicks, " << window_->Keys() << " keys";

  player_.TogglePause();
  ASSERT_TRUE(PixelBecomes(160, 120, green, kPatienceMs)) << Text(window_->Pixel(160, 120));
  // A wide window: the picture is 132x100 in its middle, black beside it; green, or blue once the file is in
  // its third second.
  window_->Resize(200, 100);
  player_.HostResized(200, 100);
  auto picture = [&](const Rgb& rgb) { return green(rgb) || Near(rgb, 0, 0, 255); };
  auto fitted = [&] {
    window_->Serve();
    return black(window_->Pixel(5, 50)) && black(window_->Pixel(195, 50)) &&
           picture(window_->Pixel(100, 50)) && picture(window_->Pixel(40, 5));
  };
  EXPECT_TRUE(ServeUntil(fitted, kPatienceMs))
      << Text(window_->Pixel(5, 50)) << " " << Text(window_->Pixel(195, 50)) << " "
      << Text(window_->Pixel(100, 50)) << " " << Text(window_->Pixel(40, 5));

  // Paused, the picture stays through the host's painting and comes back after an exposure.
  player_.TogglePause();
  ASSERT_TRUE(ServeUntil([&] { return player_.State() == player::psPause; }, kPatienceMs));
  ServeBoth(100);
  const Rgb paused = window_->Pixel(100, 50);
  window_->PaintAll();
  ServeBoth(50);
  EXPECT_TRUE(Near(window_->Pixel(100, 50), paused.Red, paused.Green, paused.Blue))
      << Text(window_->Pixel(100, 50));
  window_->Expose(children[0]);
  EXPECT_TRUE(PixelBecomes(
      100, 50, [&](const Rgb& rgb) { return Near(rgb, paused.Red, paused.Green, paused.Blue); }, kPatienceMs))
      << Text(window_->Pixel(100, 50));

  player_.Stop(true);
  window_->Serve();
  EXPECT_TRUE(window_->Children().empty());
  EXPECT_EQ(window_->Errors(), 0);
  ::unsetenv("SDL_OPENGL_LIBRARY");
}

INSTANTIATE_TEST_SUITE_P(OpenGlOrSoftware, PlayerX11Renderer, testing::Values("opengl", "software"),
                         [](const testing::TestParamInfo<const char*>& case_info) {
                           return std::string(case_info.param);
                         });

TEST_F(PlayerX11, AnAudioOnlyFileDrawsItsWaveform) {
  ASSERT_TRUE(player_.Open(ToneFile().string(), host_, false)) << player_.LastErrorText();
  // The separator between the two channels.
  ASSERT_TRUE(PixelBecomes(
      160, 120, [](const Rgb& rgb) { return Near(rgb, 255, 255, 255); }, kPatienceMs));
  int white = 0;
  int black = 0;
  for (int x = 0; x < 320; x += 4) {
    white += Near(window_->Pixel(x, 120), 255, 255, 255);
    black += Near(window_->Pixel(x, 2), 0, 0, 0);
  }
  EXPECT_EQ(white, 80);
  EXPECT_EQ(black, 80);
}

// The display started ahead on a hidden child: nothing shows on the host until a file plays; a second call,
// or one for a window id that is no window, changes nothing.
TEST_F(PlayerX11, ThePreparedDisplayShowsNothingAndTheFirstFilePlaysInIt) {
  LogLines log;
  player_.PrepareDisplay(player::TPlayerHost{0x3fffff, 320, 240, nullptr});
  player_.PrepareDisplay(host_);
  EXPECT_TRUE(
      ServeUntil([&] { return log.Contains("the picture renderer did not start ahead"); }, kPatienceMs))
      << "the window that is no window";
  ServeBoth(800);
  EXPECT_TRUE(Near(window_->Pixel(4, 4), 255, 0, 255)) << Text(window_->Pixel(4, 4));
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(PixelBecomes(
      160, 120, [](const Rgb& rgb) { return Near(rgb, 255, 0, 0); }, kPatienceMs))
      << Text(window_->Pixel(160, 120));
}

TEST_F(PlayerX11, AWindowIdThatIsNoWindowLeavesThePlaybackWithoutPicture) {
  LogLines log;
  host_.X11Window = 0x3fffff;
  ASSERT_TRUE(player_.Open(ColourFile().string(), host_, false)) << player_.LastErrorText();
  EXPECT_TRUE(ServeUntil([&] { return log.Contains("SDL: could not set video mode."); }, kPatienceMs));
  EXPECT_TRUE(ServeUntil([&] { return LastPosition() > 400000; }, kPatienceMs)) << "the playback goes on";
}

}  // namespace
}  // namespace player_test
