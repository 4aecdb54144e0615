// Reading outputs back: what a job expects of its output, and the reason an output falls short of it.
#include "profiles/output_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "runtime/library_loader.h"
#include "support/media_fixtures.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

class OutputCheck : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
};

// A source with a picture and sound, both of `seconds`.
profiles::SourceContents Source(double seconds) {
  profiles::SourceContents source;
  source.Read = true;
  source.HasPicture = true;
  source.HasSound = true;
  source.PictureLength = source.SoundLength = source.Length = static_cast<std::int64_t>(seconds * 1e6);
  return source;
}

profiles::SourceContents SoundOnly(double seconds) {
  profiles::SourceContents source = Source(seconds);
  source.HasPicture = false;
  source.PictureLength = -1;
  return source;
}

engine::TOutputOptions Encoders(const std::string& video, const std::string& audio) {
  engine::TOutputOptions options;
  engine::InitOutputOptions(options);
  options.VideoCodec = video;
  options.AudioCodec = audio;
  return options;
}

TEST_F(OutputCheck, TheExpectationFollowsTheNameTheEncodersAndTheSource) {
  struct Case {
    std::string Name;
    std::string Container;
  };
  // Writers whose files another reader reads, and plain ones.
  for (const Case& example : std::vector<Case>{{"a.mp4", "mov,mp4,m4a,3gp,3g2,mj2"},
                                               {"a.m4a", "mov,mp4,m4a,3gp,3g2,mj2"},
                                               {"a.3g2", "mov,mp4,m4a,3gp,3g2,mj2"},
                                               {"a.aac", "aac"},
                                               {"a.mpg", "mpeg"},
                                               {"a.vob", "mpeg"},
                                               {"a.mp2", "mp3"},
                                               {"a.wma", "asf"},
                                               {"a.mkv", "matroska,webm"},
                                               {"a.ra", "rm"},
                                               {"a.avi", "avi"},
                                               {"a.unknown-extension", ""}}) {
    EXPECT_EQ(profiles::ExpectedOutput(example.Name, Encoders("", ""), Source(3)).Container,
              example.Container)
        << example.Name;
  }

  profiles::OutputExpectation expected =
      profiles::ExpectedOutput("/out/a.3gp", Encoders("libx264", "libopencore_amrnb"), Source(3));
  EXPECT_EQ(expected.Path, "/out/a.3gp");
  EXPECT_TRUE(expected.WantsPicture);
  EXPECT_TRUE(expected.WantsSound);
  EXPECT_EQ(expected.PictureCodec, "h264");
  EXPECT_EQ(expected.SoundCodec, "amr_nb");
  EXPECT_EQ(expected.Length, 3000000);

  // Sound switched off, picture longer than sound, a sound stream of unknown length.
  engine::TOutputOptions silent = Encoders("mpeg4", "libmp3lame");
  silent.DisableAudio = true;
  profiles::SourceContents source = Source(3);
  source.PictureLength = 5000000;
  expected = profiles::ExpectedOutput("a.avi", silent, source);
  EXPECT_TRUE(expected.WantsPicture);
  EXPECT_FALSE(expected.WantsSound);
  EXPECT_EQ(expected.SoundCodec, "");
  EXPECT_EQ(expected.Length, 5000000);
  source.SoundLength = -1;
  source.Length = 7000000;
  expected = profiles::ExpectedOutput("a.avi", Encoders("mpeg4", "libmp3lame"), source);
  EXPECT_EQ(expected.SoundCodec, "mp3");
  EXPECT_EQ(expected.Length, 7000000) << "the container's length stands in for a stream's unknown one";

  // A source the probe could not read: only the container is known.
  expected = profiles::ExpectedOutput("a.avi", Encoders("mpeg4", "mp2"), profiles::SourceContents{});
  EXPECT_FALSE(expected.WantsPicture || expected.WantsSound);
  EXPECT_EQ(expected.Length, -1);
}

TEST_F(OutputCheck, AnOutputThatIsNotWhatTheJobAskedForIsNamedWithTheReason) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path three_seconds = media_test::H264AacMp4();  // H.264 and AAC, 3 s, MP4
  const fs::path copy_as_avi = media_test::Fixture(
      "output_check_mpeg4.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -c:v mpeg4");
  const fs::path adts = media_test::Fixture("output_check.aac", "-f lavfi -i sine=duration=3 -c:a aac");
  const fs::path long_sound = media_test::Fixture(
      "output_check_21s.mp3", "-f lavfi -i sine=duration=21 -ar 8000 -c:a libmp3lame -b:a 8k");
  ASSERT_FALSE(three_seconds.empty() || copy_as_avi.empty() || adts.empty() || long_sound.empty());
  // A name of the wrong kind for what it holds: an AVI file named .mp4.
  fs::copy_file(copy_as_avi, folder / "avi_inside.mp4");
  test_files::MakeFile(folder / "noise.avi", test_files::RandomBytes(20000));
  test_files::MakeFile(folder / "empty.mp4", "");

  const auto expect = [](const fs::path& path, const engine::TOutputOptions& options,
                         const profiles::SourceContents& source) {
    return profiles::ExpectedOutput(path.string(), options, source);
  };
  struct Case {
    const char* What;
    profiles::OutputExpectation Expected;
    std::string Reason;  // the start of the reason; empty: the output is what was asked for
  };
  const std::vector<Case> cases = {
      {"as asked", expect(three_seconds, Encoders("libx264", "aac"), Source(3)), ""},
      {"0.9 s short", expect(three_seconds, Encoders("libx264", "aac"), Source(3.9)), ""},
      {"1.1 s short", expect(three_seconds, Encoders("libx264", "aac"), Source(4.1)),
       "the output lasts 3.0 s of the source's 4.1 s"},
      {"1.1 s but under 5 % short", expect(long_sound, Encoders("", "libmp3lame"), SoundOnly(22.2)), ""},
      {"1.5 s and 6.6 % short", expect(long_sound, Encoders("", "libmp3lame"), SoundOnly(22.7)),
       "the output lasts 21.2 s of the source's 22.7 s"},
      // ADTS gives only an estimate: its length is measured from its packets.
      {"measured from its packets", expect(adts, Encoders("", "aac"), SoundOnly(3)), ""},
      {"measured too short", expect(adts, Encoders("", "aac"), SoundOnly(10)),
       "the output lasts 3.0 s of the source's 10.0 s"},
      {"no such file", expect(folder / "missing.mp4", Encoders("libx264", "aac"), Source(3)),
       "the output cannot be read back: "},
      {"an empty file", expect(folder / "empty.mp4", Encoders("libx264", "aac"), Source(3)),
       "the output cannot be read back: "},
      {"no media", expect(folder / "noise.avi", Encoders("mpeg4", "mp2"), Source(3)),
       "the output cannot be read back: "},
      {"another container", expect(folder / "avi_inside.mp4", Encoders("mpeg4", ""), Source(3)),
       "the output is a 'avi' file, not 'mov,mp4,m4a,3gp,3g2,mj2'"},
      {"no sound", expect(copy_as_avi, Encoders("mpeg4", "mp2"), Source(3)), "the output has no audio"},
      {"no picture", expect(adts, Encoders("mpeg4", "aac"), Source(3)), "the output has no video"},
      {"another video codec", expect(three_seconds, Encoders("mpeg4", "aac"), Source(3)),
       "the output's video is 'h264', not 'mpeg4'"},
      {"another audio codec", expect(three_seconds, Encoders("libx264", "libmp3lame"), Source(3)),
       "the output's audio is 'aac', not 'mp3'"},
  };
  probe::TAVProbe probe;
  for (const Case& example : cases) {
    const std::string reason = profiles::CheckOutput(probe, example.Expected);
    if (example.Reason.empty()) {
      EXPECT_EQ(reason, "") << example.What;
    } else {
      EXPECT_EQ(reason.rfind(example.Reason, 0), 0U) << example.What << ": " << reason;
    }
    EXPECT_EQ(probe.FormatContext(), nullptr) << example.What << ": the probe is closed again";
  }
}

}  // namespace
