// Inputs that are broken, odd or large: each either fails AddTask with its reason or converts what can be
// read, and never crashes or hangs.
#include <gtest/gtest.h>

#include <fstream>

#include "conversion_runner.h"
#include "runtime/logger.h"
#include "support/damaged_media.h"
#include "support/media_fixtures.h"

namespace {

using engine_test::Convert;
using engine_test::LogCapture;
using engine_test::MakeFile;
using engine_test::TestFolder;

std::filesystem::path TruncatedCopy(const std::filesystem::path& source, const std::filesystem::path& target,
                                    double fraction) {
  const auto size = std::filesystem::file_size(source);
  std::string bytes(static_cast<std::size_t>(static_cast<double>(size) * fraction), '\0');
  std::ifstream in(source, std::ios::binary);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return MakeFile(target, bytes);
}

TEST(InputFaults, UnreadableInputsFailAddTaskWithTheirReason) {
  const std::filesystem::path folder = TestFolder();
  const std::string noise = test_files::RandomBytes(64 * 1024);
  struct Case {
    const char* Name;
    std::filesystem::path Path;
    const char* Reason;
  };
  const Case cases[] = {
      {"missing", folder / "missing.mp4", ": no such file or directory"},
      {"empty", MakeFile(folder / "empty.mp4", ""), ": Error while parsing header"},
      {"noise", MakeFile(folder / "noise.avi", noise), ": Error while parsing header"},
      {"directory", folder, ": Error while opening file"},
      {"mp4 cut before its index", TruncatedCopy(media_test::H264AacMp4(), folder / "cut.mp4", 0.5),
       ": Error while parsing header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto result = Convert(c.Path, folder / "out.mkv", "", "vcodec=copy\nacodec=copy");
    EXPECT_FALSE(result.Added);
    EXPECT_EQ(result.ErrorText, c.Path.string() + c.Reason);
    EXPECT_FALSE(std::filesystem::exists(folder / "out.mkv"));
  }
}

TEST(InputFaults, ATruncatedStreamConvertsWhatCanBeRead) {
  const std::filesystem::path folder = TestFolder();
  const std::filesystem::path whole = media_test::Fixture(
      "h264_aac.ts", "-i " + media_test::Quoted(media_test::H264AacMp4()) + " -c copy -f mpegts");
  const std::filesystem::path cut = TruncatedCopy(whole, folder / "cut.ts", 0.5);
  LogCapture log;
  const auto result = Convert(cut, folder / "out.mkv", "", "vcodec=copy\nacodec=copy");
  ASSERT_TRUE(result.Finished) << result.ErrorText;
  const auto out = media_test::ProbeStreams(folder / "out.mkv");
  ASSERT_EQ(out.size(), 2U);
  EXPECT_GT(out[0].Duration, 0.5);
  EXPECT_LT(out[0].Duration, 2.5);
  // The same packets as the ffmpeg tool's own copy of the cut input.
  const std::filesystem::path reference = folder / "reference.mkv";
  ASSERT_EQ(media_test::RunCommand("ffmpeg -nostdin -v quiet -i " + media_test::Quoted(cut) + " -c copy " +
                                   media_test::Quoted(reference))
                .Status,
            0);
  for (const char* stream : {"v:0", "a:0"}) {
    const auto copied = media_test::PacketChecksums(folder / "out.mkv", stream);
    EXPECT_GE(copied.size(), 10U);
    EXPECT_EQ(copied, media_test::PacketChecksums(reference, stream)) << stream;
  }
  EXPECT_NE(log.Lines().find("Damaged data in stream #0.1"), std::string::npos) << log.Lines();
}

// A WebM cut before its first picture: the sound converts, the picture stream gets nothing. An output with an
// empty picture stream does not play to its end, so both schedules fail the run and say which stream.
TEST(InputFaults, AnOutputStreamThatGetsNothingFailsTheRun) {
  const std::filesystem::path folder = TestFolder();
  const std::string clean =
      damaged_media::ReadBytes(damaged_media::CleanFile(*damaged_media::FindSource("webm")));
  ASSERT_FALSE(clean.empty());
  const std::filesystem::path cut =
      MakeFile(folder / "cut.webm", damaged_media::Damaged(clean, {damaged_media::Damage::kTruncated, 10}));
  for (const char* schedule : {"", "\npipeline=0"}) {
    SCOPED_TRACE(schedule);
    const std::filesystem::path output = folder / "out.mkv";
    const auto result = Convert(cut, output, "", std::string("vcodec=mpeg4\nacodec=mp2") + schedule);
    ASSERT_TRUE(result.Added) << result.ErrorText;
    EXPECT_FALSE(result.Finished);
    EXPECT_EQ(result.ErrorText,
              "Nothing was written to video stream #0.0 of '" + output.string() +
                  "': its input holds no picture that could be read (cut short or damaged)");
    // The sound alone converts.
    const auto sound = Convert(cut, folder / "sound.mka", "", std::string("vn\nacodec=mp2") + schedule);
    EXPECT_TRUE(sound.Finished) << sound.ErrorText;
    EXPECT_TRUE(media_test::DecodesCleanly(folder / "sound.mka"));
  }
}

TEST(InputFaults, ManyStreamsAndDataStreamsKeepEveryStreamInItsPlace) {
  const std::filesystem::path folder = TestFolder();
  // 24 audio streams after a video stream: more than the 20 that per-stream tables once allowed.
  std::string arguments = "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 ";
  std::string maps = "-map 0 ";
  for (int i = 0; i < 24; ++i) {
    arguments += "-f lavfi -i sine=frequency=" + std::to_string(200 + 50 * i) + ":duration=1 ";
    maps += "-map " + std::to_string(i + 1) + " ";
  }
  const std::filesystem::path many =
      media_test::Fixture("many_streams.mkv", arguments + maps + "-c:v mpeg4 -c:a mp2 -ar 22050");
  ASSERT_FALSE(many.empty());
  const auto last = Convert(many, folder / "last.mkv", "", "vcodec=copy\nacodec=copy\nmap=0:0\nmap=0:24");
  ASSERT_TRUE(last.Finished) << last.ErrorText;
  EXPECT_EQ(media_test::PacketChecksums(folder / "last.mkv", "a:0"),
            media_test::PacketChecksums(many, "a:23"));

  // A data stream first: the decoder forced for the audio still belongs to the audio stream.
  const std::filesystem::path with_timecode = media_test::Fixture(
      "timecode.mov",
      "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -f lavfi -i sine=duration=1 -c:v mpeg4 "
      "-c:a mp2 -timecode 00:00:00:00");
  const std::filesystem::path data_first =
      media_test::Fixture("data_first.nut", "-i " + media_test::Quoted(with_timecode) +
                                                " -map 0:d -map 0:v -map 0:a -c copy -f nut");
  ASSERT_FALSE(data_first.empty());
  engine::TVidrel vidrel;
  ASSERT_TRUE(vidrel.LoadMediaLibraries(runtime::ProgramFolder()));
  engine::TInputOptions options;
  engine::InitInputOptions(options);
  options.ExtOptions = "acodec=mp2float";
  ASSERT_EQ(vidrel.AddTask(data_first.string(), &options), 0) << vidrel.LastErrorText();
  const engine::InputFile& input = vidrel.Task(0).InputFiles().front();
  ASSERT_EQ(input.Streams.size(), 3U);
  EXPECT_EQ(input.Streams[0].ForcedDecoder, nullptr);
  EXPECT_EQ(input.Streams[1].ForcedDecoder, nullptr);
  ASSERT_NE(input.Streams[2].ForcedDecoder, nullptr);
  EXPECT_STREQ(input.Streams[2].ForcedDecoder->name, "mp2float");
  vidrel.ClearTasks();
  const auto copied = Convert(data_first, folder / "from_data_first.mkv", "", "vcodec=copy\nacodec=copy");
  ASSERT_TRUE(copied.Finished) << copied.ErrorText;
  EXPECT_EQ(media_test::ProbeStreams(folder / "from_data_first.mkv").size(), 2U);
}

}  // namespace
