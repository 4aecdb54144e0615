#include "profiles/parameter_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace profiles {
namespace {

using Entries = std::vector<std::string>;

Entries Strings(std::span<const std::string_view> texts) {
  return Entries(texts.begin(), texts.end());
}

constexpr std::string_view kAvi = "AVI - Audio Video Interleave (*.avi)";
constexpr std::string_view kMkv = "MKV - Matroska Video (*.mkv)";
constexpr std::string_view kVob = "DVD - VOB (*.vob)";
constexpr std::string_view kVideoCd = "Video CD (*.mpg)";
constexpr std::string_view kWav = "WAV - Waveform Audio (*.wav)";
constexpr std::string_view kHdAvi = "HD AVI Video (*.avi)";

// Every list a profile choice may change, to tell whether anything moved.
std::vector<const ChoiceList*> ProfileLists(const WindowChoices& choices) {
  return {&choices.ComboVideoQuality,   &choices.ComboAudioQuality, &choices.ComboVideoSize1,
          &choices.ComboVideoCodec,     &choices.ComboVideoBitrate, &choices.ComboVideoSize,
          &choices.ComboVideoFrameRate, &choices.ComboAudioCodec,   &choices.ComboAudioBitrate,
          &choices.ComboSamplingRate,   &choices.ComboAudioChannels};
}

std::vector<std::pair<Entries, int>> Snapshot(const WindowChoices& choices) {
  std::vector<std::pair<Entries, int>> lists;
  for (const ChoiceList* list : ProfileLists(choices))
    lists.emplace_back(list->Entries, list->Selected);
  return lists;
}

class ParameterLists : public ::testing::Test {
 protected:
  void SetUp() override {
    FillPreferenceLists(choices_);
    FillOutputFormatList(choices_);
  }

  void Choose(std::string_view row) {
    const int at = choices_.ComboOutputFormat.IndexOf(row);
    ASSERT_GE(at, 0) << row;
    choices_.ComboOutputFormat.Select(at);
    ASSERT_TRUE(ComboOutputFormatChange(choices_)) << row;
    ASSERT_EQ(choices_.LastFormatIndex, at);
  }

  // The user's choice: the list's position, then its change handler.
  void ChooseQuality(ChoiceList WindowChoices::*list, QualityControl control, int position) {
    (choices_.*list).Select(position);
    ComboVideoQualityChange(choices_, control);
  }

  WindowChoices choices_;
};

TEST_F(ParameterLists, StartUpFillsOnlyTheFixedLists) {
  EXPECT_EQ(StandardFrameSizes().size(), 23u);
  EXPECT_EQ(StandardFrameSizes().front(), "Original Size");
  EXPECT_EQ(StandardFrameSizes().back(), "128x96 (SQCIF)");
  EXPECT_EQ(Strings(StandardFrameRates()),
            (Entries{"Auto", "30.0 fps", "29.97 fps", "25.0 fps", "23.975 fps", "15.0 fps", "14.985 fps"}));
  EXPECT_EQ(StandardVideoBitRates().size(), 13u);
  EXPECT_EQ(StandardVideoBitRates().front(), "192 Kbps");
  EXPECT_EQ(StandardVideoBitRates().back(), "2500 Kbps");
  EXPECT_EQ(Strings(StandardSampleRates()), (Entries{"96000 Hz", "54000 Hz", "48000 Hz", "44100 Hz",
                                                     "32000 Hz", "22050 Hz", "16000 Hz", "8000 Hz"}));
  EXPECT_EQ(Strings(QualityLevels()), (Entries{"Highest", "Higher", "Normal", "Lower", "Lowest"}));

  EXPECT_EQ(choices_.ComboBoxLetterbox.Entries, (Entries{"None", "Add LetterBox"}));
  EXPECT_EQ(choices_.ComboBoxLetterbox.Selected, 1);
  EXPECT_EQ(choices_.ComboBoxAspectRatio.Entries, (Entries{"Auto", "4:3", "16:9"}));
  EXPECT_EQ(choices_.ComboBoxAspectRatio.Selected, 0);
  EXPECT_EQ(choices_.ComboOutputFormat.Count(), kOutputFormatRowCount);
  EXPECT_EQ(choices_.ComboOutputFormat.Selected, kInitialFormatRow);
  for (const ChoiceList* list : ProfileLists(choices_))
    EXPECT_EQ(list->Count(), 0);
}

TEST_F(ParameterLists, EveryProfileLeavesEveryListWithASelection) {
  for (const Quality& profile : MagicTable()) {
    SCOPED_TRACE(profile.DisplayName);
    Choose(profile.DisplayName);
    EXPECT_EQ(choices_.CurrentFormatCode, profile.FormatCode);
    const bool audio_only = IsAudioOnlyFormat(profile.FormatCode);
    for (const ChoiceList* list : ProfileLists(choices_)) {
      const bool video_list = list == &choices_.ComboVideoCodec || list == &choices_.ComboVideoBitrate ||
                              list == &choices_.ComboVideoSize || list == &choices_.ComboVideoSize1 ||
                              list == &choices_.ComboVideoFrameRate;
      if (audio_only && video_list) {
        EXPECT_EQ(list->Count(), 0);
      } else {
        EXPECT_GE(list->Selected, 0);
        EXPECT_LT(list->Selected, list->Count());
      }
    }
    EXPECT_EQ(choices_.ComboVideoSize1.Entries, choices_.ComboVideoSize.Entries);
    EXPECT_EQ(choices_.ComboVideoSize1.Selected, choices_.ComboVideoSize.Selected);
    for (const ChoiceList* list : ProfileLists(choices_)) {
      for (const std::string& entry : list->Entries) {
        EXPECT_EQ(entry.find("default"), std::string::npos) << entry;
        EXPECT_EQ(entry.find("ONLY"), std::string::npos) << entry;
      }
    }
  }
}

TEST_F(ParameterLists, ChoiceFieldsBecomeEntriesAndSelection) {
  struct Case {
    std::string_view Profile;
    ChoiceList WindowChoices::*List;
    Entries Expected;
    std::string Selected;  // "" for an empty list
  };
  using W = WindowChoices;
  const Entries standard_sizes = Strings(StandardFrameSizes());
  const Entries standard_rates = Strings(StandardFrameRates());
  const Entries standard_sampling = Strings(StandardSampleRates());
  const Entries avi_audio_rates = {"320 Kbps", "192 Kbps", "128 Kbps", "64 Kbps", "48 Kbps"};
  const Entries amr_rates = {"12.2 Kbps", "10.2 Kbps", "7.4 Kbps", "5.9 Kbps", "4.75 Kbps"};
  const Entries hd_rates = {"60 fps", "50 fps", "30 fps", "29.97 fps", "25 fps",
                            "24 fps", "20 fps", "12 fps", "11 fps"};
  const Entries disc_rates = {"29.97 fps (NTSC)", "25 fps (PAL)"};
  const std::vector<Case> cases = {
      {kAvi, &W::ComboVideoCodec, {"mpeg4", "h264"}, "mpeg4"},
      {kAvi, &W::ComboAudioCodec, {"pcm_s16le", "mp3", "ac3"}, "pcm_s16le"},
      {kAvi,
       &W::ComboVideoBitrate,
       {"2500 Kbps", "1500 Kbps", "1200 Kbps", "512 Kbps", "256 Kbps"},
       "1200 Kbps"},
      {kAvi, &W::ComboAudioBitrate, avi_audio_rates, "128 Kbps"},
      {kAvi, &W::ComboVideoSize, standard_sizes, "Original Size"},
      {kAvi, &W::ComboVideoSize1, standard_sizes, "Original Size"},
      {kAvi, &W::ComboVideoFrameRate, standard_rates, "Auto"},
      {kAvi, &W::ComboSamplingRate, standard_sampling, "44100 Hz"},
      {kAvi, &W::ComboAudioChannels, {"Stereo", "Mono"}, "Stereo"},
      {kAvi, &W::ComboVideoQuality, Strings(QualityLevels()), "Normal"},
      {kAvi, &W::ComboAudioQuality, Strings(QualityLevels()), "Normal"},
      {kMkv, &W::ComboAudioCodec, {"pcm_s16l", "mp3", "ac3"}, "ac3"},
      {kMkv, &W::ComboVideoCodec, {"h264"}, "h264"},
      {"Xbox360 MPEG4 Video (*.mp4)", &W::ComboVideoCodec, {"mpeg4", "h264"}, "h264"},
      {"Xbox360 MPEG4 Video (*.mp4)", &W::ComboVideoSize, standard_sizes, "640x480"},
      {"iPod (*.mp4)", &W::ComboVideoCodec, {"mpeg4", "h264"}, "mpeg4"},
      {"iPod (*.mp4)", &W::ComboVideoSize, {"320x240"}, "320x240"},
      {"RM - Real Video (*.rm)", &W::ComboVideoSize, standard_sizes, "320x240 (VGA)"},
      {"3GP - Mobile Video Format (*.3gp)",
       &W::ComboVideoBitrate,
       {"512 Kbps", "256 Kbps", "120 Kbps", "80 Kbps", "40 Kbps"},
       "512 Kbps"},
      {"3GP - Mobile Video Format (*.3gp)",
       &W::ComboVideoSize,
       {"1408x1152", "704x576", "352x288", "176x144", "128x96"},
       "176x144"},
      {"3GP - Mobile Video Format (*.3gp)", &W::ComboVideoFrameRate, {"Auto", "11 fps", "15 fps"}, "Auto"},
      {"3GP - Mobile Video Format (*.3gp)", &W::ComboAudioBitrate, amr_rates, "7.4 Kbps"},
      {"3GP - Mobile Video Format (*.3gp)", &W::ComboSamplingRate, {"8000 Hz"}, "8000 Hz"},
      {"3GP - Mobile Video Format (*.3gp)", &W::ComboAudioChannels, {"Mono"}, "Mono"},
      {"BlackBerry AMR Audio (*.amr)", &W::ComboAudioBitrate, amr_rates, "12.2 Kbps"},
      {"BlackBerry AMR Audio (*.amr)", &W::ComboAudioChannels, {"Mono"}, "Mono"},
      {kWav, &W::ComboSamplingRate, standard_sampling, "96000 Hz"},
      {kWav, &W::ComboAudioCodec, {"pcm_s16le"}, "pcm_s16le"},
      {kWav, &W::ComboVideoCodec, {}, ""},
      {kWav, &W::ComboVideoBitrate, {}, ""},
      {kWav, &W::ComboVideoSize, {}, ""},
      {kWav, &W::ComboVideoSize1, {}, ""},
      {kWav, &W::ComboVideoFrameRate, {}, ""},
      {"FLV - Flash Flv Video (*.flv)", &W::ComboVideoFrameRate, {"15 fps"}, "15 fps"},
      {"FLV - Flash Flv Video (*.flv)",
       &W::ComboSamplingRate,
       {"44100 Hz", "22050 Hz", "11025 Hz"},
       "44100 Hz"},
      {"FLV - Flash Flv Video (*.flv)", &W::ComboAudioCodec, {"MP3"}, "MP3"},
      {"SWF - Flash Swf Video (*.swf)", &W::ComboVideoFrameRate, {"15 fps"}, "15 fps"},
      {"SWF - Flash Swf Video (*.swf)",
       &W::ComboSamplingRate,
       {"44100 Hz", "22050 Hz", "11025 Hz"},
       "44100 Hz"},
      {kHdAvi, &W::ComboVideoFrameRate, hd_rates, "29.97 fps"},
      {kHdAvi, &W::ComboVideoSize, {"1920x1080", "1440x720", "1280x720", "960x540"}, "1280x720"},
      {kHdAvi, &W::ComboVideoCodec, {"mpeg4", "h264", "DivX"}, "mpeg4"},
      {"HD ASF Video (*.asf)", &W::ComboSamplingRate, standard_sampling, "44100 Hz"},
      {"MPEG-2 Movie (*.mpg)",
       &W::ComboVideoFrameRate,
       {"Auto", "30 fps", "29.97 fps (NTSC)", "25 fps (PAL)", "23.975 fps", "14.985 fps", "14 fps"},
       "Auto"},
      {kVob, &W::ComboVideoBitrate, {"6000 Kbps"}, "6000 Kbps"},
      {kVob, &W::ComboVideoSize, {"720x576", "720x480"}, "720x480"},
      {kVob, &W::ComboVideoFrameRate, disc_rates, "29.97 fps (NTSC)"},
      {kVob, &W::ComboSamplingRate, standard_sampling, "48000 Hz"},
      {kVideoCd, &W::ComboVideoBitrate, {"1150 Kbps", "1000 Kbps", "768 Kbps"}, "1150 Kbps"},
      {kVideoCd,
       &W::ComboAudioBitrate,
       {"320 Kbps", "160 Kbps", "96 Kbps", "56 Kbps", "32 Kbps"},
       "320 Kbps"},
      {"Super Video CD (*.mpg)",
       &W::ComboAudioBitrate,
       {"320 Kbps", "224 Kbps", "160 Kbps", "96 Kbps", "32 Kbps"},
       "224 Kbps"},
      {"General Pocket PC Video (*.wmv)",
       &W::ComboVideoBitrate,
       {"1500 Kbps", "1200 Kbps", "768 Kbps", "256 Kbps", "512 Kbps"},
       "768 Kbps"},
      {"BlackBerry MPEG-4 Video (*.mp4)", &W::ComboVideoFrameRate, {"24 fps"}, "24 fps"},
      {"PSP Video (*.mp4)", &W::ComboVideoCodec, {"xvid", "h264"}, "xvid"},
      {"PSP Video (*.mp4)", &W::ComboSamplingRate, {"48000 Hz"}, "48000 Hz"},
      {"Apple TV (*.mp4)", &W::ComboVideoSize1, {"640x480"}, "640x480"},
  };
  for (const Case& c : cases) {
    Choose(c.Profile);
    const ChoiceList& list = choices_.*c.List;
    EXPECT_EQ(list.Entries, c.Expected) << c.Profile;
    EXPECT_EQ(list.SelectedText(), c.Selected) << c.Profile;
    if (c.Expected.empty()) {
      EXPECT_EQ(list.Selected, -1) << c.Profile;
    }
  }
}

TEST_F(ParameterLists, AudioOnlyProfileEmptiesTheVideoListsAndBackAgain) {
  Choose(kAvi);
  Choose(kWav);
  EXPECT_EQ(choices_.CurrentFormatCode, "WAV");
  EXPECT_TRUE(choices_.IsAudioOnlyFormat());
  for (const ChoiceList* list :
       {&choices_.ComboVideoCodec, &choices_.ComboVideoBitrate, &choices_.ComboVideoSize,
        &choices_.ComboVideoSize1, &choices_.ComboVideoFrameRate}) {
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(list->Selected, -1);
  }
  Choose(kAvi);
  EXPECT_FALSE(choices_.IsAudioOnlyFormat());
  EXPECT_EQ(choices_.ComboVideoCodec.SelectedText(), "mpeg4");
  EXPECT_EQ(choices_.ComboVideoBitrate.SelectedText(), "1200 Kbps");
}

TEST_F(ParameterLists, HeaderOrSeparatorChoiceIsUndoneAndListsStay) {
  Choose(kMkv);
  ChooseQuality(&WindowChoices::ComboVideoQuality, QualityControl::kVideoQuality, 0);
  choices_.ComboAudioCodec.Select(1);
  const int mkv_row = choices_.ComboOutputFormat.Selected;
  const auto before = Snapshot(choices_);

  for (int row : {0, 1, 22, 23, 43, 51, -1, kOutputFormatRowCount}) {
    choices_.ComboOutputFormat.Select(row);
    EXPECT_FALSE(ComboOutputFormatChange(choices_)) << "row " << row;
    EXPECT_EQ(choices_.ComboOutputFormat.Selected, mkv_row) << "row " << row;
    EXPECT_EQ(choices_.LastFormatIndex, mkv_row);
    EXPECT_EQ(choices_.CurrentFormatCode, "MKV");
    EXPECT_EQ(Snapshot(choices_), before) << "row " << row;
    EXPECT_EQ(choices_.SavedVideoQuality, 0);
  }
}

TEST_F(ParameterLists, QualityAndBitRateSelectEachOther) {
  Choose(kAvi);
  ChooseQuality(&WindowChoices::ComboVideoQuality, QualityControl::kVideoQuality, 0);
  EXPECT_EQ(choices_.ComboVideoBitrate.SelectedText(), "2500 Kbps");
  ChooseQuality(&WindowChoices::ComboAudioQuality, QualityControl::kAudioQuality, 4);
  EXPECT_EQ(choices_.ComboAudioBitrate.SelectedText(), "48 Kbps");
  EXPECT_EQ(choices_.SavedVideoQuality, 0);
  EXPECT_EQ(choices_.SavedAudioQuality, 4);

  ChooseQuality(&WindowChoices::ComboVideoBitrate, QualityControl::kVideoBitrate, 2);
  EXPECT_EQ(choices_.ComboVideoQuality.SelectedText(), "Normal");
  EXPECT_EQ(choices_.SavedVideoQuality, 2);
  ChooseQuality(&WindowChoices::ComboAudioBitrate, QualityControl::kAudioBitrate, 1);
  EXPECT_EQ(choices_.ComboAudioQuality.SelectedText(), "Higher");
  EXPECT_EQ(choices_.SavedAudioQuality, 1);

  // A format change brings the saved quality levels back but leaves the bit rates at the profile's own.
  Choose(kMkv);
  EXPECT_EQ(choices_.ComboVideoQuality.SelectedText(), "Normal");
  EXPECT_EQ(choices_.ComboAudioQuality.SelectedText(), "Higher");
  EXPECT_EQ(choices_.ComboAudioBitrate.SelectedText(), "128 Kbps");
}

TEST_F(ParameterLists, QualityBeyondAShortBitRateListKeepsItsLastRate) {
  struct Case {
    std::string_view Profile;
    int Quality;
    std::string BitRate;
  };
  const std::vector<Case> cases = {
      {kVob, 0, "6000 Kbps"},     {kVob, 2, "6000 Kbps"},    {kVob, 4, "6000 Kbps"},
      {kVideoCd, 1, "1000 Kbps"}, {kVideoCd, 2, "768 Kbps"}, {kVideoCd, 4, "768 Kbps"},
  };
  for (const Case& c : cases) {
    Choose(c.Profile);
    ChooseQuality(&WindowChoices::ComboVideoQuality, QualityControl::kVideoQuality, c.Quality);
    EXPECT_EQ(choices_.ComboVideoBitrate.SelectedText(), c.BitRate) << c.Profile << " quality " << c.Quality;
    EXPECT_EQ(choices_.SavedVideoQuality, c.Quality);
  }
}

TEST_F(ParameterLists, NoQualityLeavesTheBitRateAsItIs) {
  Choose(kAvi);
  choices_.ComboVideoBitrate.Select(3);
  ChooseQuality(&WindowChoices::ComboVideoQuality, QualityControl::kVideoQuality, -1);
  EXPECT_EQ(choices_.ComboVideoBitrate.SelectedText(), "512 Kbps");
  EXPECT_EQ(choices_.SavedVideoQuality, -1);

  Choose(kHdAvi);
  EXPECT_EQ(choices_.ComboVideoQuality.Selected, -1);
  EXPECT_EQ(choices_.ComboVideoBitrate.SelectedText(), "12000 Kbps");
}

TEST_F(ParameterLists, DiscProfilesPairSizeAndFrameRate) {
  struct Case {
    std::string_view Profile;
    std::string PalSize, NtscSize;
  };
  const std::vector<Case> cases = {
      {"DVD Compatible MPEG-2 Movie (*.mpg)", "720x576", "720x480"},
      {kVob, "720x576", "720x480"},
      {kVideoCd, "352x288", "352x240"},
      {"Super Video CD (*.mpg)", "480x576", "480x480"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Profile);
    Choose(c.Profile);
    choices_.ComboVideoFrameRate.Select(1);
    ComboVideoFrameRateChange(choices_);
    EXPECT_EQ(choices_.ComboVideoSize.SelectedText(), c.PalSize);
    EXPECT_EQ(choices_.ComboVideoSize1.SelectedText(), c.PalSize);

    choices_.ComboVideoSize1.Select(1);  // the first tab's copy
    ComboVideoSizeChange(choices_, true);
    EXPECT_EQ(choices_.ComboVideoSize.SelectedText(), c.NtscSize);
    EXPECT_EQ(choices_.ComboVideoFrameRate.SelectedText(), "29.97 fps (NTSC)");

    choices_.ComboVideoSize.Select(0);
    ComboVideoSizeChange(choices_, false);
    EXPECT_EQ(choices_.ComboVideoSize1.SelectedText(), c.PalSize);
    EXPECT_EQ(choices_.ComboVideoFrameRate.SelectedText(), "25 fps (PAL)");

    choices_.ComboVideoFrameRate.Select(0);
    ComboVideoFrameRateChange(choices_);
    EXPECT_EQ(choices_.ComboVideoSize.SelectedText(), c.NtscSize);
    EXPECT_EQ(choices_.ComboVideoSize1.SelectedText(), c.NtscSize);
  }
}

TEST_F(ParameterLists, OtherProfilesKeepSizeAndRateApart) {
  Choose(kHdAvi);
  choices_.ComboVideoSize1.Select(0);
  ComboVideoSizeChange(choices_, true);
  EXPECT_EQ(choices_.ComboVideoSize.SelectedText(), "1920x1080");
  EXPECT_EQ(choices_.ComboVideoFrameRate.SelectedText(), "29.97 fps");

  choices_.ComboVideoSize.Select(1);  // set without its handler: the rate change still copies it
  choices_.ComboVideoFrameRate.Select(1);
  ComboVideoFrameRateChange(choices_);
  EXPECT_EQ(choices_.ComboVideoSize.SelectedText(), "1440x720");
  EXPECT_EQ(choices_.ComboVideoSize1.SelectedText(), "1440x720");
}

TEST_F(ParameterLists, ChannelsFollowTheFormatCodeExactly) {
  const std::vector<std::pair<std::string, Entries>> cases = {
      {"3GP", {"Mono"}},           {"3G2", {"Mono"}},           {"AMR", {"Mono"}},
      {"3gp", {"Stereo", "Mono"}}, {"MP4", {"Stereo", "Mono"}}, {"WAV", {"Stereo", "Mono"}},
  };
  for (const auto& [code, expected] : cases) {
    choices_.CurrentFormatCode = code;
    FillChannelList(choices_);
    EXPECT_EQ(choices_.ComboAudioChannels.Entries, expected) << code;
    EXPECT_EQ(choices_.ComboAudioChannels.Selected, 0) << code;
  }
}

TEST_F(ParameterLists, RestoreSelectsStoredRowAndQualities) {
  struct Case {
    int Row, VideoQuality, AudioQuality;
    std::string_view ExpectedProfile;
    std::string VideoBitRate, AudioBitRate;
    int SavedVideo, SavedAudio;
  };
  const std::vector<Case> cases = {
      {5, 0, 4, kAvi, "2500 Kbps", "48 Kbps", 0, 4},
      {9, 3, 0, kVob, "6000 Kbps", "448 Kbps", 3, 0},
      // Rows that are no profile fall back to the first-run row.
      {0, 1, 1, "3GP - Mobile Video Format (*.3gp)", "256 Kbps", "10.2 Kbps", 1, 1},
      {-1, 1, 1, "3GP - Mobile Video Format (*.3gp)", "256 Kbps", "10.2 Kbps", 1, 1},
      {kOutputFormatRowCount, 1, 1, "3GP - Mobile Video Format (*.3gp)", "256 Kbps", "10.2 Kbps", 1, 1},
      // Positions that are no quality level keep the saved ones.
      {5, -1, 7, kAvi, "1200 Kbps", "128 Kbps", 2, 2},
  };
  for (const Case& c : cases) {
    WindowChoices choices;
    FillPreferenceLists(choices);
    FillOutputFormatList(choices);
    RestoreProfileChoices(choices, c.Row, c.VideoQuality, c.AudioQuality);
    SCOPED_TRACE(c.Row);
    EXPECT_EQ(choices.ComboOutputFormat.SelectedText(), c.ExpectedProfile);
    EXPECT_EQ(choices.LastFormatIndex, choices.ComboOutputFormat.Selected);
    EXPECT_EQ(choices.ComboVideoBitrate.SelectedText(), c.VideoBitRate);
    EXPECT_EQ(choices.ComboAudioBitrate.SelectedText(), c.AudioBitRate);
    EXPECT_EQ(choices.SavedVideoQuality, c.SavedVideo);
    EXPECT_EQ(choices.SavedAudioQuality, c.SavedAudio);
    EXPECT_EQ(choices.ComboVideoQuality.Selected, c.SavedVideo);
    EXPECT_EQ(choices.ComboAudioQuality.Selected, c.SavedAudio);
  }
}

TEST(ParameterListsCodecNames, ShownNamesBecomeEngineNames) {
  const std::vector<std::pair<std::string_view, std::string>> video = {
      {"h264", "libx264"},
      {" H264 ", "libx264"},
      {"xvid", "libxvid"},
      {"DivX", "mpeg4"},
      {"wmv3x", "wmv2"},
      {"mpeg4", "mpeg4"},
      {"msmpeg4", "msmpeg4"},
      {"flv", "flv"},
      {"rawvideo", "rawvideo"},
      {"h263", "h263"},
      {"rv10", "rv10"},
      {"mpeg1video", "mpeg1video"},
      {"mpeg2video", "mpeg2video"},
  };
  for (const auto& [shown, engine] : video)
    EXPECT_EQ(EngineVideoCodecName(shown), engine) << shown;

  const std::vector<std::pair<std::string_view, std::string>> audio = {
      {"aac", "aac"},
      {"mpeg4aac", "aac"},
      {"MP3", "libmp3lame"},
      {"mp3", "libmp3lame"},
      {"wma7x", "wmav2"},
      {"amr_nb", "libopencore_amrnb"},
      {"vorbis", "libvorbis"},
      {"libopencore_amrnb", "libopencore_amrnb"},
      {"mp2", "mp2"},
      {"ac3", "ac3"},
      {"pcm_s16le", "pcm_s16le"},
      {"\tPCM_S16L ", "pcm_s16l"},
  };
  for (const auto& [shown, engine] : audio)
    EXPECT_EQ(EngineAudioCodecName(shown), engine) << shown;
}

}  // namespace
}  // namespace profiles
