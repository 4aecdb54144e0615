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
  const cli::Command command =
      cli::ParseCommandLine({"--engine", "--input-option", "ss=5", "--input-option", "f=mp4", "in put.mp4",
                             "out.mkv", "vcodec=copy", "Title=Two  Words", "metadata=a=b", "vol="});
  ASSERT_EQ(command.Kind, cli::Mode::kEngine) << command.Problem;
  EXPECT_EQ(command.Engine.Input, "in put.mp4");
  EXPECT_EQ(command.Engine.Output, "out.mkv");
  EXPECT_EQ(cli::OptionText(command.Engine.InputOptions), "ss=5\nf=mp4");
  EXPECT_EQ(cli::OptionText(command.Engine.OutputOptions),
            "vcodec=copy\nTitle=Two  Words\nmetadata=a=b\nvol=");
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
      {"--engine", "--input-option", "ss", "in.mp4", "out.mkv"},
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

}  // namespace
