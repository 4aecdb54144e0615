// The engine on damaged media, in both schedules (pipelined and "pipeline=0"): every damaged copy of every
// container, awkward files and inputs changed while they are converted end in a clear outcome within a time
// limit: refused by AddTask with a reason naming the file, finished with an output that decodes fully, or
// failed with a reason. The input is never touched.
#include <gtest/gtest.h>

#include <tuple>

#include "conversion_runner.h"
#include "support/damaged_media.h"
#include "support/watchdog.h"

namespace {

using damaged_media::DamagedFile;
using engine_test::ConversionResult;

constexpr std::chrono::seconds kLimit{50};

struct Job {
  const char* Extension;
  std::string Options;
};

// A picture and its sound re-encoded into Matroska; a sound alone into MP2 in Matroska.
Job JobFor(bool video, bool pipelined) {
  const std::string schedule = pipelined ? "" : "\npipeline=0";
  if (video) return {"mkv", "vcodec=mpeg4\nacodec=mp2" + schedule};
  return {"mka", "vn\nacodec=mp2" + schedule};
}

// Converts the file and checks its outcome; the output goes next to it.
void ExpectClearOutcome(test_watchdog::Watchdog& watchdog, const DamagedFile& file, const Job& job,
                        const std::string& input_options = "") {
  SCOPED_TRACE(file.Label);
  const std::filesystem::path output =
      file.Path.parent_path() / ("out_of " + file.Label + "." + job.Extension);
  std::error_code error;
  const bool input_is_file = std::filesystem::is_regular_file(file.Path, error);
  const std::string before = input_is_file ? damaged_media::ReadBytes(file.Path) : "";
  watchdog.Arm("converting " + file.Label, kLimit);
  const ConversionResult result = engine_test::Convert(file.Path, output, input_options, job.Options);
  watchdog.Disarm();
  if (!result.Added) {
    EXPECT_EQ(result.ErrorText.rfind(file.Path.string() + ": ", 0), 0U) << result.ErrorText;
    EXPECT_FALSE(std::filesystem::exists(output));
  } else if (result.Finished) {
    EXPECT_TRUE(result.OutputSet);
    EXPECT_EQ(damaged_media::WhyNotDecodable(output), "") << "called finished";
  } else {
    EXPECT_FALSE(result.ErrorText.empty()) << "a failure without a reason";
  }
  if (input_is_file) {
    EXPECT_TRUE(damaged_media::ReadBytes(file.Path) == before) << "the input changed";
  }
}

class DamagedMediaEngine : public testing::TestWithParam<std::tuple<damaged_media::Source, bool>> {
 protected:
  test_watchdog::Watchdog watchdog_;
};

TEST_P(DamagedMediaEngine, EveryDamagedCopyEndsClearly) {
  const auto& [source, pipelined] = GetParam();
  const auto files = damaged_media::DamagedCopies(source, test_files::TestFolder());
  ASSERT_FALSE(files.empty()) << "the clean file could not be made";
  for (const DamagedFile& file : files)
    ExpectClearOutcome(watchdog_, file, JobFor(source.Video, pipelined));
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedMediaEngine,
                         testing::Combine(testing::ValuesIn(damaged_media::Sources()), testing::Bool()),
                         [](const auto& case_info) {
                           return std::string(std::get<0>(case_info.param).Extension) +
                                  (std::get<1>(case_info.param) ? "_pipelined" : "_one_thread");
                         });

class DamagedMediaEngineFiles : public testing::TestWithParam<bool> {
 protected:
  test_watchdog::Watchdog watchdog_;
};

TEST_P(DamagedMediaEngineFiles, AwkwardFilesEndClearly) {
  const std::filesystem::path folder = test_files::TestFolder();
  for (const DamagedFile& file : damaged_media::AwkwardFiles(folder))
    ExpectClearOutcome(watchdog_, file, JobFor(true, GetParam()));
}

// The input changes once the output has grown a little: the conversion goes on with what it still reads.
TEST_P(DamagedMediaEngineFiles, InputsChangedWhileTheyAreConvertedEndClearly) {
  const std::filesystem::path folder = test_files::TestFolder();
  const std::filesystem::path clean = damaged_media::LongerFile();
  ASSERT_FALSE(clean.empty());
  for (const damaged_media::ChangeCase& change : damaged_media::Changes()) {
    SCOPED_TRACE(change.Name);
    const std::filesystem::path input = damaged_media::OwnCopy(clean, folder / "input.avi");
    const std::filesystem::path output = folder / "changed.mkv";
    std::filesystem::remove(output);
    damaged_media::WhenFileGrows trigger(output, 16 * 1024,
                                         [&] { damaged_media::ApplyChange(input, change.What); });
    watchdog_.Arm(std::string("converting an input ") + change.Name, kLimit);
    const ConversionResult result = engine_test::Convert(input, output, "", JobFor(true, GetParam()).Options);
    watchdog_.Disarm();
    EXPECT_TRUE(trigger.GiveUp()) << "the conversion ended before the input changed";
    ASSERT_TRUE(result.Added) << result.ErrorText;
    if (result.Finished) {
      EXPECT_EQ(damaged_media::WhyNotDecodable(output), "") << "called finished";
    } else {
      EXPECT_FALSE(result.ErrorText.empty()) << "a failure without a reason";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Schedules, DamagedMediaEngineFiles, testing::Bool(),
                         [](const auto& case_info) { return case_info.param ? "pipelined" : "one_thread"; });

}  // namespace
