// The video path inside real runs: frame-rate synchronisation, two-pass encoding, deinterlacing, the custom
// hook and preview bitmaps, all through the engine component.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "conversion_runner.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::TestFolder;
using media_test::StreamEntry;

int CountFrames(const std::filesystem::path& path) {
  return std::stoi("0" + StreamEntry(path, "v:0", "nb_read_frames -count_frames").substr(0, 9));
}

TEST(VideoSync, ConstantRateDropsOrRepeatsPicturesAndVariableRateKeepsThem) {
  const std::filesystem::path input = media_test::Fixture(
      "rate30.mkv", "-f lavfi -i testsrc=size=160x120:rate=30:duration=2 -c:v mpeg4 -qscale:v 3");
  const std::filesystem::path folder = TestFolder();
  // 2 s at 30 fps into 25 fps: constant rate drops one picture in six.
  const auto constant = Convert(input, folder / "constant.avi", "", "vcodec=mpeg4\nr=25\nvsync=1");
  ASSERT_TRUE(constant.Finished) << constant.ErrorText;
  EXPECT_NEAR(CountFrames(folder / "constant.avi"), 50, 1);
  // Every picture kept, one output frame each.
  const auto passthrough = Convert(input, folder / "passthrough.mkv", "", "vcodec=mpeg4\nvsync=0");
  ASSERT_TRUE(passthrough.Finished) << passthrough.ErrorText;
  EXPECT_EQ(CountFrames(folder / "passthrough.mkv"), 60);
  // A frame limit ends the video there.
  const auto limited = Convert(input, folder / "limited.mkv", "", "vcodec=mpeg4\nvframes=10");
  ASSERT_TRUE(limited.Finished) << limited.ErrorText;
  EXPECT_EQ(CountFrames(folder / "limited.mkv"), 10);
}

TEST(VideoEncoding, TwoPassAndDeinterlacingProduceDecodableOutput) {
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path folder = TestFolder();
  const std::string log = (folder / "stats").string();
  const auto first = Convert(input, folder / "pass1.avi", "",
                             "vcodec=mpeg4\nb=300000\npass=1\npasslogfile=" + log + "\nan=1");
  ASSERT_TRUE(first.Finished) << first.ErrorText;
  ASSERT_GT(std::filesystem::file_size(log + "-0.log"), 0U);
  const auto second = Convert(input, folder / "pass2.avi", "",
                              "vcodec=mpeg4\nb=300000\npass=2\npasslogfile=" + log + "\nan=1");
  ASSERT_TRUE(second.Finished) << second.ErrorText;
  EXPECT_TRUE(media_test::DecodesCleanly(folder / "pass2.avi"));
  EXPECT_EQ(CountFrames(folder / "pass2.avi"), 75);

  const auto missing = Convert(input, folder / "nolog.avi", "",
                               "vcodec=mpeg4\npass=2\npasslogfile=" + (folder / "absent").string());
  EXPECT_FALSE(missing.Finished);
  EXPECT_EQ(missing.ErrorText,
            "Cannot read log file " + (folder / "absent").string() + "-0.log for pass-2 encoding");

  const auto deinterlaced =
      Convert(input, folder / "deinterlaced.mkv", "", "vcodec=mpeg4\ndeinterlace=1\nan=1");
  ASSERT_TRUE(deinterlaced.Finished) << deinterlaced.ErrorText;
  EXPECT_EQ(CountFrames(folder / "deinterlaced.mkv"), 75);
}

TEST(VideoHooks, TheCustomHookDrawsIntoTheOutputAndPreviewsArriveRateLimited) {
  const std::filesystem::path input = media_test::H264AacMp4();
  const std::filesystem::path output = TestFolder() / "hooked.mkv";
  std::atomic<int> hook_calls{0};
  std::atomic<bool> hook_on_main{false};
  int previews = 0;
  bool preview_sized = true;
  engine_test::ConversionResult result;
  {
    engine::TVidrel vidrel;
    ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
    vidrel.SetPreviewBitmap(true);
    vidrel.SetOnCustomHook([&](engine::TCustomVidrel&, engine::PHookInfo info) {
      ++hook_calls;
      if (runtime::IsMainThread()) hook_on_main = true;
      // A white block in the top-left corner of every picture.
      runtime::Bitmap& bitmap = *info->Bitmap;
      for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 3 * 40; ++x)
          bitmap.ScanLine(y)[x] = 255;
      }
    });
    vidrel.SetOnPreviewBitmap([&](engine::TCustomVidrel&, const engine::TPreviewInfo& info) {
      ++previews;
      preview_sized = preview_sized && info.Bitmap->Width() == 320 && info.Bitmap->Height() == 240;
    });
    result = engine_test::RunConversion(vidrel, input, output, "", "vcodec=mpeg4\nqscale=2\nan=1\nre=1",
                                        [](engine::TOutputOptions& options) { options.CustomHook = true; });
  }
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_EQ(hook_calls, 75);
  EXPECT_FALSE(hook_on_main) << "the hook runs on the worker";
  // 3 s at the input's pace with one preview per 100 ms at most.
  EXPECT_GE(previews, 10);
  EXPECT_LE(previews, 32);
  EXPECT_TRUE(preview_sized);
  const auto corner = media_test::RunCommand(
      "ffmpeg -nostdin -v info -i " + media_test::Quoted(output) +
      " -frames:v 1 -vf crop=32:32:4:4,signalstats,metadata=print:key=lavfi.signalstats.YAVG -f null - 2>&1");
  const std::size_t at = corner.Output.find("YAVG=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stod(corner.Output.substr(at + 5)), 230.0);
}

}  // namespace
