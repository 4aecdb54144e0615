// The fixed texts of the media runtime: open errors, library errors, times, stream kinds, codec names and
// metadata tags.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>

#include "runtime/codec_name_text.h"
#include "runtime/library_loader.h"
#include "runtime/media_owners.h"
#include "runtime/metadata_value.h"
#include "runtime/open_error_text.h"
#include "runtime/stream_kind.h"
#include "runtime/time_text.h"

namespace {

class LibraryTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
  }
};

TEST_F(LibraryTexts, OpenErrorTextFollowsWhatTheCodeMeans) {
  const std::string io_text =
      "clip.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
  const std::string header_text = "clip.avi: Error while parsing header";
  const struct {
    int code;
    std::string expected;
  } cases[] = {
      {AVERROR(EILSEQ), "clip.avi: Unknown format"},
      {AVERROR(EDOM),
       "clip.avi: Incorrect image filename syntax.\r\nUse '%d' to specify the image number:\r\n"
       "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
       "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'."},
      {AVERROR_INVALIDDATA, header_text},
      {AVERROR(EINVAL), header_text},
      {AVERROR(ENOMEM), "clip.avi: memory allocation error occurred"},
      {AVERROR(EIO), io_text},
      {AVERROR_EOF, io_text},
      {AVERROR(ENOENT), "clip.avi: no such file or directory"},
      {AVERROR(EACCES), "clip.avi: Error while opening file"},
      {AVERROR_PATCHWELCOME, "clip.avi: Error while opening file"},
      {-42, "clip.avi: Error while opening file"},
      {0, "clip.avi: Error while opening file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(runtime::OpenErrorText("clip.avi", c.code), c.expected);
  }
}

TEST_F(LibraryTexts, OpenErrorTextTakesTheFileNameVerbatim) {
  EXPECT_EQ(runtime::OpenErrorText("/tmp/100%s %d.avi", AVERROR(ENOENT)),
            "/tmp/100%s %d.avi: no such file or directory");
}

TEST_F(LibraryTexts, LibraryErrorTextsDescribeTheCode) {
  EXPECT_EQ(runtime::LibraryErrorText(AVERROR(ENOENT)), "No such file or directory");
  EXPECT_EQ(runtime::LibraryErrorText(AVERROR_INVALIDDATA), "Invalid data found when processing input");
  EXPECT_NE(runtime::LibraryErrorText(-987654).find("-987654"), std::string::npos);
  EXPECT_EQ(runtime::DescribeLibraryError("Could not open", "/videos/a b.mp4", AVERROR(ENOENT)),
            "Could not open '/videos/a b.mp4': No such file or directory");
}

TEST(TimeText, ShowsHoursMinutesSecondsAndMilliseconds) {
  constexpr std::int64_t kSecond = 1000000;
  constexpr std::int64_t kHour = 3600 * kSecond;
  const struct {
    std::int64_t microseconds;
    const char* expected;
  } cases[] = {
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.000"},
      {999, "00:00:00.000"},
      {kHour + 2 * 60 * kSecond + 3 * kSecond + 456789, "01:02:03.456"},
      {60 * kSecond - 1, "00:00:59.999"},
      {100 * kHour, "100:00:00.000"},
      {-(kSecond + kSecond / 2), "-00:00:01.500"},
      {-999, "-00:00:00.000"},
      {std::numeric_limits<std::int64_t>::max(), "2562047788:00:54.775"},
      {std::numeric_limits<std::int64_t>::min() + 1, "-2562047788:00:54.775"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.microseconds);
    EXPECT_EQ(runtime::TimeText(c.microseconds), c.expected);
  }
}

TEST(StreamKindName, NamesTheFiveKindsAndNothingElse) {
  const struct {
    int codec_type;
    const char* expected;
  } cases[] = {{AVMEDIA_TYPE_VIDEO, "Video"},
               {AVMEDIA_TYPE_AUDIO, "Audio"},
               {AVMEDIA_TYPE_DATA, "Data"},
               {AVMEDIA_TYPE_SUBTITLE, "Subtitle"},
               {AVMEDIA_TYPE_ATTACHMENT, "Attachment"},
               {AVMEDIA_TYPE_UNKNOWN, "Unknown"},
               {AVMEDIA_TYPE_NB, "Unknown"},
               {1000, "Unknown"}};
  for (const auto& c : cases)
    EXPECT_STREQ(runtime::StreamKindName(c.codec_type), c.expected) << c.codec_type;
}

TEST_F(LibraryTexts, CodecNameTextOfAKnownCodec) {
  const AVCodec* mpeg4 = runtime::avcodec().avcodec_find_encoder_by_name("mpeg4");
  ASSERT_NE(mpeg4, nullptr);
  const runtime::CodecContextPtr encoder(runtime::avcodec().avcodec_alloc_context3(mpeg4));
  ASSERT_NE(encoder, nullptr);
  EXPECT_EQ(runtime::CodecNameText(*encoder, true), "mpeg4(MPEG-4 part 2)");

  const runtime::CodecContextPtr decoder(runtime::avcodec().avcodec_alloc_context3(nullptr));
  ASSERT_NE(decoder, nullptr);
  decoder->codec_id = AV_CODEC_ID_H264;
  EXPECT_EQ(runtime::CodecNameText(*decoder, false), "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
}

TEST_F(LibraryTexts, CodecNameTextWithoutACodecOfThisBuild) {
  const runtime::CodecContextPtr context(runtime::avcodec().avcodec_alloc_context3(nullptr));
  ASSERT_NE(context, nullptr);
  const struct {
    AVCodecID id;
    unsigned tag;
    const char* expected;
  } cases[] = {
      // VP6 can be decoded but not encoded: the encoder side falls back to the id's name.
      {AV_CODEC_ID_VP6, MKTAG('V', 'P', '6', '0'), "vp6"},
      {AV_CODEC_ID_MPEG2TS, MKTAG('X', 'V', 'I', 'D'), "mpeg2ts"},
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), "XVID / 0x44495658"},
      {AV_CODEC_ID_NONE, MKTAG(' ', '~', 'a', '0'), " ~a0 / 0x30617E20"},
      {AV_CODEC_ID_NONE, MKTAG('A', 'B', 'C', 0x7F), "0x7f434241"},
      {AV_CODEC_ID_NONE, 0x1234, "0x1234"},
      {AV_CODEC_ID_NONE, 0, "0x0000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    context->codec_id = c.id;
    context->codec_tag = c.tag;
    EXPECT_EQ(runtime::CodecNameText(*context, true), c.expected);
  }
}

TEST_F(LibraryTexts, MetadataValueOrTheDefault) {
  runtime::Dictionary metadata;
  ASSERT_GE(runtime::avutil().av_dict_set(metadata.Address(), "title", "Holiday", 0), 0);
  ASSERT_GE(runtime::avutil().av_dict_set(metadata.Address(), "artist", "", 0), 0);
  EXPECT_EQ(runtime::MetadataValue(metadata.Get(), "title", "none"), "Holiday");
  EXPECT_EQ(runtime::MetadataValue(metadata.Get(), "TITLE", "none"), "Holiday");
  EXPECT_EQ(runtime::MetadataValue(metadata.Get(), "artist", "none"), "");
  EXPECT_EQ(runtime::MetadataValue(metadata.Get(), "tit", "none"), "none");
  EXPECT_EQ(runtime::MetadataValue(metadata.Get(), nullptr, "none"), "none");
  EXPECT_EQ(runtime::MetadataValue(nullptr, "title", "none"), "none");
}

}  // namespace
