// Times that jump in a damaged or broadcast recording, converted with the options of the window's profiles in
// both schedules: a jump that no recording has (far beyond the file's end, or far ahead of the decoding times
// in a transport stream) is a discontinuity, not time to fill with copies of the last picture; the run ends
// in seconds with an output as long as its source, and the log names the jump. A gap the file really has is
// still filled.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "conversion_runner.h"
#include "probe/av_probe.h"
#include "profiles/job_builder.h"
#include "profiles/job_runner.h"
#include "profiles/source_facts.h"
#include "support/damaged_media.h"
#include "support/media_fixtures.h"
#include "support/timestamp_edits.h"
#include "support/watchdog.h"

namespace {

using engine_test::ConversionResult;
using timestamp_edits::MovedTime;

// Far more than any of these conversions takes on a busy machine, far less than filling an hour of pictures.
constexpr std::chrono::seconds kRunaway{90};
// What an output may have beyond its source: the encoders' last frames.
constexpr double kLengthMargin = 0.5;

const char* const kMp4Profile = "MP4 - MPEG4 Video (*.mp4)";
const char* const kThreeGpProfile = "3GP - Mobile Video Format (*.3gp)";

// 5 s of interlaced PAL MPEG-2 with MP2 sound in a transport stream, as a broadcast recording holds it.
std::filesystem::path BroadcastRecording() {
  return media_test::Fixture("jumps_broadcast.ts",
                             "-f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i "
                             "sine=frequency=440:sample_rate=48000 -t 5 -c:v mpeg2video -flags +ilme+ildct "
                             "-c:a mp2 -f mpegts");
}

// 20 s of small pictures with sound in a transport stream: room for a jump beyond the discontinuity threshold
// that stays within the threshold of the file's end.
std::filesystem::path LongRecording() {
  return media_test::Fixture(
      "jumps_long.ts",
      "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=sample_rate=48000 -t 20 "
      "-c:v mpeg2video -c:a mp2 -f mpegts");
}

// 5 s of MPEG-4 with MP2 sound in Matroska, a cluster every half second (1.92 s: the fifth).
std::filesystem::path MatroskaRecording() {
  return media_test::Fixture(
      "jumps_clusters.mkv",
      "-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=sample_rate=48000 -t 5 "
      "-c:v mpeg4 -c:a mp2 -cluster_time_limit 500 -write_crc32 0");
}

// A damaged copy of the clean file, shared by the tests of the build like the clean one.
struct DamagedCopy {
  std::filesystem::path Path;
  MovedTime Moved;
};

template <class Edit>
DamagedCopy Damage(const std::filesystem::path& clean, const std::string& name, Edit edit) {
  if (clean.empty()) return {};
  std::string bytes = damaged_media::ReadBytes(clean);
  const std::optional<MovedTime> moved = edit(bytes);
  if (!moved) return {};
  return {media_test::WrittenFixture(name, bytes), *moved};
}

// The output record the window builds for the source with the profile's first-run choices, and the schedule.
engine::TOutputOptions ProfileOptions(const std::string& profile, const std::filesystem::path& source,
                                      bool pipelined) {
  const profiles::WindowChoices choices = profiles_test::FirstRunChoices(profile, "");
  probe::TAVProbe probe;
  const profiles::SourceFacts facts = profiles::ReadSourceFacts(probe, source.string());
  engine::TOutputOptions options;
  profiles::FillOutputOptions(choices, profiles::JobSource{source.string(), facts.SizeColumn}, probe,
                              options);
  if (!pipelined) options.ExtOptions += (options.ExtOptions.empty() ? "" : "\n") + std::string("pipeline=0");
  return options;
}

double FileLength(const std::filesystem::path& file) {
  const std::string text =
      media_test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                             media_test::Quoted(file) + " 2>/dev/null")
          .Output;
  return text.empty() ? -1 : std::atof(text.c_str());
}

int VideoPackets(const std::filesystem::path& file) {
  for (const media_test::StreamFacts& stream : media_test::ProbeStreams(file))
    if (stream.Kind == "video") return stream.Packets;
  return -1;
}

// The jump the log reports for the stream ("#0.0") of the input: from and to, in the file's own seconds.
std::optional<MovedTime> LoggedJump(const std::string& lines, const std::string& stream,
                                    const std::filesystem::path& input) {
  const std::string opening = "Stream " + stream + " of '" + input.string() + "': its time jumps from ";
  const std::size_t at = lines.find(opening);
  if (at == std::string::npos) return std::nullopt;
  MovedTime jump;
  if (std::sscanf(lines.c_str() + at + opening.size(), "%lf s to %lf s", &jump.From, &jump.To) != 2)
    return std::nullopt;
  return jump;
}

// A damaged input, how it is converted and what the log must say of its jump.
struct JumpCase {
  const char* Name;
  DamagedCopy (*Input)();
  const char* Profile;
  const char* Extension;
  const char* Reason;  // as logged
  // What the log's "from ... to ..." must show: the moved time itself (from the time due after the picture
  // before it); only its end (a first picture gets the decoding time around it, which depends on the
  // decoder's delay); or only the size of the jump (a cluster's first frames are sound).
  enum { kFromAndTo, kTo, kSize } Logged;
};

// How JumpCase names show in the test names.
void PrintTo(const JumpCase& jump_case, std::ostream* out) {
  *out << jump_case.Name;
}

const char* const kBeyondTheEnd = ", beyond the end of the input (";
const char* const kAheadOfDecoding = " ahead of its decoding times, in a format whose times may jump";

// The damaged inputs. A picture of the broadcast recording 2 s in (PES packet 50), or its first, an hour
// ahead.
DamagedCopy PictureAnHourAhead() {
  return Damage(BroadcastRecording(), "jumps_picture_an_hour_ahead.ts", [](std::string& bytes) {
    return timestamp_edits::MovePesTime(bytes, timestamp_edits::PesKind::kVideo, 50, 3600);
  });
}

DamagedCopy FirstPictureAnHourAhead() {
  return Damage(BroadcastRecording(), "jumps_first_picture_an_hour_ahead.ts", [](std::string& bytes) {
    return timestamp_edits::MovePesTime(bytes, timestamp_edits::PesKind::kVideo, 0, 3600);
  });
}

// At 15 s of 20, to 29 s: not beyond the end of the file by more than the threshold, but far ahead of the
// decoding times.
DamagedCopy PictureAheadNearTheEnd() {
  return Damage(LongRecording(), "jumps_picture_14s_ahead.ts", [](std::string& bytes) {
    return timestamp_edits::MovePesTime(bytes, timestamp_edits::PesKind::kVideo, 375, 14);
  });
}

// The cluster at 1.92 s moved to 65.535 s: its pictures and sound a minute ahead.
DamagedCopy ClusterAMinuteAhead() {
  return Damage(MatroskaRecording(), "jumps_cluster_a_minute_ahead.mkv",
                [](std::string& bytes) { return timestamp_edits::MoveClusterTime(bytes, 4, 65535); });
}

const std::vector<JumpCase>& JumpCases() {
  static const std::vector<JumpCase> cases{
      {"PictureAnHourAheadMp4", PictureAnHourAhead, kMp4Profile, "mp4", kBeyondTheEnd, JumpCase::kFromAndTo},
      {"PictureAnHourAhead3gp", PictureAnHourAhead, kThreeGpProfile, "3gp", kBeyondTheEnd,
       JumpCase::kFromAndTo},
      {"FirstPictureAnHourAhead", FirstPictureAnHourAhead, kMp4Profile, "mp4", kBeyondTheEnd, JumpCase::kTo},
      {"PictureAheadNearTheEnd", PictureAheadNearTheEnd, kThreeGpProfile, "3gp", kAheadOfDecoding,
       JumpCase::kFromAndTo},
      {"MatroskaClusterAMinuteAhead", ClusterAMinuteAhead, kMp4Profile, "mp4", kBeyondTheEnd,
       JumpCase::kSize},
  };
  return cases;
}

class TimeJumps : public testing::TestWithParam<std::tuple<JumpCase, bool>> {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
  test_watchdog::Watchdog watchdog_;
};

TEST_P(TimeJumps, AreDiscontinuitiesNotTimeToFill) {
  const auto& [jump_case, pipelined] = GetParam();
  const DamagedCopy input = jump_case.Input();
  ASSERT_FALSE(input.Path.empty()) << "the fixture could not be made";
  const std::filesystem::path output =
      engine_test::TestFolder() / (std::string("out.") + jump_case.Extension);
  const engine::TOutputOptions options = ProfileOptions(jump_case.Profile, input.Path, pipelined);
  engine_test::LogCapture log(runtime::llVerbose);
  watchdog_.Arm(std::string("converting ") + jump_case.Name, kRunaway);
  const ConversionResult result =
      engine_test::Convert(input.Path, output, "", "", [&](engine::TOutputOptions& out) { out = options; });
  watchdog_.Disarm();
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  const std::string lines = log.Lines();
  EXPECT_NE(lines.find(pipelined ? "pipelined run:" : "one-thread run: pipeline=0"), std::string::npos);

  // As long as the source, every picture of it there once: nothing filled, nothing dropped after the jump.
  EXPECT_LE(FileLength(output), FileLength(input.Path) + kLengthMargin);
  EXPECT_GE(FileLength(output), FileLength(input.Path) - kLengthMargin);
  EXPECT_NEAR(VideoPackets(output), VideoPackets(input.Path), 2);
  EXPECT_TRUE(media_test::DecodesCleanly(output));

  const std::optional<MovedTime> logged = LoggedJump(lines, "#0.0", input.Path);
  ASSERT_TRUE(logged) << lines;
  if (jump_case.Logged == JumpCase::kFromAndTo) EXPECT_NEAR(logged->From, input.Moved.From, 0.0005);
  if (jump_case.Logged != JumpCase::kSize) EXPECT_NEAR(logged->To, input.Moved.To, 0.0005);
  EXPECT_NEAR(logged->To - logged->From, input.Moved.To - input.Moved.From,
              jump_case.Logged == JumpCase::kTo ? 0.5 : 0.0005);
  EXPECT_NE(lines.find(jump_case.Reason), std::string::npos) << lines;
  EXPECT_NE(lines.find("Taken as a discontinuity of damaged or broadcast time stamps, not as a gap to fill"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Inputs, TimeJumps, testing::Combine(testing::ValuesIn(JumpCases()), testing::Bool()),
                         [](const auto& case_info) {
                           return std::string(std::get<0>(case_info.param).Name) +
                                  (std::get<1>(case_info.param) ? "_pipelined" : "_one_thread");
                         });

class RealGaps : public testing::TestWithParam<bool> {
 protected:
  test_watchdog::Watchdog watchdog_;
};

// A gap the file really has (its container's length covers it, or it is shorter than the discontinuity
// threshold in a transport stream) is still filled with copies of the picture before it.
TEST_P(RealGaps, AreStillFilled) {
  const bool pipelined = GetParam();
  // 2 s of 10 fps pictures whose times jump by `gap` seconds after the first second.
  const auto with_gap = [](const std::string& name, int gap, const std::string& encoding) {
    return media_test::Fixture(
        "jumps_gap_" + name,
        "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -vf \"setpts='PTS+gte(N,10)*" +
            std::to_string(gap) + "/TB'\" -fps_mode passthrough " + encoding);
  };
  struct Case {
    const char* Name;
    std::filesystem::path Input;
    int Gap;  // seconds
  };
  const Case cases[] = {
      {"3 s in Matroska", with_gap("3s.mkv", 3, "-c:v mjpeg"), 3},
      {"30 s in Matroska: beyond the threshold, inside the file", with_gap("30s.mkv", 30, "-c:v mjpeg"), 30},
      {"3 s in a transport stream", with_gap("3s.ts", 3, "-c:v mpeg4 -f mpegts"), 3},
  };
  const std::filesystem::path folder = engine_test::TestFolder();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_FALSE(c.Input.empty()) << "the fixture could not be made";
    const std::filesystem::path output = folder / "out.avi";
    std::filesystem::remove(output);
    engine_test::LogCapture log;
    watchdog_.Arm(std::string("converting ") + c.Name, kRunaway);
    const ConversionResult result = engine_test::Convert(
        c.Input, output, "", std::string("vcodec=mpeg4\nr=10") + (pipelined ? "" : "\npipeline=0"));
    watchdog_.Disarm();
    ASSERT_TRUE(result.Finished) << result.ErrorText;
    // 20 pictures and the gap's 10 a second, as copies of the tenth.
    EXPECT_NEAR(VideoPackets(output), 20 + 10 * c.Gap, 2);
    EXPECT_NEAR(FileLength(output), 2 + c.Gap, kLengthMargin);
    EXPECT_TRUE(media_test::DecodesCleanly(output));
    EXPECT_EQ(log.Lines().find("Taken as a discontinuity"), std::string::npos) << log.Lines();
  }
}

INSTANTIATE_TEST_SUITE_P(Schedules, RealGaps, testing::Bool(), [](const auto& schedule) {
  return std::string(schedule.param ? "pipelined" : "one_thread");
});

}  // namespace
