#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "runtime/library_loader.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
};

TEST_F(CommandLineTest, EngineOptionsGoToTheirSideAndBecomeOptionTextAsGiven) {
  const cli::Command command = cli::ParseCommandLine(
      {"--engine", "--input-option", "ss=5", "--input-option", "f=mp4", "in put.mp4", "out.mkv", "vn",
       "vcodec=copy", "Title=Two  Words", "metadata=a=b", "vol=", "shortest"});
  ASSERT_EQ(command.Kind, cli::Mode::kEngine) << command.Problem;
  EXPECT_EQ(command.Engine.Input, "in put.mp4");
  EXPECT_EQ(command.Engine.Output, "out.mkv");
  EXPECT_EQ(cli::OptionText(command.Engine.InputOptions), "ss=5\nf=mp4");
  EXPECT_EQ(cli::OptionText(command.Engine.OutputOptions),
            "vn\nvcodec=copy\nTitle=Two  Words\nmetadata=a=b\nvol=\nshortest");
  EXPECT_EQ(cli::OptionText({}), "");
}

TEST_F(CommandLineTest, DoubleDashLetsFileNamesBeginWithDashes) {
  const cli::Command command = cli::ParseCommandLine({"--engine", "--", "--in.mp4", "--out.mkv", "t=1"});
  ASSERT_EQ(command.Kind, cli::Mode::kEngine) << command.Problem;
  EXPECT_EQ(command.Engine.Input, "--in.mp4");
  EXPECT_EQ(command.Engine.Output, "--out.mkv");
  EXPECT_EQ(cli::OptionText(command.Engine.OutputOptions), "t=1");
}

// Each of these would either lose an option or turn one argument into several options of the option text.
TEST_F(CommandLineTest, RefusesArgumentsThatAreNoSingleOptionLine) {
  const std::vector<std::vector<std::string_view>> refused = {
      {"--engine", "in.mp4", "out.mkv", "=copy"},
      {"--engine", "in.mp4", "out.mkv", "title=a\nvcodec=mpeg4"},
      {"--engine", "in.mp4", "out.mkv", "title=a\rvcodec=mpeg4"},
      {"--engine", "in.mp4", "out.mkv", "title=a<CRLF>vcodec=mpeg4"},
      {"--engine", "--input-option", "=5", "in.mp4", "out.mkv"},
      {"--engine", "--input-option", "", "in.mp4", "out.mkv"},
      {"--engine", "in.mp4", "out.mkv", ""},
      {"--engine", "--input-option", "f=mp4\nss=5", "in.mp4", "out.mkv"},
      {"--engine", "in.mp4", "out.mkv", "--input-option", "ss=5"},
      {"--engine", "in.mp4", "--input-option"},
      {"--engine", "in.mp4", "out.mkv", "extra.mkv"},
      {"--version", "--engine"},
      {"--convert", "in.mp4", "out.mkv"},
      {},
  };
  for (const auto& arguments : refused) {
    const cli::Command command = cli::ParseCommandLine(arguments);
    std::string shown;
    for (const std::string_view argument : arguments)
      shown += " [" + std::string(argument) + "]";
    EXPECT_EQ(command.Kind, cli::Mode::kUsageError) << shown;
    EXPECT_FALSE(command.Problem.empty()) << shown;
  }
}

TEST_F(CommandLineTest, ProfileChoicesKeepTheirOrderAndBothValueForms) {
  const cli::Command command = cli::ParseCommandLine(
      {"--profile", "Video CD (*.mpg)", "--size=352x288", "-o", "out dir", "--video-quality", "Lowest",
       "--overwrite", "a.avi", "--frame-rate", "25 fps (PAL)", "--", "--b.avi", "-"});
  ASSERT_EQ(command.Kind, cli::Mode::kProfiles) << command.Problem;
  const cli::ProfileRequest& request = command.Profiles;
  EXPECT_EQ(request.Profile, "Video CD (*.mpg)");
  EXPECT_EQ(request.OutputFolder, "out dir");
  EXPECT_TRUE(request.Overwrite);
  EXPECT_FALSE(request.ShowOptions);
  ASSERT_EQ(request.Choices.size(), 3U);
  EXPECT_EQ(request.Choices[0].Option, "--size");
  EXPECT_EQ(request.Choices[0].Value, "352x288");
  EXPECT_EQ(request.Choices[1].Value, "Lowest");
  EXPECT_EQ(request.Choices[2].Value, "25 fps (PAL)");
  EXPECT_EQ(request.Files, (std::vector<std::string>{"a.avi", "--b.avi", "-"}));
}

TEST_F(CommandLineTest, JobsSayHowManyFilesConvertAtOnce) {
  struct Case {
    std::vector<std::string_view> Arguments;
    unsigned Jobs;
  };
  const Case cases[] = {
      {{"a.avi"}, 1},
      {{"--jobs", "3", "a.avi"}, 3},
      {{"--jobs=2", "a.avi"}, 2},
      {{"-j", "4", "a.avi", "b.avi"}, 4},
      {{"--jobs", "0", "a.avi"}, cli::JobsPerCore()},
  };
  for (const Case& c : cases) {
    const cli::Command command = cli::ParseCommandLine(c.Arguments);
    ASSERT_EQ(command.Kind, cli::Mode::kProfiles) << command.Problem;
    EXPECT_EQ(command.Profiles.Jobs, c.Jobs) << c.Arguments.front();
  }
  EXPECT_GE(cli::JobsPerCore(), 1U);
}

TEST_F(CommandLineTest, RefusesProfileArgumentsItCannotUse) {
  const std::vector<std::vector<std::string_view>> refused = {
      {"--size"},                    // no value
      {"a.avi", "--channels"},       // no value
      {"--fast", "a.avi"},           // no such option
      {"--overwrite=yes", "a.avi"},  // a flag takes no value
      {"--profile", "2"},            // no file
      {"-o", "", "a.avi"},           // no folder
      {"--jobs", "a.avi"},           // no number
      {"--jobs=-1", "a.avi"},
      {"--jobs", "2x", "a.avi"},
      {"--jobs=", "a.avi"},
      {"-j", "99999999999", "a.avi"},  // past what the number holds
      {"--jobs", "5000", "a.avi"},     // more than a process could convert together
  };
  for (const auto& arguments : refused) {
    const cli::Command command = cli::ParseCommandLine(arguments);
    EXPECT_EQ(command.Kind, cli::Mode::kUsageError) << arguments.front();
    EXPECT_FALSE(command.Problem.empty());
  }
  EXPECT_EQ(cli::ParseCommandLine({"--list-profiles"}).Kind, cli::Mode::kProfiles);
}

}  // namespace
