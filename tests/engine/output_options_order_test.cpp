#include <gtest/gtest.h>

#include <ctime>

#include "engine_test_support.h"
#include "support/media_fixtures.h"
#include "runtime/library_loader.h"

namespace engine_test {
namespace {

class OutputOptionsOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vidrel_.LoadMediaLibraries(runtime::ProgramFolder()));
    folder_ = TestFolder();
    input_ = media_test::H264AacMp4().string();
    ASSERT_EQ(vidrel_.AddTask(input_), 0) << vidrel_.LastErrorText();
    engine::InitOutputOptions(options_);
  }

  bool SetOutput() { return vidrel_.SetOutputFile(0, (folder_ / "out.mkv").string(), &options_); }
  const engine::TPendingValues& Pending() { return vidrel_.Task(0).Pending(); }
  std::int64_t CodecInt(AVCodecContext* context, const char* name) {
    std::int64_t value = 0;
    runtime::avutil().av_opt_get_int(context, name, AV_OPT_SEARCH_CHILDREN, &value);
    return value;
  }

  engine::TVidrel vidrel_;
  engine::TOutputOptions options_;
  std::filesystem::path folder_;
  std::string input_;
};

TEST_F(OutputOptionsOrder, RecordFieldsOverrideTheirOptionText) {
  options_.VideoCodec = "mpeg4";
  options_.ExtOptions = "vcodec=libx264\nab=96000\ns=320x240\nvol=512";
  options_.AudioVolume = 128;
  ASSERT_TRUE(SetOutput()) << vidrel_.LastErrorText();
  const engine::OutputFile& output = vidrel_.Task(0).OutputFiles().front();
  ASSERT_EQ(output.Streams.size(), 2U);
  EXPECT_STREQ(output.Streams[0].ForcedEncoder->name, "mpeg4");
  EXPECT_EQ(output.Streams[1].Encoder->bit_rate, 96000);
  EXPECT_EQ(output.Streams[0].Encoder->width, 320);
  EXPECT_EQ(Pending().AudioVolume, 128);
  EXPECT_EQ(Pending().FrameWidth, 320) << "the text's size applies when the record gives none";
  EXPECT_EQ(CodecInt(vidrel_.Task(0).GenericOptions().Audio(), "b"), 96000);
  EXPECT_EQ(options_.FileName, (folder_ / "out.mkv").string());
}

TEST_F(OutputOptionsOrder, TargetSettingsAreOverriddenByTextAndFields) {
  options_.Target = 3;
  options_.TargetNorm = 1;
  options_.VideoBitrate = 1000000;
  options_.FrameSize = "704x576";
  options_.ExtOptions = "ab=192000";
  ASSERT_TRUE(SetOutput()) << vidrel_.LastErrorText();
  engine::TFFmpeg& task = vidrel_.Task(0);
  EXPECT_EQ(CodecInt(task.GenericOptions().Video(), "b"), 1000000);
  EXPECT_EQ(CodecInt(task.GenericOptions().Audio(), "b"), 192000);
  EXPECT_EQ(Pending().FrameWidth, 704);
  const engine::OutputFile& output = task.OutputFiles().front();
  EXPECT_STREQ(output.Format->oformat->name, "dvd");
  ASSERT_EQ(output.Streams.size(), 2U);
  EXPECT_STREQ(output.Streams[1].ForcedEncoder->name, "ac3")
      << "the target's own settings stay where nothing overrides them";
  EXPECT_EQ(output.Streams[0].Encoder->width, 704);
}

TEST_F(OutputOptionsOrder, StreamInfoBecomesMetadataAndCreationTime) {
  options_.Info.Title = "Holiday";
  options_.Info.Year = 2009;
  options_.Info.Timestamp = 0;
  options_.RecordingTime = 1500000;
  const auto before = static_cast<std::int64_t>(std::time(nullptr));
  ASSERT_TRUE(SetOutput()) << vidrel_.LastErrorText();
  const AVDictionary* metadata = vidrel_.Task(0).OutputFiles().front().Format->metadata;
  const auto value = [&](const char* key) -> std::string {
    const AVDictionaryEntry* entry = runtime::avutil().av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr ? entry->value : "";
  };
  EXPECT_EQ(value("year"), "2009");
  EXPECT_EQ(value("title"), "Holiday");
  EXPECT_TRUE(Pending().Metadata.empty()) << "the output took the metadata over";
  EXPECT_GE(Pending().RecTimestamp, before);
  EXPECT_EQ(value("creation_time").size(), std::string("2009-01-01T00:00:00.000000Z").size());
  EXPECT_EQ(Pending().RecordingTime, 1500000);
  EXPECT_EQ(vidrel_.Task(0).TotalDuration(), 1500000);
}

TEST_F(OutputOptionsOrder, ARefusedOptionFailsTheOutputWithItsReason) {
  options_.ExtOptions = "pass=3";
  EXPECT_FALSE(SetOutput());
  EXPECT_EQ(vidrel_.LastErrorText(), "pass number can be only 1 or 2");
  EXPECT_TRUE(vidrel_.Task(0).OutputFiles().empty());
}

TEST_F(OutputOptionsOrder, InputOptionsChooseDecodersAndGeneralOptions) {
  engine::TInputOptions input;
  engine::InitInputOptions(input);
  input.ExtOptions = "vcodec=h264\nitsoffset=2\nvpre=ignored";
  input.StartTime = 2500000;
  input.ProgramID = 3;
  ASSERT_EQ(vidrel_.AddTask(input_, &input), 1) << vidrel_.LastErrorText();
  const engine::TPendingValues& pending = vidrel_.Task(1).Pending();
  const engine::InputFile& opened = vidrel_.Task(1).InputFiles().front();
  ASSERT_NE(opened.Streams[0].ForcedDecoder, nullptr);
  EXPECT_STREQ(opened.Streams[0].ForcedDecoder->name, "h264");
  EXPECT_FALSE(pending.VideoCodecName) << "the input took the decoder name over";
  EXPECT_EQ(pending.InputTsOffset, 2000000);
  EXPECT_TRUE(opened.Seeked);
  EXPECT_EQ(pending.StartTime, 0) << "the input took the start over by seeking";
  EXPECT_EQ(pending.ProgramID, 3);
}

}  // namespace
}  // namespace engine_test
