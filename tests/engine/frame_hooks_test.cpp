#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/custom_hook.h"
#include "engine/frame_hook_modules.h"
#include "engine/preview_frames.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/media_owners.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// Every llError and llWarning line logged while it exists.
class LogRecorder {
 public:
  LogRecorder() {
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog(
        [this](const runtime::LogSource*, std::uint32_t, runtime::TLogLevel level, const std::string& line) {
          if (level != runtime::llError && level != runtime::llWarning) return;
          const std::lock_guard lock(mutex_);
          lines_.push_back(line);
        });
  }
  ~LogRecorder() {
    runtime::Logger().SetOnLog(nullptr);
    runtime::Logger().SetTriggerEventInMainThread(true);
  }
  std::vector<std::string> Lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// A frame of one colour: yuv420p grey with the given luma, or pal8 with an all-black palette.
runtime::FramePtr SolidFrame(std::uint8_t luma, AVPixelFormat format = AV_PIX_FMT_YUV420P) {
  runtime::FramePtr frame(runtime::avutil().av_frame_alloc());
  frame->format = format;
  frame->width = kWidth;
  frame->height = kHeight;
  if (runtime::avutil().av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  std::memset(frame->data[0], luma, static_cast<std::size_t>(frame->linesize[0]) * kHeight);
  if (format == AV_PIX_FMT_YUV420P) {
    for (int plane = 1; plane < 3; ++plane)
      std::memset(frame->data[plane], 128, static_cast<std::size_t>(frame->linesize[plane]) * kHeight / 2);
  } else if (format == AV_PIX_FMT_PAL8) {
    std::memset(frame->data[1], 0, AVPALETTE_SIZE);
  }
  return frame;
}

// A second reference to the frame's buffers, as a decoder keeps one to its output.
runtime::FramePtr SharedReference(const AVFrame* frame) {
  runtime::FramePtr reference(runtime::avutil().av_frame_alloc());
  if (runtime::avutil().av_frame_ref(reference.get(), frame) < 0) return nullptr;
  return reference;
}

std::uint8_t Luma(const AVFrame* frame, int x, int y) {
  return frame->data[0][y * frame->linesize[0] + x];
}

std::vector<std::uint8_t> LumaPlane(const AVFrame* frame) {
  std::vector<std::uint8_t> plane;
  for (int y = 0; y < kHeight; ++y)
    plane.insert(plane.end(), frame->data[0] + y * frame->linesize[0],
                 frame->data[0] + y * frame->linesize[0] + kWidth);
  return plane;
}

class FrameHooksTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
  }
};

// Exported state of the test module, which the module cache keeps loaded.
template <class T>
T& ModuleVariable(const char* name) {
  void* module = ::dlopen(TARVELLO_TEST_HOOK_MODULE, RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) throw std::runtime_error("the test hook module is not loaded");
  void* symbol = ::dlsym(module, name);
  ::dlclose(module);
  if (symbol == nullptr) throw std::runtime_error(std::string("no ") + name + " in the test hook module");
  return *static_cast<T*>(symbol);
}

TEST(SplitHookArgumentsTest, SplitsAtBarsWhenThereAreAnyElseAtSpaces) {
  struct Case {
    std::string text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"m.so|-x|5", {"m.so", "-x", "5"}},
      {"m.so -x  5", {"m.so", "-x", "5"}},
      {"m.so||-x", {"m.so", "-x"}},
      {"|m.so|-x|", {"m.so", "-x"}},
      {"  m.so  ", {"m.so"}},
      {"my hooks/m.so|-t|a b", {"my hooks/m.so", "-t", "a b"}},  // with a bar, spaces belong to the words
      {"", {}},
      {"| |", {" "}},
      {"   ", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(engine::SplitHookArguments(c.text), c.words) << '"' << c.text << '"';
}

TEST_F(FrameHooksTest, HooksProcessInOrderIntoAWritableFrameAndAreReleasedOnce) {
  const std::string module = TARVELLO_TEST_HOOK_MODULE;
  runtime::FramePtr frame = SolidFrame(100);
  ASSERT_TRUE(frame);
  const runtime::FramePtr decoder_reference = SharedReference(frame.get());
  ASSERT_TRUE(decoder_reference);
  int released_before = 0;
  {
    engine::FrameHookModules hooks;
    EXPECT_TRUE(hooks.Empty());
    ASSERT_EQ(hooks.Add({module, "-y", "10"}), 0);
    ASSERT_EQ(hooks.Add(engine::SplitHookArguments(module + "|-y|20")), 0);
    EXPECT_FALSE(hooks.Empty());
    const int& release_calls = ModuleVariable<int>("test_hook_release_calls");
    released_before = release_calls;
    EXPECT_EQ(std::string(ModuleVariable<char[256]>("test_hook_first_argument")), module);

    hooks.Process(frame.get(), kWidth, kHeight, 1234567);

    EXPECT_EQ(Luma(frame.get(), 0, 0), 20) << "the second hook runs after the first";
    EXPECT_EQ(Luma(frame.get(), 15, 15), 20);
    EXPECT_EQ(Luma(frame.get(), 16, 0), 100);
    EXPECT_EQ(Luma(frame.get(), 0, 16), 100);
    EXPECT_EQ(Luma(decoder_reference.get(), 0, 0), 100) << "a shared buffer must not be written into";
    EXPECT_EQ(ModuleVariable<int>("test_hook_last_pix_fmt"), AV_PIX_FMT_YUV420P);
    EXPECT_EQ(ModuleVariable<int>("test_hook_last_width"), kWidth);
    EXPECT_EQ(ModuleVariable<int>("test_hook_last_height"), kHeight);
    EXPECT_EQ(ModuleVariable<std::int64_t>("test_hook_last_pts"), 1234567);

    hooks.Release();
    EXPECT_TRUE(hooks.Empty());
    EXPECT_EQ(release_calls, released_before + 2);
    hooks.Release();
    EXPECT_EQ(release_calls, released_before + 2);
    ASSERT_EQ(hooks.Add({module}), 0);  // no arguments: the module's own default
    hooks.Process(frame.get(), kWidth, kHeight, 0);
    EXPECT_EQ(Luma(frame.get(), 0, 0), 200);
  }
  EXPECT_EQ(ModuleVariable<int>("test_hook_release_calls"), released_before + 3)
      << "the destructor releases what is left";
}

TEST_F(FrameHooksTest, FailedLoadsReturnTheirCodeLogTheReasonAndAddNothing) {
  const std::string module = TARVELLO_TEST_HOOK_MODULE;
  const std::string process_only = TARVELLO_TEST_HOOK_PROCESS_ONLY_MODULE;
  const std::string missing = std::string(TARVELLO_TEST_BINARY_DIR) + "/no-such-hook.so";
  struct Case {
    std::vector<std::string> words;
    int result;
    std::string logged;
  };
  const Case cases[] = {
      {{missing, "-y", "1"},
       engine::FrameHookModules::kLoadFailed,
       missing + ": cannot open shared object file"},
      {{"libm.so.6"},
       engine::FrameHookModules::kMissingEntryPoint,
       "Failed to find Process entrypoint in libm.so.6"},
      {{process_only, "-x"},
       engine::FrameHookModules::kMissingEntryPoint,
       "Failed to find Configure entrypoint in " + process_only},
      {{module, "-unknown"}, engine::FrameHookModules::kConfigureFailed, "Failed to Configure " + module},
      {{}, engine::FrameHookModules::kMissingEntryPoint, ""},
  };
  for (const Case& c : cases) {
    const std::string label = c.words.empty() ? "(no words)" : c.words.back();
    LogRecorder log;
    engine::FrameHookModules hooks;
    EXPECT_EQ(hooks.Add(c.words), c.result) << label;
    EXPECT_TRUE(hooks.Empty()) << label;
    const std::vector<std::string> lines = log.Lines();
    if (c.logged.empty()) {
      EXPECT_TRUE(lines.empty()) << label;
    } else {
      ASSERT_EQ(lines.size(), 1u) << label;
      EXPECT_NE(lines.front().find(c.logged), std::string::npos) << lines.front();
    }
  }
}

TEST_F(FrameHooksTest, AModuleWithoutConfigureIsUsableWithoutArguments) {
  runtime::FramePtr frame = SolidFrame(100);
  ASSERT_TRUE(frame);
  engine::FrameHookModules hooks;
  ASSERT_EQ(hooks.Add({TARVELLO_TEST_HOOK_PROCESS_ONLY_MODULE}), 0);
  hooks.Process(frame.get(), kWidth, kHeight, 0);
  EXPECT_EQ(Luma(frame.get(), 0, 0), 7);
  EXPECT_EQ(Luma(frame.get(), 1, 0), 100);
  hooks.Release();  // no Release entry point: nothing to call
  EXPECT_TRUE(hooks.Empty());
}

// Paints a white rectangle over x 8..31, y 8..23 of the bitmap.
void DrawRectangle(runtime::Bitmap& bitmap) {
  for (int y = 8; y < 24; ++y)
    std::memset(bitmap.ScanLine(y) + 8 * runtime::Bitmap::kBytesPerPixel, 255,
                24 * runtime::Bitmap::kBytesPerPixel);
}

TEST_F(FrameHooksTest, CustomHookWritesTheDrawnBitmapBackIntoAWritableFrame) {
  runtime::FramePtr frame = SolidFrame(16);  // black
  ASSERT_TRUE(frame);
  const runtime::FramePtr decoder_reference = SharedReference(frame.get());
  ASSERT_TRUE(decoder_reference);
  engine::CustomHook hook;
  int bitmap_width = 0;
  int calls = 0;

  const bool stays_on =
      hook.Run(frame.get(), kWidth, kHeight, [&](runtime::Bitmap& bitmap, bool& update, bool& stop) {
        ++calls;
        bitmap_width = bitmap.Width();
        EXPECT_TRUE(update);
        EXPECT_FALSE(stop);
        EXPECT_LE(bitmap.ScanLine(10)[10 * 3], 2) << "the bitmap shows the black frame";
        DrawRectangle(bitmap);
      });

  EXPECT_TRUE(stays_on);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(bitmap_width, kWidth);
  for (int y = 10; y < 22; ++y) {
    for (int x = 10; x < 30; ++x)
      ASSERT_GE(Luma(frame.get(), x, y), 230) << x << "," << y;
  }
  EXPECT_LE(Luma(frame.get(), 50, 40), 18);
  EXPECT_LE(Luma(frame.get(), 40, 12), 18);
  EXPECT_EQ(LumaPlane(decoder_reference.get()), std::vector<std::uint8_t>(kWidth * kHeight, 16))
      << "the decoder's buffer must stay as it was";
}

TEST_F(FrameHooksTest, CustomHookFlagsAndHandlerErrors) {
  struct Case {
    const char* name;
    bool update;
    bool stop;
    bool throws;
    bool frame_changes;
    bool stays_on;
    std::string logged;
  };
  const Case cases[] = {
      {"no update", false, false, false, false, true, ""},
      {"stop after this frame", true, true, false, true, false, ""},
      {"stop without update", false, true, false, false, false, ""},
      {"handler throws", true, false, true, false, true, "Error occurs OnCustomHook: drawing failed"},
  };
  for (const Case& c : cases) {
    runtime::FramePtr frame = SolidFrame(16);
    ASSERT_TRUE(frame);
    const std::vector<std::uint8_t> before = LumaPlane(frame.get());
    LogRecorder log;
    engine::CustomHook hook;

    const bool stays_on =
        hook.Run(frame.get(), kWidth, kHeight, [&](runtime::Bitmap& bitmap, bool& update, bool& stop) {
          DrawRectangle(bitmap);
          update = c.update;
          stop = c.stop;
          if (c.throws) throw std::runtime_error("drawing failed");
        });

    EXPECT_EQ(stays_on, c.stays_on) << c.name;
    EXPECT_EQ(LumaPlane(frame.get()) != before, c.frame_changes) << c.name;
    const std::vector<std::string> lines = log.Lines();
    EXPECT_EQ(lines, c.logged.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.logged})
        << c.name;
  }
}

TEST_F(FrameHooksTest, CustomHookTurnsItselfOffWhenAConversionIsImpossible) {
  struct Case {
    AVPixelFormat format;
    std::string logged;
  };
  // A hardware surface cannot be read; a palette picture can be read but not written.
  const Case cases[] = {
      {AV_PIX_FMT_VAAPI, "Cannot initialize the toRGB conversion context"},
      {AV_PIX_FMT_PAL8, "Cannot initialize the fromRGB conversion context"},
  };
  for (const Case& c : cases) {
    runtime::FramePtr frame =
        SolidFrame(16, c.format == AV_PIX_FMT_PAL8 ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_YUV420P);
    ASSERT_TRUE(frame);
    frame->format = c.format;
    LogRecorder log;
    engine::CustomHook hook;
    int calls = 0;

    EXPECT_FALSE(hook.Run(frame.get(), kWidth, kHeight, [&](runtime::Bitmap&, bool&, bool&) { ++calls; }));

    EXPECT_EQ(calls, c.format == AV_PIX_FMT_PAL8 ? 1 : 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{c.logged});
  }
}

TEST(PreviewFramesTest, APreviewIsDueFirstAndThenOncePerInterval) {
  engine::PreviewFrames frames;
  constexpr std::int64_t kInterval = 100000;
  struct Step {
    std::int64_t now;
    bool due;
  };
  const Step steps[] = {
      {5000000, true},   // the first frame
      {5050000, false},  //
      {5100000, false},  // exactly one interval later: not yet
      {5100001, true},   //
      {5150000, false},  //
      {4000000, true},   // the clock went back
      {4050000, false},
  };
  for (const Step& step : steps)
    EXPECT_EQ(frames.Due(step.now, kInterval), step.due) << step.now;
  frames.Reset();
  EXPECT_TRUE(frames.Due(4050000, kInterval)) << "after Reset the next frame is due";
}

TEST_F(FrameHooksTest, PreviewFramesConvertTheFrameIntoTheirBitmap) {
  runtime::FramePtr frame = SolidFrame(235);  // white
  ASSERT_TRUE(frame);
  engine::PreviewFrames frames;
  runtime::Bitmap* bitmap = nullptr;

  ASSERT_TRUE(frames.Convert(frame.get(), bitmap));

  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->Width(), kWidth);
  EXPECT_EQ(bitmap->Height(), kHeight);
  EXPECT_GE(bitmap->ScanLine(kHeight - 1)[(kWidth - 1) * 3 + 2], 250);

  LogRecorder log;
  frame->format = AV_PIX_FMT_VAAPI;
  runtime::Bitmap* unchanged = bitmap;
  EXPECT_FALSE(frames.Convert(frame.get(), unchanged));
  EXPECT_EQ(unchanged, bitmap);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"Cannot initialize the toRGB conversion context"});
  EXPECT_FALSE(frames.HasPreviewer());
}

}  // namespace
