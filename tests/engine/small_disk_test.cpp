// A disk that fills up during a conversion: a 512 KiB tmpfs mounted by the test's wrapper at the folder that
// TARVELLO_SMALL_DISK names. The run fails with the system's reason, the incomplete output is removed so the
// space is free again, the input is untouched, and the next conversion onto the same disk works.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "conversion_runner.h"
#include "runtime/program_folder.h"
#include "support/media_fixtures.h"

namespace {

namespace fs = std::filesystem;

fs::path SmallDiskFolder() {
  const char* folder = std::getenv("TARVELLO_SMALL_DISK");
  return folder != nullptr ? fs::path(folder) : fs::path();
}

std::uintmax_t FreeBytes(const fs::path& folder) {
  struct statvfs facts {};
  if (::statvfs(folder.c_str(), &facts) != 0) return 0;
  return static_cast<std::uintmax_t>(facts.f_bavail) * facts.f_frsize;
}

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

class SmallDiskRun : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(Schedules, SmallDiskRun, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Pipelined" : "OneThread";
                         });

TEST_P(SmallDiskRun, AFullDiskFailsTheRunRemovesItsOutputAndTheNextRunWorks) {
  const fs::path disk = SmallDiskFolder();
  ASSERT_FALSE(disk.empty()) << "run through its wrapper, which mounts the small disk";
  const std::string schedule = GetParam() ? "" : "\npipeline=0";
  // Far more than the disk holds: 6 s of noise at 8 Mbit/s.
  const fs::path big =
      media_test::Fixture("small_disk_noise.mp4",
                          "-f lavfi -i 'nullsrc=size=320x240:rate=25:duration=6,geq=random(1)*255:128:128' "
                          "-f lavfi -i sine=duration=6 -c:v libx264 -preset ultrafast -qp 20 -c:a aac");
  const fs::path small = media_test::Fixture("small_disk_tone.wav", "-f lavfi -i sine=duration=1 -ar 8000");
  ASSERT_FALSE(big.empty());
  ASSERT_FALSE(small.empty());
  const std::string input_before = Contents(big);
  const std::uintmax_t free_before = FreeBytes(disk);

  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  const fs::path output = disk / (GetParam() ? "full-pipelined.avi" : "full-one-thread.avi");
  engine_test::ConversionResult result =
      engine_test::RunConversion(vidrel, big, output, "", "vcodec=mpeg4\nb=8000000\nacodec=mp2" + schedule);
  EXPECT_TRUE(result.Terminated);
  EXPECT_TRUE(result.ExceptionRaised);
  EXPECT_NE(result.ErrorText.find("No space left on device"), std::string::npos) << result.ErrorText;
  EXPECT_FALSE(fs::exists(output)) << "the incomplete output fills the disk";
  EXPECT_EQ(FreeBytes(disk), free_before);
  EXPECT_EQ(Contents(big), input_before);

  vidrel.ClearTasks();
  const fs::path next = disk / (GetParam() ? "next-pipelined.mp3" : "next-one-thread.mp3");
  result = engine_test::RunConversion(vidrel, small, next, "", "acodec=libmp3lame\nab=32000" + schedule);
  EXPECT_TRUE(result.Finished) << result.ErrorText;
  EXPECT_TRUE(media_test::DecodesCleanly(next));
  fs::remove(next);
}

}  // namespace
