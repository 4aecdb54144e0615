#include "profiles/output_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace profiles {
namespace {

std::vector<std::string> ProfileRows() {
  std::vector<std::string> rows;
  for (std::string_view row : OutputFormatRows()) {
    if (IsProfileRow(row)) rows.emplace_back(row);
  }
  return rows;
}

TEST(OutputFormats, ListHoldsTheRowsInOrderWithRowThreeSelected) {
  ChoiceList list;
  list.Add("left over");
  FillOutputFormatList(list);

  ASSERT_EQ(list.Count(), kOutputFormatRowCount);
  EXPECT_EQ(list.Selected, 3);
  EXPECT_EQ(list.SelectedText(), "3G2 - Mobile Video Format (*.3g2)");
  EXPECT_EQ(list.Entries[0], "            ----- General Video Formats -----");
  EXPECT_EQ(list.Entries[2], "3GP - Mobile Video Format (*.3gp)");
  EXPECT_EQ(list.Entries[43], "            ----- Apple iPod & iPhones -----   ");
  EXPECT_EQ(list.Entries[51], "            -----     Miscellaneous     -----");
  EXPECT_EQ(list.Entries[56], "BlackBerry AMR Audio (*.amr)");
  EXPECT_EQ(list.Entries[64], "Zune WMV Windows Media Video (*.wmv)");
  for (int separator : {1, 22, 24, 30, 32, 42, 44, 50, 52}) {
    EXPECT_EQ(list.Entries[static_cast<std::size_t>(separator)], "     ") << "row " << separator;
  }
  EXPECT_TRUE(std::equal(list.Entries.begin(), list.Entries.end(), OutputFormatRows().begin()));
}

TEST(OutputFormats, EveryProfileRowHasExactlyOneRecordInListOrder) {
  const std::vector<std::string> rows = ProfileRows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kProfileCount));
  ASSERT_EQ(MagicTable().size(), static_cast<std::size_t>(kProfileCount));

  for (std::size_t at = 0; at < rows.size(); ++at) {
    const Quality& record = MagicTable()[at];
    EXPECT_EQ(record.DisplayName, rows[at]);
    EXPECT_EQ(record.Sequence, static_cast<std::int32_t>(at));
    EXPECT_EQ(FindProfile(rows[at]), &record) << rows[at];
  }
  for (std::string_view row : OutputFormatRows()) {
    if (!IsProfileRow(row)) {
      EXPECT_EQ(FindProfile(row), nullptr) << '"' << row << '"';
    }
  }
}

TEST(OutputFormats, RecordsAreWellFormed) {
  const auto is_rate = [](const std::string& rate) {
    return !rate.empty() && std::all_of(rate.begin(), rate.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0 || c == '.'; });
  };
  std::map<std::string, int> profiles_per_code;
  for (const Quality& record : MagicTable()) {
    SCOPED_TRACE(record.DisplayName);
    ++profiles_per_code[record.FormatCode];
    // The code is the extension the row text announces.
    std::string extension = "(*." + record.FormatCode + ")";
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_TRUE(record.DisplayName.ends_with(extension)) << record.FormatCode;

    for (const std::string* rate : {&record.AudioRate1, &record.AudioRate2, &record.AudioRate3,
                                    &record.AudioRate4, &record.AudioRate5}) {
      EXPECT_TRUE(is_rate(*rate)) << '"' << *rate << '"';
    }
    EXPECT_FALSE(record.AudioCodecChoices.empty());
    EXPECT_FALSE(record.AudioBitRateChoice.empty());
    EXPECT_FALSE(record.SampleRateChoices.empty());

    const bool audio_only = IsAudioOnlyFormat(record.FormatCode);
    for (const std::string* field :
         {&record.VideoRate1, &record.VideoRate2, &record.VideoRate3, &record.VideoRate4, &record.VideoRate5,
          &record.VideoCodecChoices, &record.VideoBitRateChoice, &record.FrameSizeChoices}) {
      EXPECT_EQ(field->empty(), audio_only) << '"' << *field << '"';
    }
    if (!audio_only) {
      for (const std::string* rate : {&record.VideoRate1, &record.VideoRate2, &record.VideoRate3,
                                      &record.VideoRate4, &record.VideoRate5}) {
        EXPECT_TRUE(std::all_of(rate->begin(), rate->end(), [](unsigned char c) {
          return std::isdigit(c) != 0;
        })) << *rate;
      }
    }
    if (audio_only) {
      EXPECT_TRUE(record.FrameRateChoices.empty());
    }
  }
  EXPECT_EQ(profiles_per_code["MPG"], 6);
  EXPECT_EQ(profiles_per_code["MP4"], 12);
  EXPECT_EQ(profiles_per_code["AVI"], 7);
  EXPECT_EQ(profiles_per_code["WMV"], 5);
}

// Whole records where a slip would change what the lists offer: disc profiles, repeated rates, and the
// irregular values that decide which entry is selected first.
TEST(OutputFormats, RecordsKeepTheirValuesAsWritten) {
  // Every text field in declaration order.
  const std::vector<std::vector<std::string>> cases = {
      {"3GP - Mobile Video Format (*.3gp)", "3GP", "512", "256", "120", "80", "40", "12.2", "10.2", "7.4",
       "5.9", "4.75", "h263default-mpeg4", "120 KBpsdefault",
       "1408x1152-704x576-352x288-176x144default-128x96", "Autodefault-11-15", "libopencore_amrnb",
       "7.4 Kbpsdefault", "8000 HzONLY"},
      {"DVD - VOB (*.vob)", "VOB", "8000", "6000", "5000", "4000", "3000", "448", "160", "96", "56", "32",
       "mpeg2video", "6000 KbpsONLY", "720x576-720x480default", "29.97 fps (NTSC)default-25 fps (PAL)", "ac3",
       "448default", "48000default"},
      {"Video CD (*.mpg)", "MPG", "1150", "1000", "1000", "768", "768", "320", "160", "96", "56", "32",
       "mpeg1video", "1150default", "352x288-352x240default", "29.97 fps (NTSC)default-25 fps (PAL)", "mp2",
       "320default", "44100default"},
      {"MKV - Matroska Video (*.mkv)", "MKV", "2500", "1500", "1200", "512", "256", "320", "192", "128", "64",
       "48", "h264", "1200default", "Original Sizedefault", "", "pcm_s16l-mp3-ac3default", "128default",
       "44100default"},
      {"HD AVI Video (*.avi)", "AVI", "20000", "15000", "12000", "8000", "6000", "512", "256", "128", "96",
       "64", "mpeg4default-h264-DivX", "12000default", "1920x1080-1440x720-1280x720default-960x540",
       "60 fps-50 fps-30 fps-29.97 fpsdefault-25 fps-24 fps-20 fps-12 fps-11 fps", "pcm_s16ledefault-mp3-ac3",
       "128default", "44100default"},
      {"WAV - Waveform Audio (*.wav)", "WAV", "", "", "", "", "", "320", "256", "192", "128", "64", "", "",
       "", "", "pcm_s16le", "192default", "41000default"},
      {"BlackBerry AMR Audio (*.amr)", "AMR", "", "", "", "", "", "12.2", "10.2", "7.4", "5.9", "4.75", "",
       "", "", "", "libopencore_amrnb", "7.4 Hzdefault", "8000 HzONLY"},
      {"General Pocket PC Video (*.wmv)", "WMV", "1500", "1200", "768", "256", "512", "256", "192", "128",
       "80", "48", "wmv3x", "768default", "720x576-640x480-320x240default", "29.97 fpsONLY", "wma7x",
       "128default", "44100default"},
      {"Zune WMV Windows Media Video (*.wmv)", "WMV", "2000", "1500", "1200", "768", "256", "256", "192",
       "128", "80", "48", "wmv3x", "1500default", "640x480-320x240default", "29.97 fpsONLY", "wma7x",
       "128default", "44100default"},
  };

  for (const std::vector<std::string>& expected : cases) {
    const Quality* record = FindProfile(expected[0]);
    ASSERT_NE(record, nullptr) << expected[0];
    const std::vector<std::string> actual = {
        record->DisplayName,       record->FormatCode,         record->VideoRate1,
        record->VideoRate2,        record->VideoRate3,         record->VideoRate4,
        record->VideoRate5,        record->AudioRate1,         record->AudioRate2,
        record->AudioRate3,        record->AudioRate4,         record->AudioRate5,
        record->VideoCodecChoices, record->VideoBitRateChoice, record->FrameSizeChoices,
        record->FrameRateChoices,  record->AudioCodecChoices,  record->AudioBitRateChoice,
        record->SampleRateChoices};
    EXPECT_EQ(actual, expected);
  }
  for (std::string_view divx_family : {"AVI - DivX Video (*.avi)", "AVI - XVID Video (*.avi)",
                                       "FLV - Flash Flv Video (*.flv)", "SWF - Flash Swf Video (*.swf)"}) {
    EXPECT_EQ(ProfileOrEmpty(divx_family).AudioCodecChoices, "MP3") << divx_family;
  }
}

TEST(OutputFormats, FindProfileMatchesWholeTextExactly) {
  const std::vector<std::string_view> misses = {
      "",
      "            ----- General Video Formats -----",
      "     ",
      "            ----- Apple iPod & iPhones -----   ",
      "MP4 - MPEG4 Video (*.mp4) ",
      " MP4 - MPEG4 Video (*.mp4)",
      "mp4 - mpeg4 video (*.mp4)",
      "MP4 - MPEG4 Video",
  };
  for (std::string_view text : misses) {
    EXPECT_EQ(FindProfile(text), nullptr) << '"' << text << '"';
    const Quality& empty = ProfileOrEmpty(text);
    EXPECT_TRUE(empty.DisplayName.empty() && empty.FormatCode.empty() && empty.VideoRate1.empty() &&
                empty.AudioRate1.empty() && empty.VideoCodecChoices.empty() &&
                empty.SampleRateChoices.empty());
  }
  EXPECT_EQ(ProfileOrEmpty("MP4 - MPEG4 Video (*.mp4)").VideoCodecChoices, "mpeg4default-h264");
}

TEST(OutputFormats, RowKindIsToldByText) {
  EXPECT_TRUE(IsProfileRow("Video CD (*.mpg)"));
  EXPECT_TRUE(IsProfileRow("MPEG-2 Movie (*.mpg)"));  // one dash is not a header
  EXPECT_FALSE(IsProfileRow("     "));
  EXPECT_FALSE(IsProfileRow("---"));
  EXPECT_FALSE(IsProfileRow("a  b"));
}

TEST(OutputFormats, AudioOnlyCodesIgnoreCase) {
  const std::vector<std::pair<std::string_view, bool>> cases = {
      {"3GP", false}, {"MP4", false}, {"AVI", false},  {"MPG", false},  {"VOB", false}, {"AMR", true},
      {"RA", true},   {"WAV", true},  {"wav", true},   {"Ogg", true},   {"au", true},   {"AAC", true},
      {"M4A", true},  {"", false},    {"WAVE", false}, {" WAV", false},
  };
  for (const auto& [code, audio_only] : cases)
    EXPECT_EQ(IsAudioOnlyFormat(code), audio_only) << '"' << code << '"';

  std::vector<std::string> audio_only_rows;
  for (const Quality& record : MagicTable()) {
    if (IsAudioOnlyFormat(record.FormatCode)) audio_only_rows.push_back(record.DisplayName);
  }
  std::vector<std::string> expected;
  for (int row : {33, 34, 35, 36, 37, 38, 39, 40, 41, 56}) {
    expected.emplace_back(OutputFormatRows()[static_cast<std::size_t>(row)]);
  }
  EXPECT_EQ(audio_only_rows, expected);
}

}  // namespace
}  // namespace profiles
