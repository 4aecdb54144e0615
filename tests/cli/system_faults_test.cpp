// tarvello-convert when the machine around it fails a conversion: a disk that fills up, an output folder
// that is read-only or vanishes, an AMR library that cannot be loaded, an output that is the input under
// another name, and an output that reads back short. Each file ends as Done with an output that decodes, or
// as Fail with its reason; the next file of the queue still runs, and no input is ever touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "support/media_fixtures.h"

namespace {

namespace fs = std::filesystem;
using media_test::Quoted;
using media_test::RunCommand;

struct ProgramRun {
  int Status = -1;
  std::vector<std::string> Rows;  // the summary's rows, without its heading
  std::string Out;
  std::string Err;
};

ProgramRun Finished(const media_test::CommandResult& result, const fs::path& errors) {
  ProgramRun run{result.Status, {}, result.Output, {}};
  std::ostringstream err;
  err << std::ifstream(errors).rdbuf();
  run.Err = err.str();
  std::istringstream lines(run.Out);
  std::string line;
  bool heading_seen = false;
  while (std::getline(lines, line)) {
    if (line == "--") break;
    if (heading_seen) run.Rows.push_back(line);
    heading_seen = heading_seen || line.rfind("Result", 0) == 0;
  }
  return run;
}

ProgramRun RunProgram(const std::string& arguments, const fs::path& folder,
                      const fs::path& program = TARVELLO_CONVERT_PROGRAM) {
  const fs::path errors = folder / "stderr.txt";
  return Finished(RunCommand(Quoted(program) + " " + arguments + " 2>" + Quoted(errors) + " </dev/null"),
                  errors);
}

// Runs the program in a user and mount namespace of its own, with a tmpfs of `size` mounted at `disk`
// (read-only when asked): a disk of its own, without privileges on the host. `afterwards` runs in the same
// namespace after the program, while the disk is still there; its output follows a "--" line. The status is
// the program's.
ProgramRun RunOnSmallDisk(const std::string& arguments, const fs::path& folder, const fs::path& disk,
                          const std::string& size, bool read_only, const std::string& afterwards = "true") {
  const fs::path errors = folder / "stderr.txt";
  const fs::path script = folder / "on_small_disk.sh";
  std::ofstream(script) << "mount -t tmpfs -o size=" << size << " tarvello-test " << Quoted(disk)
                        << " || exit 99\n"
                        << (read_only ? "mount -o remount,ro " + Quoted(disk) + " || exit 99\n" : "")
                        << Quoted(TARVELLO_CONVERT_PROGRAM) << " " << arguments << " 2>" << Quoted(errors)
                        << " </dev/null\nstatus=$?\necho --\n"
                        << afterwards << "\nexit $status\n";
  return Finished(RunCommand("unshare --user --map-root-user --mount sh " + Quoted(script)), errors);
}

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

fs::path Noise() {
  return media_test::Fixture(
      "faults_noise.mp4",
      "-f lavfi -i 'nullsrc=size=320x240:rate=25:duration=8,geq=random(1)*255:128:128' -f lavfi -i "
      "sine=duration=8 "
      "-c:v libx264 -preset ultrafast -qp 20 -c:a aac");
}

fs::path Tone() {
  return media_test::Fixture("faults_tone.wav", "-f lavfi -i sine=duration=4 -ar 8000");
}

fs::path ShortClip() {
  return media_test::Fixture(
      "faults_short.mp4",
      "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -f lavfi -i sine=duration=1 -c:v mpeg4 -c:a aac");
}

constexpr const char* kVideoProfile = "'AVI - DivX Video (*.avi)'";
constexpr const char* kSoundProfile = "'MP3 - Mpeg Layer3 Audio (*.mp3)'";

TEST(SystemFaults, AFullDiskFailsTheJobRemovesItsOutputAndTheNextJobRuns) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path disk = folder / "disk";
  fs::create_directory(disk);
  const fs::path big = Noise();
  const fs::path small = ShortClip();
  ASSERT_FALSE(big.empty() || small.empty());
  const std::string big_before = Contents(big);
  // The first output would need several times the disk; once it is removed, the second fits. The summary is
  // printed inside the namespace, the outputs are checked there too (the disk goes with it).
  const ProgramRun run = RunOnSmallDisk("--profile " + std::string(kVideoProfile) + " -o " + Quoted(disk) +
                                            " " + Quoted(big) + " " + Quoted(small),
                                        folder, disk, "512k", false,
                                        "ls " + Quoted(disk) + "; ffmpeg -nostdin -v error -i " +
                                            Quoted(disk / "faults_short.avi") + " -f null - && echo decoded");
  ASSERT_EQ(run.Rows.size(), 2U) << run.Out << run.Err;
  EXPECT_EQ(run.Rows[0].rfind("Fail", 0), 0U) << run.Out;
  EXPECT_NE(run.Rows[0].find("No space left on device"), std::string::npos) << run.Out;
  EXPECT_EQ(run.Rows[1].rfind("Done", 0), 0U) << run.Out << run.Err;
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  EXPECT_EQ(run.Out.find("faults_noise.avi\n"), std::string::npos)
      << "the incomplete output is left: " << run.Out;
  EXPECT_NE(run.Out.find("decoded"), std::string::npos) << run.Out << run.Err;
  EXPECT_EQ(Contents(big), big_before);
}

TEST(SystemFaults, AReadOnlyOutputFolderFailsEveryJobWithTheReason) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path disk = folder / "disk";
  fs::create_directory(disk);
  const ProgramRun run = RunOnSmallDisk("--profile " + std::string(kSoundProfile) + " -o " + Quoted(disk) +
                                            " " + Quoted(Tone()) + " " + Quoted(ShortClip()),
                                        folder, disk, "1m", true);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  ASSERT_EQ(run.Rows.size(), 2U) << run.Out << run.Err;
  for (const std::string& row : run.Rows) {
    EXPECT_EQ(row.rfind("Fail", 0), 0U) << run.Out;
    EXPECT_NE(row.find("Could not open"), std::string::npos) << run.Out;
  }
}

// The folder is removed while the first of three files converts: the first output went with it, so it
// is no result, and the other two cannot be created. None of them is called done.
TEST(SystemFaults, AnOutputFolderThatVanishesFailsTheJobsThatWriteIntoIt) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path output_folder = folder / "out";
  fs::create_directory(output_folder);
  const fs::path source =
      media_test::Fixture("faults_10s.mp4",
                          "-f lavfi -i testsrc=size=320x240:rate=25:duration=10 -f lavfi -i sine=duration=10 "
                          "-c:v mpeg4 -q:v 5 -c:a aac -shortest");
  ASSERT_FALSE(source.empty());
  const fs::path errors = folder / "stderr.txt";
  // Made into HD pictures, the first file takes seconds: the folder goes long before its end.
  const std::string script =
      Quoted(TARVELLO_CONVERT_PROGRAM) + " --profile 'HD MP4 - MPEG4 Video (*.mp4)' -o " +
      Quoted(output_folder) + " " + Quoted(source) + " " + Quoted(Tone()) + " " + Quoted(ShortClip()) +
      " 2>" + Quoted(errors) + " & program=$!; waited=0; until grep -q 'size=' " + Quoted(errors) +
      " || [ $waited -ge 1200 ]; do sleep 0.05; waited=$((waited + 1)); done; rm -rf " +
      Quoted(output_folder) + "; wait $program; echo status=$?";
  const media_test::CommandResult result = RunCommand("sh -c " + Quoted(script));
  EXPECT_NE(result.Output.find("status=1\n"), std::string::npos) << result.Output;
  std::istringstream lines(result.Output);
  std::string line;
  int failed = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("Fail", 0) == 0) ++failed;
    EXPECT_NE(line.rfind("Done", 0), 0U) << result.Output;
  }
  EXPECT_EQ(failed, 3) << result.Output;
  EXPECT_NE(result.Output.find("the output cannot be read back"), std::string::npos) << result.Output;
  EXPECT_NE(result.Output.find("Could not open"), std::string::npos) << result.Output;
}

TEST(SystemFaults, AnAmrLibraryThatCannotBeLoadedFailsOnlyTheAmrJobs) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path program = folder / "tarvello-convert";
  fs::copy_file(TARVELLO_CONVERT_PROGRAM, program);
  engine_test::MakeFile(folder / "libopencore-amrnb.so.0", "this is not a shared library\n");
  const fs::path source = Tone();
  const ProgramRun amr = RunProgram("--profile 'BlackBerry AMR Audio (*.amr)' -o " + Quoted(folder) + " " +
                                        Quoted(source) + " " + Quoted(source),
                                    folder, program);
  EXPECT_EQ(amr.Status, 1) << amr.Out << amr.Err;
  ASSERT_EQ(amr.Rows.size(), 2U) << amr.Out << amr.Err;
  for (const std::string& row : amr.Rows) {
    EXPECT_EQ(row.rfind("Fail", 0), 0U) << amr.Out;
    EXPECT_NE(row.find("libopencore-amrnb.so.0"), std::string::npos) << amr.Out;
  }
  EXPECT_FALSE(fs::exists(folder / "faults_tone.amr"));
  const ProgramRun mp3 =
      RunProgram("--profile " + std::string(kSoundProfile) + " -o " + Quoted(folder) + " " + Quoted(source),
                 folder, program);
  EXPECT_EQ(mp3.Status, 0) << mp3.Out << mp3.Err;
  EXPECT_TRUE(media_test::DecodesCleanly(folder / "faults_tone.mp3"));
}

TEST(SystemFaults, AnOutputThatIsTheInputThroughALinkIsRefusedAndTheInputKept) {
  const fs::path folder = engine_test::TestFolder();
  const fs::path input = folder / "clip.mp3";
  const fs::path sound =
      media_test::Fixture("faults_tone.mp3", "-f lavfi -i sine=duration=2 -c:a libmp3lame");
  ASSERT_FALSE(sound.empty());
  fs::copy_file(sound, input);
  const std::string before = Contents(input);
  for (const char* link : {"hard", "soft", "same"}) {
    SCOPED_TRACE(link);
    const fs::path output_folder = folder / link;
    fs::create_directory(output_folder);
    if (std::string(link) == "hard") fs::create_hard_link(input, output_folder / "clip.mp3");
    if (std::string(link) == "soft") fs::create_symlink(input, output_folder / "clip.mp3");
    const fs::path into = std::string(link) == "same" ? folder : output_folder;
    const ProgramRun run = RunProgram(
        "--overwrite --profile " + std::string(kSoundProfile) + " -o " + Quoted(into) + " " + Quoted(input),
        folder);
    EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
    ASSERT_EQ(run.Rows.size(), 1U) << run.Out;
    EXPECT_EQ(run.Rows[0].rfind("Fail", 0), 0U) << run.Out;
    EXPECT_NE(run.Rows[0].find("is the same file as input"), std::string::npos) << run.Out;
    EXPECT_EQ(Contents(input), before);
  }
}

// An MP4 file with its index in front, cut in half, still says it lasts 4 s: the output holds the 2 s there
// are, and is no success.
TEST(SystemFaults, AnOutputShorterThanItsSourceIsAFailureWithTheReason) {
  const fs::path folder = engine_test::TestFolder();
  const std::string whole = Contents(media_test::Fixture(
      "faults_tone_indexed.m4a", "-f lavfi -i sine=duration=4 -c:a aac -movflags +faststart"));
  ASSERT_FALSE(whole.empty());
  const fs::path cut = engine_test::MakeFile(folder / "cut.m4a", whole.substr(0, whole.size() / 2));
  const ProgramRun run = RunProgram("--profile " + std::string(kSoundProfile) + " -o " + Quoted(folder) +
                                        " " + Quoted(cut) + " " + Quoted(Tone()),
                                    folder);
  EXPECT_EQ(run.Status, 1) << run.Out << run.Err;
  ASSERT_EQ(run.Rows.size(), 2U) << run.Out;
  EXPECT_EQ(run.Rows[0].rfind("Fail", 0), 0U) << run.Out;
  EXPECT_NE(run.Rows[0].find("the output lasts 1.9 s of the source's 4.0 s"), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("cut.m4a: Fail: the output lasts"), std::string::npos) << run.Err;
  EXPECT_TRUE(media_test::DecodesCleanly(folder / "cut.mp3")) << "what was converted is kept";
  EXPECT_EQ(run.Rows[1].rfind("Done", 0), 0U) << run.Out;
}

}  // namespace
