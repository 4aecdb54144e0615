// The job builder: output names, the letterbox arithmetic, the volume table, the records it fills from the
// window's choices, and what happens when a job cannot start.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "job_runner.h"
#include "profiles/job_builder.h"
#include "profiles/job_numbers.h"
#include "profiles/letterbox.h"
#include "profiles/parameter_lists.h"
#include "profiles/source_facts.h"
#include "profiles/unique_output_name.h"
#include "runtime/library_loader.h"
#include "support/media_fixtures.h"

namespace {

using profiles::WindowChoices;

WindowChoices ChoicesFor(const std::string& row_text, const std::string& folder = "/tmp") {
  return profiles_test::FirstRunChoices(row_text, folder);
}

void Select(profiles::ChoiceList& list, const std::string& entry) {
  const int position = list.IndexOf(entry);
  ASSERT_GE(position, 0) << entry;
  list.Select(position);
}

TEST(OutputName, TakesTheFirstFreeNumberUnlessOverwriting) {
  const std::filesystem::path folder = engine_test::TestFolder();
  engine_test::MakeFile(folder / "clip.mp4", "taken");
  engine_test::MakeFile(folder / "clip-1.mp4", "taken");
  WindowChoices choices = ChoicesFor("MP4 - MPEG4 Video (*.mp4)", folder.string());
  EXPECT_EQ(profiles::OutputPathFor(choices, "/in/clip.avi"), (folder / "clip-2.mp4").string());
  choices.Overwrite = true;
  EXPECT_EQ(profiles::OutputPathFor(choices, "/in/clip.avi"), (folder / "clip.mp4").string());

  // Only the file name's extension is replaced; a name without one gets the extension added.
  EXPECT_EQ(profiles::UniqueOutputName((folder / "a.b" / "clip").string(), ".vob"),
            (folder / "a.b" / "clip.vob").string());
  EXPECT_EQ(profiles::UniqueOutputName((folder / ".hidden").string(), ".rm"),
            (folder / ".hidden.rm").string());
  // A folder text ending in a separator is used as it stands.
  choices.OutputFolder = folder.string() + "/";
  EXPECT_EQ(profiles::OutputPathFor(choices, "clip.avi"), folder.string() + "//clip.mp4");
}

TEST(VolumeToEngine, MapsTheSpinStepsAndNothingElse) {
  const int expected[] = {0, 50, 100, 150, 200, 256, 300, 350, 400, 450, 600};
  for (int step = 0; step <= 10; ++step)
    EXPECT_EQ(profiles::VolumeToEngine(step * 20), expected[step]);
  for (const int odd : {-20, 10, 199, 220})
    EXPECT_EQ(profiles::VolumeToEngine(odd), 256) << odd;
}

struct LetterboxCase {
  const char* Source;
  const char* Target;
  const char* FrameSize;  // "" when nothing is set
  int PadTopBottom;
  int PadLeftRight;
  const char* Aspect;
};

TEST(Letterbox, KeepsTheTargetSizeWithEvenPictureAndPadding) {
  const LetterboxCase cases[] = {
      {"640x480", "720x480", "640x480", -1, 40, "1.5"},
      {"1280x720", "720x576", "720x404", 86, -1, "1.25"},
      {"480x241", "480x480", "480x244", 118, -1, "1"},  // height 241 becomes 242, padding 119 becomes 118
      {"480x243", "480x480", "480x244", 118, -1, "1"},  // 243 becomes 242
      {"320x240", "176x144", "176x132", 6, -1, "1.22222222222222"},
      {"640x480", "Original Size", "640x480", -1, -1, ""},  // the aspects match: no padding
      {"640x480", "352x288 (CIF)", "352x264", 12, -1, "1.22222222222222"},
      {" ", "720x480", "", -1, -1, ""},        // no picture
      {"640x480", "721x480", "", -1, -1, ""},  // padding of half a pixel: no letterbox
  };
  for (const LetterboxCase& c : cases) {
    SCOPED_TRACE(std::string(c.Source) + " into " + c.Target);
    engine::TOutputOptions options;
    const bool set = profiles::ComputeLetterbox(c.Target, c.Source, options);
    EXPECT_EQ(set, *c.FrameSize != '\0');
    EXPECT_EQ(options.FrameSize, c.FrameSize);
    EXPECT_EQ(options.PadTop, c.PadTopBottom);
    EXPECT_EQ(options.PadBottom, c.PadTopBottom);
    EXPECT_EQ(options.PadLeft, c.PadLeftRight);
    EXPECT_EQ(options.PadRight, c.PadLeftRight);
    EXPECT_EQ(options.FrameAspectRatio, c.Aspect);
  }
}

TEST(FrameSize, WithoutLetterboxTakesTheChosenOrTheSourceSize) {
  struct Case {
    const char* Chosen;
    const char* Source;
    const char* FrameSize;
    const char* Aspect;
  };
  const Case cases[] = {
      {"352x288 (CIF)", "640x480", "352x288", "1.2222"},
      {"Original Size", "1280x720", "1280x720", "1.7777"},
      {"720x480", "640x480", "720x480", "1.5"},
      {"Original Size", " ", "", ""},  // a source without a picture gets no size at all
  };
  for (const Case& c : cases) {
    engine::TOutputOptions options;
    profiles::ApplyFrameSize(c.Chosen, c.Source, options);
    EXPECT_EQ(options.FrameSize, c.FrameSize) << c.Chosen;
    EXPECT_EQ(options.FrameAspectRatio, c.Aspect) << c.Chosen;
  }
}

TEST(ListNumbers, ReadWithAPointWhateverTheLocale) {
  EXPECT_EQ(profiles::ReadListInteger(" 1200 Kbps", "rate"), 1200);
  EXPECT_DOUBLE_EQ(profiles::ReadListDecimal("12.2 Kbps", "rate"), 12.2);
  EXPECT_THROW(profiles::ReadListInteger("", "Video Bitrate"), profiles::JobChoiceError);
  EXPECT_THROW(profiles::ReadListDecimal("fast", "Audio Bitrate"), profiles::JobChoiceError);
  EXPECT_EQ(profiles::DecimalText(720.0), "720");
  EXPECT_EQ(profiles::DecimalText(1280.0 / 720.0), "1.77777777777778");
  EXPECT_EQ(profiles::RoundHalfEven(29.97), 30);
  EXPECT_EQ(profiles::RoundHalfEven(23.976), 24);
  EXPECT_EQ(profiles::RoundHalfEven(24.5), 24);
  EXPECT_EQ(profiles::RoundHalfEven(25.5), 26);
}

class JobRecords : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
  // The size is the one the file list would show; the source is only read for an "Auto" frame rate.
  engine::TOutputOptions Fill(const WindowChoices& choices, const std::string& size = "640x480",
                              std::string source = {}) {
    if (source.empty()) source = media_test::H264AacMp4().string();
    engine::TOutputOptions options;
    profiles::FillOutputOptions(choices, profiles::JobSource{source, size}, probe_, options);
    return options;
  }
  probe::TAVProbe probe_;
};

TEST_F(JobRecords, FollowTheProfileAndTheChoices) {
  const engine::TOutputOptions divx = Fill(ChoicesFor("AVI - DivX Video (*.avi)"));
  EXPECT_EQ(divx.VideoCodec, "mpeg4");
  EXPECT_EQ(divx.VideoTag, "DIVX");
  EXPECT_EQ(divx.AudioCodec, "libmp3lame");
  EXPECT_EQ(divx.VideoBitrate, 1200000);
  EXPECT_EQ(divx.AudioBitrate, 128000);
  EXPECT_EQ(divx.AudioSampleRate, 44100);
  EXPECT_EQ(divx.AudioChannels, 2);
  EXPECT_EQ(divx.AudioVolume, 256);
  EXPECT_EQ(divx.Target, 0);

  WindowChoices mkv = ChoicesFor("MKV - Matroska Video (*.mkv)");
  Select(mkv.ComboAudioCodec, "mp3");
  const engine::TOutputOptions matroska = Fill(mkv);
  EXPECT_EQ(matroska.VideoCodec, "libx264");
  EXPECT_EQ(matroska.VideoPreset, "libx264-default");
  EXPECT_EQ(matroska.AudioCodec, "libmp3lame");

  WindowChoices dvd = ChoicesFor("DVD Compatible MPEG-2 Movie (*.mpg)");
  Select(dvd.ComboVideoFrameRate, "25 fps (PAL)");
  profiles::ComboVideoFrameRateChange(dvd);
  const engine::TOutputOptions disc = Fill(dvd);
  EXPECT_EQ(disc.Target, 3);
  EXPECT_EQ(disc.TargetNorm, 0);
  EXPECT_EQ(disc.FrameRate, "25");
  EXPECT_EQ(disc.FrameSize, "720x540");  // 4:3 into 720x576, letterboxed
  EXPECT_EQ(disc.PadTop, 18);
  EXPECT_EQ(disc.AudioCodec, "ac3");

  WindowChoices phone = ChoicesFor("3GP - Mobile Video Format (*.3gp)");
  Select(phone.ComboBoxLetterbox, "None");
  const engine::TOutputOptions mobile = Fill(phone);
  EXPECT_EQ(mobile.AudioChannels, 1);
  EXPECT_EQ(mobile.AudioBitrate, 7400);
  EXPECT_EQ(mobile.AudioCodec, "libopencore_amrnb");
  EXPECT_EQ(mobile.FrameSize, "176x144");
  EXPECT_EQ(mobile.FrameAspectRatio, "1.2222");

  WindowChoices music = ChoicesFor("MP3 - Mpeg Layer3 Audio (*.mp3)");
  music.OutputVolume = 0;
  const engine::TOutputOptions audio = Fill(music, " ");
  EXPECT_TRUE(audio.DisableVideo);
  EXPECT_TRUE(audio.VideoCodec.empty());
  EXPECT_EQ(audio.AudioVolume, 0);
  EXPECT_TRUE(audio.DisableAudio);
}

TEST_F(JobRecords, KeepAUsableBitRateWhenTheQualityLevelHasNone) {
  WindowChoices vob = ChoicesFor("DVD - VOB (*.vob)");
  Select(vob.ComboVideoQuality, "Lowest");
  profiles::ComboVideoQualityChange(vob, profiles::QualityControl::kVideoQuality);
  EXPECT_EQ(Fill(vob).VideoBitrate, 6000000);
}

TEST_F(JobRecords, RefuseAListWithoutSelection) {
  WindowChoices choices = ChoicesFor("MP4 - MPEG4 Video (*.mp4)");
  choices.ComboAudioBitrate.Select(-1);
  EXPECT_THROW(Fill(choices), profiles::JobChoiceError);
}

TEST_F(JobRecords, TakeTheSourcesRoundedRateForAuto) {
  struct Case {
    std::filesystem::path Source;
    const char* Rate;
  };
  const Case cases[] = {
      {media_test::Fixture("ntsc_rate.mp4",
                           "-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=0.5 -c:v mpeg4"),
       "30"},
      {media_test::Fixture("film_rate.mp4",
                           "-f lavfi -i testsrc=size=160x120:rate=24000/1001:duration=0.5 -c:v mpeg4"),
       "24"},
      {media_test::Fixture("no_picture.wav", "-f lavfi -i sine=duration=0.5"), "25"},
      // A cover picture's 90000/1 is no frame rate: a sound file with its cover is a sound file.
      {media_test::SoundWithCover("cover.mp3", "libmp3lame"), "25"},
      {media_test::VideoWithCover(), "24"},
  };
  const WindowChoices mpeg2 = ChoicesFor("MPEG-2 Movie (*.mpg)");
  ASSERT_EQ(mpeg2.ComboVideoFrameRate.SelectedText(), "Auto");
  for (const Case& c : cases) {
    ASSERT_FALSE(c.Source.empty());
    EXPECT_EQ(Fill(mpeg2, "160x120", c.Source.string()).FrameRate, c.Rate) << c.Source.filename();
  }
}

TEST_F(JobRecords, SizeColumnShowsThePictureToConvert) {
  struct Case {
    std::filesystem::path Source;
    const char* Size;
  };
  const Case cases[] = {{media_test::H264AacMp4(), "320x240"},
                        {media_test::VideoWithCover(), "160x120"},
                        {media_test::SoundWithCover("cover.mp3", "libmp3lame"), " "},
                        {media_test::SoundWithCover("cover.flac", "flac"), " "},
                        {media_test::Fixture("no_picture.wav", "-f lavfi -i sine=duration=0.5"), " "}};
  for (const Case& c : cases) {
    ASSERT_FALSE(c.Source.empty());
    const profiles::SourceFacts facts = profiles::ReadSourceFacts(probe_, c.Source.string());
    EXPECT_TRUE(facts.Opened) << c.Source.filename();
    EXPECT_EQ(facts.SizeColumn, c.Size) << c.Source.filename();
  }
}

TEST_F(JobRecords, GiveASourceWithoutPictureNoSize) {
  for (const int letterbox : {0, 1}) {
    WindowChoices apple = ChoicesFor("Apple TV (*.mp4)");
    apple.ComboBoxLetterbox.Select(letterbox);
    const engine::TOutputOptions options = Fill(apple, " ");
    EXPECT_TRUE(options.FrameSize.empty());
    EXPECT_TRUE(options.FrameAspectRatio.empty());
    EXPECT_EQ(options.VideoCodec, "mpeg4");
  }
}

// A disc's norm comes from the source's picture; sound alone takes the norm of the chosen frame rate.
TEST_F(JobRecords, GiveADiscOfSoundOnlyTheNormOfTheChosenRate) {
  struct Case {
    const char* Size;
    const char* Rate;
    int Norm;
  };
  for (const Case& c :
       {Case{" ", "29.97 fps (NTSC)", 2}, Case{" ", "25 fps (PAL)", 1}, Case{"640x480", "25 fps (PAL)", 0}}) {
    WindowChoices dvd = ChoicesFor("DVD Compatible MPEG-2 Movie (*.mpg)");
    Select(dvd.ComboVideoFrameRate, c.Rate);
    const engine::TOutputOptions options = Fill(dvd, c.Size);
    EXPECT_EQ(options.Target, 3);
    EXPECT_EQ(options.TargetNorm, c.Norm) << "size '" << c.Size << "', " << c.Rate;
  }
}

class JobStart : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(vidrel_.LoadMediaLibraries(runtime::ProgramFolder())); }
  engine::TVidrel vidrel_;
  engine::TOutputOptions record_;
};

TEST_F(JobStart, AnInputThatCannotBeOpenedStartsNothing) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const profiles_test::JobRun run =
      profiles_test::RunJob(vidrel_, ChoicesFor("MP4 - MPEG4 Video (*.mp4)", folder.string()),
                            (folder / "missing.avi").string(), record_);
  EXPECT_FALSE(run.Start.Started);
  EXPECT_NE(run.Start.FailureText.find("missing.avi"), std::string::npos) << run.Start.FailureText;
  EXPECT_EQ(vidrel_.TaskCount(), 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing.mp4"));
}

TEST_F(JobStart, AnUnreadableChoiceStartsNothingAndLeavesNoTask) {
  const std::filesystem::path folder = engine_test::TestFolder();
  WindowChoices choices = ChoicesFor("MP4 - MPEG4 Video (*.mp4)", folder.string());
  choices.ComboVideoBitrate.Select(-1);
  const profiles_test::JobRun run =
      profiles_test::RunJob(vidrel_, choices, media_test::H264AacMp4().string(), record_);
  EXPECT_FALSE(run.Start.Started);
  EXPECT_NE(run.Start.FailureText.find("Video Bitrate"), std::string::npos) << run.Start.FailureText;
  EXPECT_EQ(vidrel_.TaskCount(), 0);
}

TEST_F(JobStart, AnAudioSourceWithAVideoProfileGivesSoundOnly) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path source = media_test::Fixture("sound_only.mp3", "-f lavfi -i sine=duration=1");
  const profiles_test::JobRun run = profiles_test::RunJob(
      vidrel_, ChoicesFor("Apple TV (*.mp4)", folder.string()), source.string(), record_);
  ASSERT_TRUE(run.Start.Started) << run.Start.FailureText;
  ASSERT_TRUE(run.Finished) << run.ErrorText;
  const std::vector<media_test::StreamFacts> streams = media_test::ProbeStreams(run.Start.OutputPath);
  ASSERT_EQ(streams.size(), 1U);
  EXPECT_EQ(streams[0].Kind, "audio");
  EXPECT_NEAR(streams[0].Duration, 1.0, 0.1);
}

// Cover pictures and subtitle tracks never fail a video profile: the cover is no video, the subtitles go
// where the container carries them.
TEST_F(JobStart, CoverPicturesAndSubtitlesNeverFailAVideoProfile) {
  const std::filesystem::path folder = engine_test::TestFolder();
  struct Case {
    std::filesystem::path Source;
    const char* Profile;
    std::vector<std::string> Kinds;  // of the output's streams, in order
    bool Hello;                      // the output's subtitle reads "Hello"
  };
  const Case cases[] = {
      {media_test::SoundWithCover("cover.mp3", "libmp3lame"), "MP4 - MPEG4 Video (*.mp4)", {"audio"}, false},
      {media_test::SoundWithCover("cover.m4a", "aac"),
       "AVI - Audio Video Interleave (*.avi)",
       {"audio"},
       false},
      {media_test::SubRipMatroska(), "MKV - Matroska Video (*.mkv)", {"video", "audio", "subtitle"}, true},
      {media_test::SubRipMatroska(), "MP4 - MPEG4 Video (*.mp4)", {"video", "audio", "subtitle"}, true},
      {media_test::SubRipMatroska(), "AVI - Audio Video Interleave (*.avi)", {"video", "audio"}, false},
      {media_test::PictureSubtitleMatroska(),
       "MKV - Matroska Video (*.mkv)",
       {"video", "audio", "subtitle"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Source.filename().string() + " with " + c.Profile);
    ASSERT_FALSE(c.Source.empty());
    engine::TOutputOptions record;
    const profiles_test::JobRun run =
        profiles_test::RunJob(vidrel_, ChoicesFor(c.Profile, folder.string()), c.Source.string(), record);
    ASSERT_TRUE(run.Start.Started) << run.Start.FailureText;
    ASSERT_TRUE(run.Finished) << run.ErrorText;
    std::vector<std::string> kinds;
    for (const media_test::StreamFacts& stream : media_test::ProbeStreams(run.Start.OutputPath))
      kinds.push_back(stream.Kind);
    EXPECT_EQ(kinds, c.Kinds);
    EXPECT_TRUE(media_test::DecodesCleanly(run.Start.OutputPath));
    if (c.Kinds.back() == "subtitle") {
      EXPECT_TRUE(media_test::DecodeSubtitles(run.Start.OutputPath).Clean);
    }
    if (c.Hello) {
      EXPECT_NE(media_test::SubtitleText(run.Start.OutputPath).find("Hello"), std::string::npos);
    }
  }
}

TEST_F(JobStart, EachQualityLevelGivesItsBitRates) {
  const std::filesystem::path folder = engine_test::TestFolder();
  // Light noise, so that the encoder needs every bit it is given and the rates tell the levels apart.
  const std::filesystem::path source =
      media_test::Fixture("grainy.mp4",
                          "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=duration=3 "
                          "-vf noise=alls=4:allf=t -c:v mpeg4 -q:v 2 -c:a aac -shortest");
  ASSERT_FALSE(source.empty());
  const char* const levels[] = {"Highest", "Higher", "Normal", "Lower", "Lowest"};
  const int video_kbps[] = {2500, 1500, 1200, 768, 512};
  const int audio_kbps[] = {256, 192, 128, 80, 64};
  double higher_level_rate = 1e12;
  for (int level = 0; level < 5; ++level) {
    WindowChoices choices = ChoicesFor("MP4 - MPEG4 Video (*.mp4)", folder.string());
    Select(choices.ComboVideoQuality, levels[level]);
    profiles::ComboVideoQualityChange(choices, profiles::QualityControl::kVideoQuality);
    Select(choices.ComboAudioQuality, levels[level]);
    profiles::ComboVideoQualityChange(choices, profiles::QualityControl::kAudioQuality);
    const profiles_test::JobRun run = profiles_test::RunJob(vidrel_, choices, source.string(), record_);
    ASSERT_TRUE(run.Finished) << levels[level] << ": " << run.Start.FailureText << run.ErrorText;
    EXPECT_EQ(record_.VideoBitrate, video_kbps[level] * 1000);
    EXPECT_EQ(record_.AudioBitrate, audio_kbps[level] * 1000);
    // The encoders were given those rates: the audio rate holds closely; the video rate's rate control
    // overshoots low targets on 3 s, but each level must be below the one above it.
    const double audio_rate =
        std::stod(media_test::StreamEntry(run.Start.OutputPath, "a:0", "bit_rate")) / 1000.0;
    EXPECT_NEAR(audio_rate, audio_kbps[level], audio_kbps[level] * 0.15) << levels[level];
    const double video_rate =
        std::stod(media_test::StreamEntry(run.Start.OutputPath, "v:0", "bit_rate")) / 1000.0;
    EXPECT_NEAR(video_rate, video_kbps[level], video_kbps[level] * 0.7) << levels[level];
    EXPECT_LT(video_rate, higher_level_rate) << levels[level];
    higher_level_rate = video_rate;
  }
}

TEST_F(JobStart, LetterboxPadsTheSidesOfAFourByThreeSource) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path source =
      media_test::Fixture("vga.mp4", "-f lavfi -i testsrc=size=640x480:rate=25:duration=1 -c:v mpeg4 -q:v 3");
  WindowChoices choices = ChoicesFor("DVD Compatible MPEG-2 Movie (*.mpg)", folder.string());
  ASSERT_EQ(choices.ComboVideoSize.SelectedText(), "720x480");
  const profiles_test::JobRun run = profiles_test::RunJob(vidrel_, choices, source.string(), record_);
  ASSERT_TRUE(run.Finished) << run.Start.FailureText << run.ErrorText;
  EXPECT_EQ(record_.FrameSize, "640x480");
  EXPECT_EQ(record_.PadLeft, 40);
  EXPECT_EQ(record_.PadRight, 40);
  EXPECT_EQ(media_test::StreamEntry(run.Start.OutputPath, "v:0", "width"), "720");
  EXPECT_EQ(media_test::StreamEntry(run.Start.OutputPath, "v:0", "height"), "480");
  // The bands are black and the picture is not: the brightest luma of a column strip of the first frame.
  const auto brightest = [&](int left) {
    const media_test::CommandResult stats = media_test::RunCommand(
        "ffmpeg -nostdin -v error -i " + media_test::Quoted(run.Start.OutputPath) +
        " -frames:v 1 -vf crop=36:480:" + std::to_string(left) +
        ":0,signalstats,metadata=print:key=lavfi.signalstats.YMAX:file=- -f null - 2>&1");
    const std::size_t at = stats.Output.find("YMAX=");
    return at == std::string::npos ? -1 : std::stoi(stats.Output.substr(at + 5));
  };
  for (const int band : {2, 682}) {
    const int luma = brightest(band);
    EXPECT_GE(luma, 0) << band;
    EXPECT_LE(luma, 16) << band;
  }
  EXPECT_GT(brightest(340), 100);
}

TEST_F(JobStart, AnExistingNameGetsTheNextNumber) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::filesystem::path source = media_test::H264AacMp4();
  const WindowChoices choices = ChoicesFor("MP3 - Mpeg Layer3 Audio (*.mp3)", folder.string());
  for (const char* expected : {"h264_aac.mp3", "h264_aac-1.mp3", "h264_aac-2.mp3"}) {
    const profiles_test::JobRun run = profiles_test::RunJob(vidrel_, choices, source.string(), record_);
    ASSERT_TRUE(run.Finished) << run.Start.FailureText << run.ErrorText;
    EXPECT_EQ(run.Start.OutputPath, (folder / expected).string());
  }
}

}  // namespace

namespace {

class SoundOnlyDisc : public JobStart, public ::testing::WithParamInterface<const char*> {};

TEST_P(SoundOnlyDisc, HoldsTheDiscSoundInAProgramStream) {
  const std::filesystem::path folder = engine_test::TestFolder();
  const std::string extension = GetParam();
  const std::filesystem::path source =
      media_test::Fixture("disc_sound." + extension, std::string("-f lavfi -i sine=duration=1") +
                                                         (extension == "ogg" ? " -c:a libvorbis" : ""));
  ASSERT_FALSE(source.empty());
  const profiles_test::JobRun run = profiles_test::RunJob(
      vidrel_, ChoicesFor("DVD Compatible MPEG-2 Movie (*.mpg)", folder.string()), source.string(), record_);
  ASSERT_TRUE(run.Start.Started) << run.Start.FailureText;
  ASSERT_TRUE(run.Finished) << run.ErrorText;
  const std::filesystem::path output = run.Start.OutputPath;
  EXPECT_EQ(media_test::RunCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 " +
                                   media_test::Quoted(output))
                .Output,
            "mpeg\n");
  EXPECT_EQ(media_test::StreamEntry(output, "a:0", "codec_name"), "ac3");
  EXPECT_EQ(media_test::StreamEntry(output, "a:0", "sample_rate"), "48000");
  EXPECT_EQ(media_test::StreamEntry(output, "v", "codec_name"), "");
  EXPECT_TRUE(media_test::DecodesCleanly(output));
}

INSTANTIATE_TEST_SUITE_P(Sources, SoundOnlyDisc, ::testing::Values("wav", "flac", "ogg"));

// A choice that leaves nothing to write is refused before anything starts, in words that say what is missing.
TEST_F(JobStart, NothingToConvertIsRefusedWithWhatIsMissing) {
  const std::filesystem::path picture_only = media_test::Fixture(
      "picture_only.mp4", "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 -c:v mpeg4");
  const std::filesystem::path sound_only =
      media_test::Fixture("sound_only.mp3", "-f lavfi -i sine=duration=1");
  ASSERT_FALSE(picture_only.empty());
  ASSERT_FALSE(sound_only.empty());
  struct Case {
    const char* Profile;
    std::filesystem::path Source;
    int Volume;
    const char* Reason;
  };
  for (const Case& c :
       {Case{"MP3 - Mpeg Layer3 Audio (*.mp3)", picture_only, 100,
             "'picture_only.mp4' has no sound to convert"},
        Case{"MP4 - MPEG4 Video (*.mp4)", sound_only, 0,
             "'sound_only.mp3' has no picture to convert, and its sound is switched off (volume 0)"},
        Case{"WAV - Waveform Audio (*.wav)", sound_only, 0,
             "The volume is 0: 'sound_only.mp3' would be converted into no sound at all"}}) {
    const std::filesystem::path folder = engine_test::TestFolder();
    WindowChoices choices = ChoicesFor(c.Profile, folder.string());
    choices.OutputVolume = c.Volume;
    const profiles_test::JobRun run = profiles_test::RunJob(vidrel_, choices, c.Source.string(), record_);
    EXPECT_FALSE(run.Start.Started) << c.Profile;
    EXPECT_EQ(run.Start.FailureText, c.Reason);
    EXPECT_EQ(vidrel_.TaskCount(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << c.Profile;
  }
}

}  // namespace
