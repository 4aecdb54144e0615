#include "engine/previewer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine_test_support.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"

namespace {

runtime::Bitmap SolidBitmap(int width, int height, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  runtime::Bitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = bitmap.ScanLine(y) + x * runtime::Bitmap::kBytesPerPixel;
      pixel[0] = blue;
      pixel[1] = green;
      pixel[2] = red;
    }
  }
  return bitmap;
}

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour shown at (x, y) of the window; on the main thread.
Rgb WindowPixel(std::uint32_t window_id, int x, int y) {
  const auto& sdl = runtime::sdl();
  SDL_Window* window = sdl.SDL_GetWindowFromID(window_id);
  SDL_Surface* surface = window != nullptr ? sdl.SDL_GetWindowSurface(window) : nullptr;
  if (surface == nullptr || surface->format->BytesPerPixel != 4) return {};
  std::uint32_t value = 0;
  std::memcpy(&value, static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch + x * 4,
              sizeof value);
  Rgb rgb;
  sdl.SDL_GetRGB(value, surface->format, &rgb.red, &rgb.green, &rgb.blue);
  return rgb;
}

std::string WindowTitle(std::uint32_t window_id) {
  SDL_Window* window = runtime::sdl().SDL_GetWindowFromID(window_id);
  return window != nullptr ? runtime::sdl().SDL_GetWindowTitle(window) : "(no window)";
}

void PushWindowEvent(std::uint32_t window_id, SDL_WindowEventID event_id) {
  SDL_Event event{};
  event.type = SDL_WINDOWEVENT;
  event.window.windowID = window_id;
  event.window.event = static_cast<std::uint8_t>(event_id);
  runtime::sdl().SDL_PushEvent(&event);
}

// The test's thread is the main thread; the previewer is driven from a worker, one step at a time, while the
// main thread serves the calls the previewer queues. Log warnings are collected.
class PreviewerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
    runtime::BindMainThread();
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog(
        [this](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
          if (level > runtime::llWarning) return;
          const std::lock_guard lock(mutex_);
          warnings_.push_back(line);
        });
  }
  void TearDown() override {
    runtime::Logger().SetOnLog(nullptr);
    runtime::Logger().SetTriggerEventInMainThread(true);
    runtime::ShutdownMainThreadQueue();
    runtime::BindMainThread();
  }

  // Runs the step on a worker thread, serving the main thread's queue until it is done.
  template <class Step>
  void OnWorker(Step&& step) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      step();
      done = true;
    });
    const bool finished = engine_test::WaitServing([&] { return done.load(); });
    if (!finished) runtime::ShutdownMainThreadQueue();  // release the worker rather than hang
    worker.join();
    ASSERT_TRUE(finished) << "the worker did not finish";
  }

  std::vector<std::string> Warnings() const {
    const std::lock_guard lock(mutex_);
    return warnings_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> warnings_;
};

TEST_F(PreviewerTest, WithoutADisplayTheWindowIsRefusedWithOneWarning) {
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::setenv("SDL_VIDEODRIVER", "x11", 1);
  const runtime::Bitmap bitmap = SolidBitmap(32, 24, 0, 0, 255);
  std::vector<bool> shown;

  OnWorker([&] {
    engine::TPreviewer previewer;
    shown.push_back(previewer.ShowFrame(bitmap, 1, 0));
    shown.push_back(previewer.ShowFrame(bitmap, 2, 100000));
  });

  EXPECT_EQ(shown, (std::vector<bool>{false, false}));
  const std::vector<std::string> warnings = Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings.front().find("The preview window cannot be shown: "), std::string::npos)
      << warnings.front();
}

TEST_F(PreviewerTest, AfterTheMainThreadStoppedServingShowFrameGivesUpAtOnce) {
  runtime::ShutdownMainThreadQueue();
  const runtime::Bitmap bitmap = SolidBitmap(32, 24, 0, 0, 255);
  std::vector<bool> shown;

  std::thread worker([&] {
    engine::TPreviewer previewer;
    shown.push_back(previewer.ShowFrame(bitmap, 1, 0));
    shown.push_back(previewer.ShowFrame(bitmap, 2, 0));
  });
  worker.join();

  EXPECT_EQ(shown, (std::vector<bool>{false, false}));
  EXPECT_EQ(Warnings(),
            std::vector<std::string>{"The preview window cannot be shown: the main thread has stopped"});
}

class DummyVideoPreviewerTest : public PreviewerTest {
 protected:
  void SetUp() override {
    // SDL's window-less video driver: windows, their titles and surfaces exist in memory only.
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    PreviewerTest::SetUp();
  }
};

TEST_F(DummyVideoPreviewerTest, FramesArePaintedWithTheirTimeAsTheCaption) {
  engine::TPreviewer previewer;
  std::vector<bool> shown;

  OnWorker([&] { shown.push_back(previewer.ShowFrame(SolidBitmap(64, 48, 0, 0, 255), 1, 3723456789)); });
  const std::uint32_t window_id = previewer.WindowId();
  ASSERT_NE(window_id, 0u);
  EXPECT_EQ(WindowTitle(window_id), "01:02:03.456");
  EXPECT_EQ(WindowPixel(window_id, 63, 47), (Rgb{255, 0, 0}));

  OnWorker([&] { shown.push_back(previewer.ShowFrame(SolidBitmap(64, 48, 255, 0, 0), 2, AV_NOPTS_VALUE)); });
  EXPECT_EQ(previewer.WindowId(), window_id) << "one window for all frames";
  EXPECT_EQ(WindowTitle(window_id), "N/A");
  EXPECT_EQ(WindowPixel(window_id, 0, 0), (Rgb{0, 0, 255}));

  EXPECT_EQ(shown, (std::vector<bool>{true, true}));
  EXPECT_TRUE(Warnings().empty());

  OnWorker([&] { previewer.Close(); });
  EXPECT_EQ(previewer.WindowId(), 0u);
  EXPECT_EQ(runtime::sdl().SDL_GetWindowFromID(window_id), nullptr);
  OnWorker([&] { shown.push_back(previewer.ShowFrame(SolidBitmap(64, 48, 0, 255, 0), 3, 0)); });
  EXPECT_FALSE(shown.back()) << "a closed previewer shows nothing more";
}

TEST_F(DummyVideoPreviewerTest, ClosingTheWindowEndsThePreviewAndLeavesOtherWindowsEvents) {
  // Another SDL user of the process (the player) keeps the video subsystem up, so its events stay queued.
  ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries({runtime::lkSDL}));
  ASSERT_EQ(runtime::sdl().SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << runtime::sdl().SDL_GetError();
  const runtime::Bitmap bitmap = SolidBitmap(40, 30, 10, 20, 30);
  engine::TPreviewer previewer;
  std::vector<bool> shown;
  OnWorker([&] { shown.push_back(previewer.ShowFrame(bitmap, 1, 0)); });
  const std::uint32_t window_id = previewer.WindowId();
  ASSERT_NE(window_id, 0u);
  const std::uint32_t other_window_id = window_id + 1000;

  PushWindowEvent(other_window_id, SDL_WINDOWEVENT_CLOSE);
  PushWindowEvent(window_id, SDL_WINDOWEVENT_EXPOSED);
  OnWorker([&] { shown.push_back(previewer.ShowFrame(bitmap, 2, 0)); });
  PushWindowEvent(window_id, SDL_WINDOWEVENT_CLOSE);
  OnWorker([&] { shown.push_back(previewer.ShowFrame(bitmap, 3, 0)); });

  EXPECT_EQ(shown, (std::vector<bool>{true, true, false}));
  EXPECT_TRUE(previewer.Closed());
  EXPECT_EQ(previewer.WindowId(), 0u) << "the closed window is gone at once";
  SDL_Event left[8];
  const int count = runtime::sdl().SDL_PeepEvents(left, 8, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(left[0].window.windowID, other_window_id);
  runtime::sdl().SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace
