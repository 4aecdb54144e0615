// tarvello-convert [CHOICES] FILE...: the choices checked against the profile's lists, and the program run
// as a user runs it: the profile list, the records it would send, conversions with their summary and exit
// status, and Ctrl-C.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/profile_choices.h"
#include "engine/engine_test_support.h"
#include "support/media_fixtures.h"

namespace {

using media_test::Quoted;
using media_test::RunCommand;

cli::ProfileRequest Request(std::string profile, std::vector<cli::ChoiceArgument> choices) {
  cli::ProfileRequest request;
  request.Profile = std::move(profile);
  request.Choices = std::move(choices);
  request.OutputFolder = "/";
  return request;
}

TEST(ProfileChoices, AreAppliedInOrderAsTheUserWouldChooseThem) {
  profiles::WindowChoices choices;
  std::string problem;
  // The disc profile's PAL size picks the PAL rate; a bit rate picks its quality level.
  ASSERT_TRUE(cli::ApplyProfileRequest(
      Request("Video CD (*.mpg)",
              {{"--size", "352x288"}, {"--video-bitrate", "1000 Kbps"}, {"--volume", "40"}}),
      choices, problem))
      << problem;
  EXPECT_EQ(choices.ComboVideoFrameRate.SelectedText(), "25 fps (PAL)");
  EXPECT_EQ(choices.ComboVideoQuality.SelectedText(), "Higher");
  EXPECT_EQ(choices.OutputVolume, 40);
  EXPECT_EQ(choices.ComboBoxLetterbox.SelectedText(), "Add LetterBox");

  // The first-run profile is row 2, and a row number names a profile as well as its text.
  ASSERT_TRUE(cli::ApplyProfileRequest(cli::ProfileRequest{}, choices, problem)) << problem;
  EXPECT_EQ(choices.ComboOutputFormat.SelectedText(), "3GP - Mobile Video Format (*.3gp)");
  ASSERT_TRUE(cli::ApplyProfileRequest(Request("37", {{"--audio-quality", "Highest"}}), choices, problem));
  EXPECT_EQ(choices.CurrentFormatCode, "MP3");
  EXPECT_EQ(choices.ComboAudioBitrate.SelectedText(), "320 Kbps");
}

TEST(ProfileChoices, RefuseWhatTheListsDoNotOfferAndNameWhatTheyDo) {
  struct Case {
    cli::ProfileRequest Request;
    const char* Names;  // a part of the problem text
  };
  const Case cases[] = {
      {Request("3GP - Mobile Video Format (*.3gp)", {{"--size", "640x480"}}), "\"176x144\", \"128x96\""},
      {Request("AVI - Audio Video Interleave (*.avi)", {{"--audio-codec", "MP3"}}), "\"pcm_s16le\", \"mp3\""},
      {Request("MP3 - Mpeg Layer3 Audio (*.mp3)", {{"--video-codec", "h264"}}), "audio only"},
      {Request("MP4 - MPEG4 Video (*.mp4)", {{"--volume", "30"}}), "0, 20, 40"},
      {Request("MP4 - MPEG4 Video (*.mp4)", {{"--letterbox", "yes"}}), "\"None\", \"Add LetterBox\""},
      {Request("0", {}), "--list-profiles"},    // a group header
      {Request("65", {}), "--list-profiles"},   // past the end
      {Request("mp4", {}), "--list-profiles"},  // no row's text
  };
  for (const Case& c : cases) {
    profiles::WindowChoices choices;
    std::string problem;
    EXPECT_FALSE(cli::ApplyProfileRequest(c.Request, choices, problem));
    EXPECT_NE(problem.find(c.Names), std::string::npos) << problem;
  }
  cli::ProfileRequest missing_folder;
  missing_folder.OutputFolder = "/no/such/folder";
  profiles::WindowChoices choices;
  std::string problem;
  EXPECT_FALSE(cli::ApplyProfileRequest(missing_folder, choices, problem));
  EXPECT_NE(problem.find("/no/such/folder"), std::string::npos);
}

// The program, run through the shell: stdout, stderr and the exit status.
struct ProgramRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

ProgramRun RunProgram(const std::string& arguments, const std::filesystem::path& folder) {
  const std::filesystem::path errors = folder / "stderr.txt";
  const media_test::CommandResult result =
      RunCommand(Quoted(TARVELLO_CONVERT_PROGRAM) + " " + arguments + " 2>" + Quoted(errors) + " </dev/null");
  std::ostringstream err;
  err << std::ifstream(errors).rdbuf();
  return ProgramRun{result.Status, result.Output, err.str()};
}

// Runs the program with the arguments in the background and sends it one SIGINT once its stderr (into
// `errors`) has a line matching each of the grep patterns, or after 60 s. Its stdout, then "status=N".
media_test::CommandResult RunAndInterrupt(const std::string& arguments,
                                          const std::vector<std::string>& patterns,
                                          const std::filesystem::path& errors) {
  std::string seen = "true";
  for (const std::string& pattern : patterns)
    seen += " && grep -q " + Quoted(pattern) + " " + Quoted(errors);
  const std::string script = Quoted(TARVELLO_CONVERT_PROGRAM) + " " + arguments + " 2>" + Quoted(errors) +
                             " & program=$!; waited=0; until { " + seen +
                             "; } || [ $waited -ge 1200 ]; do sleep 0.05; waited=$((waited + 1)); done; "
                             "kill -INT $program; wait $program; echo status=$?";
  return RunCommand("sh -c " + Quoted(script));
}

TEST(ProfileMode, ListsTheProfilesWithTheirRows) {
  const ProgramRun run = RunProgram("--list-profiles", engine_test::TestFolder());
  EXPECT_EQ(run.Status, 0);
  std::istringstream lines(run.Out);
  std::string line, first, last;
  int count = 0;
  while (std::getline(lines, line)) {
    if (count++ == 0) first = line;
    last = line;
  }
  EXPECT_EQ(count, 51);
  EXPECT_EQ(first, "2\t3GP - Mobile Video Format (*.3gp)");
  EXPECT_EQ(last, "64\tZune WMV Windows Media Video (*.wmv)");
}

TEST(ProfileMode, ShowsTheRecordsWithoutConverting) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const ProgramRun run =
      RunProgram("--show-options --profile 'AVI - DivX Video (*.avi)' --letterbox None -o " + Quoted(folder) +
                     " " + Quoted(media_test::H264AacMp4()),
                 folder);
  EXPECT_EQ(run.Status, 0) << run.Err;
  for (const char* line :
       {"output=", "input.FileName=", "output.VideoCodec=mpeg4\n", "output.VideoTag=DIVX\n",
        "output.AudioCodec=libmp3lame\n", "output.FrameSize=320x240\n", "output.VideoBitrate=1200000\n"}) {
    EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\n" << run.Out;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "h264_aac.avi"));
}

TEST(ProfileMode, ConvertsEachFileAndSumsUpWithReasons) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path not_media = engine_test::MakeFile(folder / "notes.txt", "not a media file\n");
  const std::filesystem::path source = media_test::H264AacMp4();
  const ProgramRun run =
      RunProgram("--profile 'MP3 - Mpeg Layer3 Audio (*.mp3)' --audio-quality Lowest -o " + Quoted(folder) +
                     " " + Quoted(source) + " " + Quoted(not_media) + " " + Quoted(source),
                 folder);
  EXPECT_EQ(run.Status, 1) << run.Err;
  std::istringstream lines(run.Out);
  std::string header, first, second, third;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, third);
  EXPECT_EQ(header.rfind("Result", 0), 0U) << run.Out;
  EXPECT_EQ(first.rfind("Done", 0), 0U) << run.Out;
  EXPECT_NE(first.find((folder / "h264_aac.mp3").string()), std::string::npos) << run.Out;
  EXPECT_EQ(second.rfind("Fail", 0), 0U) << run.Out;
  EXPECT_NE(second.find("notes.txt"), std::string::npos) << run.Out;
  EXPECT_GT(second.size(), second.find("notes.txt") + 30) << "a reason follows: " << run.Out;
  EXPECT_EQ(third.rfind("Done", 0), 0U) << run.Out;
  EXPECT_NE(third.find("h264_aac-1.mp3"), std::string::npos) << run.Out;
  // Plain progress lines when stderr is no terminal.
  EXPECT_NE(run.Err.find("[1/3] "), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("%  size="), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find('\r'), std::string::npos);

  const std::filesystem::path output = folder / "h264_aac.mp3";
  EXPECT_EQ(media_test::StreamEntry(output, "a:0", "codec_name"), "mp3");
  EXPECT_EQ(media_test::StreamEntry(output, "a:0", "bit_rate"), "64000");
  EXPECT_TRUE(media_test::DecodesCleanly(output));

  const ProgramRun all_done = RunProgram("--profile 37 -o " + Quoted(folder) + " " + Quoted(source), folder);
  EXPECT_EQ(all_done.Status, 0) << all_done.Err;
}

TEST(ProfileMode, RefusesAChoiceWithStatusTwoAndNothingOnStdout) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const ProgramRun run =
      RunProgram("--size 999x999 -o " + Quoted(folder) + " " + Quoted(media_test::H264AacMp4()), folder);
  EXPECT_EQ(run.Status, 2);
  EXPECT_TRUE(run.Out.empty()) << run.Out;
  EXPECT_NE(run.Err.find("\"176x144\""), std::string::npos) << run.Err;
}

// A minute of video with sound: long enough to be stopped in the middle.
std::filesystem::path LongClip() {
  return media_test::Fixture(
      "long_clip.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=60 -f lavfi -i sine=duration=60 "
      "-c:v mpeg4 -q:v 5 -c:a aac -shortest");
}

TEST(ProfileMode, CtrlCStopsTheRunningConversionAndClosesItsOutput) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path source = LongClip();
  ASSERT_FALSE(source.empty());
  // Once the first progress line is out, one SIGINT.
  const media_test::CommandResult result =
      RunAndInterrupt("--profile 'HD MP4 - MPEG4 Video (*.mp4)' -o " + Quoted(folder) + " " + Quoted(source) +
                          " " + Quoted(source),
                      {"size="}, folder / "stderr.txt");
  EXPECT_NE(result.Output.find("status=130"), std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("Abort"), std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("Skipped"), std::string::npos) << result.Output;
  // The stopped output is a whole file: its trailer was written.
  const std::filesystem::path output = folder / "long_clip.mp4";
  ASSERT_TRUE(std::filesystem::exists(output));
  EXPECT_EQ(media_test::StreamEntry(output, "v:0", "width"), "1280");
  EXPECT_FALSE(std::filesystem::exists(folder / "long_clip-1.mp4"));
}

// The lines of a text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line))
    lines.push_back(line);
  return lines;
}

// The positions of a job's progress reports among the lines ("[2/4]  45%  ...", not its heading).
std::vector<std::size_t> ReportLines(const std::vector<std::string>& lines, const std::string& label) {
  std::vector<std::size_t> at;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (lines[index].rfind(label, 0) == 0 && lines[index].find(" -> ") == std::string::npos &&
        lines[index].find("size=") != std::string::npos) {
      at.push_back(index);
    }
  }
  return at;
}

TEST(ProfileMode, JobsConvertSeveralFilesAtOnceWithTheSameSummary) {
  const std::filesystem::path folder = engine_test::TestFolder();
  std::string files;
  for (int clip = 1; clip <= 4; ++clip) {
    const std::filesystem::path source = media_test::Fixture(
        "jobs_clip" + std::to_string(clip) + "_30s.mp4",
        "-f lavfi -i testsrc=size=320x240:rate=25:duration=30 -f lavfi -i sine=frequency=" +
            std::to_string(300 + 100 * clip) + ":duration=30 -c:v mpeg4 -q:v 5 -c:a aac -shortest");
    ASSERT_FALSE(source.empty());
    files += " " + Quoted(source);
  }
  const ProgramRun run = RunProgram(
      "--jobs 2 --profile 'MP4 - MPEG4 Video (*.mp4)' --size '320x240 (VGA)' -o " + Quoted(folder) + files,
      folder);
  EXPECT_EQ(run.Status, 0) << run.Out << run.Err;

  // The table lists the files in the order given, whatever order they ended in.
  const std::vector<std::string> table = Lines(run.Out);
  ASSERT_EQ(table.size(), 5U) << run.Out;
  EXPECT_EQ(table[0].rfind("Result", 0), 0U) << run.Out;
  for (int clip = 1; clip <= 4; ++clip) {
    SCOPED_TRACE("clip " + std::to_string(clip));
    const std::string& row = table[static_cast<std::size_t>(clip)];
    EXPECT_EQ(row.rfind("Done", 0), 0U) << run.Out;
    const std::filesystem::path output = folder / ("jobs_clip" + std::to_string(clip) + "_30s.mp4");
    EXPECT_NE(row.find(output.string()), std::string::npos) << run.Out;
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "codec_name"), "mpeg4");
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "width"), "320");
    EXPECT_EQ(media_test::StreamEntry(output, "a:0", "codec_name"), "aac");
    EXPECT_TRUE(media_test::DecodesCleanly(output));
  }

  // Plain lines on a pipe, each a whole record, and the first two files converting side by side: each
  // reported progress before the other's last report.
  EXPECT_EQ(run.Err.find('\r'), std::string::npos);
  EXPECT_EQ(run.Err.find('\x1b'), std::string::npos);
  const std::vector<std::string> lines = Lines(run.Err);
  for (const std::string& line : lines) {
    EXPECT_TRUE(line.empty() || line.rfind("[", 0) == 0) << "a record broken by another:\n" << run.Err;
  }
  const std::vector<std::size_t> first = ReportLines(lines, "[1/4] ");
  const std::vector<std::size_t> second = ReportLines(lines, "[2/4] ");
  ASSERT_GE(first.size(), 2U) << run.Err;
  ASSERT_GE(second.size(), 2U) << run.Err;
  EXPECT_LT(first.front(), second.back()) << run.Err;
  EXPECT_LT(second.front(), first.back()) << run.Err;
  // No third file before one of the first two has ended.
  for (const std::string label : {"[3/4] ", "[4/4] "}) {
    for (std::size_t index = 0; index < lines.size(); ++index) {
      if (lines[index].rfind(label, 0) != 0) continue;
      EXPECT_GT(index, std::min(first.back(), second.back())) << label << "began early:\n" << run.Err;
      break;
    }
  }
}

TEST(ProfileMode, CtrlCStopsEveryRunningJobAndSkipsTheRest) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path source = LongClip();
  ASSERT_FALSE(source.empty());
  const std::filesystem::path errors = folder / "stderr.txt";
  // Once both running files have reported progress, one SIGINT.
  const media_test::CommandResult result =
      RunAndInterrupt("--jobs 2 --profile 'HD MP4 - MPEG4 Video (*.mp4)' -o " + Quoted(folder) + " " +
                          Quoted(source) + " " + Quoted(source) + " " + Quoted(source) + " " + Quoted(source),
                      {"^\\[1/4\\].*size=", "^\\[2/4\\].*size="}, errors);
  std::ostringstream err;
  err << std::ifstream(errors).rdbuf();
  EXPECT_NE(result.Output.find("status=130"), std::string::npos) << result.Output << err.str();

  const std::vector<std::string> table = Lines(result.Output);
  ASSERT_EQ(table.size(), 6U) << result.Output;  // the header, four files, the status
  EXPECT_EQ(table[1].rfind("Abort", 0), 0U) << result.Output;
  EXPECT_EQ(table[2].rfind("Abort", 0), 0U) << result.Output;
  EXPECT_EQ(table[3].rfind("Skipped", 0), 0U) << result.Output;
  EXPECT_EQ(table[4].rfind("Skipped", 0), 0U) << result.Output;
  // Both stopped outputs are whole files, their trailers written; the skipped files made none.
  for (const char* name : {"long_clip.mp4", "long_clip-1.mp4"}) {
    const std::filesystem::path output = folder / name;
    ASSERT_TRUE(std::filesystem::exists(output)) << name;
    EXPECT_EQ(media_test::StreamEntry(output, "v:0", "width"), "1280") << name;
    EXPECT_TRUE(media_test::DecodesCleanly(output)) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "long_clip-2.mp4"));
}

TEST(ProbeMode, TellsWhatEachFileHolds) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path not_media = engine_test::MakeFile(folder / "notes.txt", "not a media file\n");
  const ProgramRun run =
      RunProgram("--probe " + Quoted(media_test::H264AacMp4()) + " " + Quoted(not_media), folder);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find("h264_aac.mp4: mov,mp4,m4a,3gp,3g2,mj2, 00:00:03, 320x240\n"), std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("  stream 0: Video h264"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("320x240 25 fps"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("  stream 1: Audio aac"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("44100 Hz 2 channels"), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("notes.txt"), std::string::npos) << run.Err;
}

}  // namespace
