// tarvello-convert on damaged media, as a user runs it with a video and an audio profile: every file ends
// as "Done" with an output that decodes fully or "Fail" with a reason in the summary, the exit status
// says whether all were done, and a hang is ended by a watchdog that shows where the program stuck.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/engine_test_support.h"
#include "support/damaged_media.h"
#include "support/watchdog.h"

namespace {

using damaged_media::DamagedFile;
using media_test::Quoted;

constexpr std::chrono::seconds kLimit{100};
const char* const kVideoProfile = "'MP4 - MPEG4 Video (*.mp4)'";
const char* const kAudioProfile = "'MP3 - Mpeg Layer3 Audio (*.mp3)' --audio-quality Lowest";

struct SummaryRow {
  std::string Result;
  std::string File;
  std::string Output;
  std::string Reason;
};

std::string Trimmed(const std::string& text) {
  const std::size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

// The table at the end of stdout: "Result  File  Output  Reason", its columns as wide as the header says.
std::vector<SummaryRow> Summary(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line) && line.rfind("Result ", 0) != 0) {
  }
  const std::size_t file_at = line.find("File");
  const std::size_t output_at = line.find("Output");
  const std::size_t reason_at = line.find("Reason");
  std::vector<SummaryRow> rows;
  if (reason_at == std::string::npos) return rows;
  while (std::getline(lines, line)) {
    if (line.size() < output_at) continue;
    rows.push_back({Trimmed(line.substr(0, file_at)), Trimmed(line.substr(file_at, output_at - file_at - 2)),
                    Trimmed(line.substr(output_at, reason_at - output_at - 2)),
                    line.size() > reason_at ? line.substr(reason_at) : ""});
  }
  return rows;
}

// Converts the files in one run of the program and checks each row of its summary and its exit status;
// returns the rows.
std::vector<SummaryRow> ExpectEveryFileEndsClearly(const std::vector<DamagedFile>& files,
                                                   const std::string& profile,
                                                   const std::filesystem::path& folder,
                                                   bool inputs_kept = true) {
  const std::filesystem::path output_folder = folder / "out";
  std::filesystem::create_directories(output_folder);
  std::string command =
      "exec " + Quoted(TARVELLO_CONVERT_PROGRAM) + " --profile " + profile + " -o " + Quoted(output_folder);
  std::vector<std::string> before;
  for (const DamagedFile& file : files) {
    command += " " + Quoted(file.Path);
    std::error_code error;
    before.push_back(std::filesystem::is_regular_file(file.Path, error) ? damaged_media::ReadBytes(file.Path)
                                                                        : "");
  }
  const std::filesystem::path errors = folder / "stderr.txt";
  const test_watchdog::WatchedRun run = test_watchdog::RunWatched(command + " 2>" + Quoted(errors), kLimit);
  std::ostringstream err;
  err << std::ifstream(errors).rdbuf();
  EXPECT_FALSE(run.Hung) << err.str();
  const std::vector<SummaryRow> rows = Summary(run.Output);
  EXPECT_EQ(rows.size(), files.size()) << run.Output << err.str();
  if (rows.size() != files.size()) return rows;
  bool all_done = true;
  for (std::size_t at = 0; at < files.size(); ++at) {
    SCOPED_TRACE(files[at].Label + " with " + profile);
    const SummaryRow& row = rows[at];
    EXPECT_EQ(row.File, files[at].Path.string());
    if (row.Result == "Done") {
      EXPECT_EQ(damaged_media::WhyNotDecodable(row.Output), "") << "called done: " << row.Output;
    } else {
      all_done = false;
      EXPECT_EQ(row.Result, "Fail") << run.Output;
      EXPECT_GT(row.Reason.size(), 3U) << "a failure without a reason: " << run.Output;
    }
    if (inputs_kept && !before[at].empty()) {
      EXPECT_TRUE(damaged_media::ReadBytes(files[at].Path) == before[at]) << "the input changed";
    }
  }
  EXPECT_EQ(run.Status, all_done ? 0 : 1) << run.Output << err.str();
  return rows;
}

class DamagedMediaConvert : public testing::TestWithParam<damaged_media::Source> {};

TEST_P(DamagedMediaConvert, EveryDamagedCopyIsDoneOrFailsWithAReason) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const auto files = damaged_media::DamagedCopies(GetParam(), folder);
  ASSERT_FALSE(files.empty()) << "the clean file could not be made";
  if (GetParam().Video) ExpectEveryFileEndsClearly(files, kVideoProfile, folder / "video");
  ExpectEveryFileEndsClearly(files, kAudioProfile, folder / "audio");
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedMediaConvert, testing::ValuesIn(damaged_media::Sources()),
                         [](const auto& case_info) { return std::string(case_info.param.Extension); });

TEST(DamagedMediaConvertFiles, AwkwardFilesAreDoneOrFailWithAReason) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const auto files = damaged_media::AwkwardFiles(folder);
  for (const auto& [profile, place] :
       {std::pair{kVideoProfile, "video"}, std::pair{kAudioProfile, "audio"}}) {
    const std::vector<SummaryRow> rows = ExpectEveryFileEndsClearly(files, profile, folder / place);
    ASSERT_EQ(rows.size(), files.size());
    // The clean file under a name that is no UTF-8 converts; the output named after the longest name
    // cannot be made, and the reason says why.
    EXPECT_EQ(rows[2].Result, "Done") << rows[2].Reason;
    EXPECT_EQ(rows[3].Result, "Fail");
    EXPECT_NE(rows[3].Reason.find("File name too long"), std::string::npos) << rows[3].Reason;
  }
}

// The input changes once the output has grown a little.
TEST(DamagedMediaConvertFiles, InputsChangedWhileTheyAreConvertedAreDoneOrFail) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path clean = damaged_media::LongerFile();
  ASSERT_FALSE(clean.empty());
  for (const damaged_media::ChangeCase& change : damaged_media::Changes()) {
    SCOPED_TRACE(change.Name);
    const std::filesystem::path run_folder = folder / std::to_string(static_cast<int>(change.What));
    std::filesystem::create_directories(run_folder / "out");
    const std::filesystem::path input = damaged_media::OwnCopy(clean, run_folder / "input.avi");
    damaged_media::WhenFileGrows trigger(run_folder / "out" / "input.mp4", 16 * 1024,
                                         [&] { damaged_media::ApplyChange(input, change.What); });
    // The change itself makes the input differ from what it was.
    ExpectEveryFileEndsClearly({{change.Name, input}}, kVideoProfile, run_folder, false);
    EXPECT_TRUE(trigger.GiveUp()) << "the conversion ended before the input changed";
  }
}

}  // namespace
