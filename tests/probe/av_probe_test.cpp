// The media probe: its read-outs against ffprobe's, attached containers, its messages, and probes working on
// several threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <mutex>
#include <thread>

#include "probe/av_probe.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "support/media_fixtures.h"
#include "support/test_files.h"

namespace {

using media_test::Quoted;
using media_test::RunCommand;
using media_test::StreamEntry;
using probe::TAVProbe;
using test_files::MakeFile;
using test_files::TestFolder;

void LoadLibraries() {
  ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
      << runtime::FFmpegLoader().LastError();
}

std::string FormatEntry(const std::filesystem::path& path, const std::string& entry) {
  std::string value = RunCommand("ffprobe -v error -show_entries format=" + entry +
                                 " -of default=noprint_wrappers=1:nokey=1 " + Quoted(path) + " 2>/dev/null")
                          .Output;
  return value.substr(0, value.find('\n'));
}

// ffprobe's time in seconds as microseconds; "N/A" is -1.
std::int64_t Microseconds(const std::string& seconds) {
  return seconds == "N/A" ? -1 : std::llround(std::stod(seconds) * 1e6);
}

// What the probe logged at warning level and above while a test ran.
class LogCapture {
 public:
  LogCapture() {
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog([this](const runtime::LogSource* sender, std::uint32_t,
                                      runtime::TLogLevel level, const std::string& line) {
      std::lock_guard lock(mutex_);
      if (sender != nullptr && sender->LogSourceName() == "TAVProbe" && level <= runtime::llWarning) {
        lines_.push_back({level, line});
      }
    });
  }
  ~LogCapture() { runtime::Logger().SetOnLog(nullptr); }
  std::vector<std::pair<runtime::TLogLevel, std::string>> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<runtime::TLogLevel, std::string>> lines_;
};

// 2 s of 22.05 kHz mono FLAC.
std::filesystem::path AudioOnlyFlac() {
  return media_test::Fixture("probe_audio_only.flac",
                             "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 -ac 1 -c:a flac");
}

// 2 s of 176x144 MPEG-2 video at 30000/1001 fps, no other stream.
std::filesystem::path VideoOnlyMpeg2() {
  return media_test::Fixture("probe_video_only.m2v",
                             "-f lavfi -i testsrc=size=176x144:rate=30000/1001:duration=2 -c:v mpeg2video");
}

// Matroska holding, in this order: audio, video, subtitle, a second video and a text attachment; container
// tags and a language on the first video stream; 16:11 pixels on the second video stream.
std::filesystem::path MixedMatroska() {
  const std::filesystem::path folder = TARVELLO_FIXTURE_DIR;
  std::filesystem::create_directories(folder);
  const std::filesystem::path subtitles =
      MakeFile(folder / "probe_subtitles.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n");
  const std::filesystem::path notes = MakeFile(folder / "probe_notes.txt", "notes\n");
  return media_test::Fixture(
      "probe_mixed.mkv",
      "-f lavfi -i sine=duration=2 -f lavfi -i testsrc=size=160x120:rate=25:duration=2 -i " +
          Quoted(subtitles) +
          " -f lavfi -i testsrc2=size=128x96:rate=10:duration=2 -map 0 -map 1 -map 2 -map 3 -c:a aac -c:v "
          "mpeg4 "
          "-c:s srt -aspect:v:1 16/9 -attach " +
          Quoted(notes) +
          " -metadata:s:t mimetype=text/plain -metadata title='Probe title' -metadata artist=Someone "
          "-metadata date=2009-05-01 -metadata track=3/12 -metadata genre=Test -metadata:s:v:0 language=fre");
}

// The container and every stream read out agree with ffprobe.
TEST(AVProbe, ReadOutsAgreeWithFfprobe) {
  LoadLibraries();
  const std::filesystem::path files[] = {media_test::H264AacMp4(), media_test::Mpeg2Ps(), AudioOnlyFlac(),
                                         VideoOnlyMpeg2(), MixedMatroska()};
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    ASSERT_FALSE(file.empty());
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(file.string())) << probe.LastError();
    EXPECT_TRUE(probe.Owned());
    EXPECT_EQ(probe.ContainerFormatName(), FormatEntry(file, "format_name"));
    EXPECT_EQ(probe.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(file)));
    EXPECT_EQ(std::to_string(probe.StreamCount()), FormatEntry(file, "nb_streams"));
    EXPECT_EQ(std::to_string(probe.ProgramCount()), FormatEntry(file, "nb_programs"));

    probe::TFileStreamInfo container;
    ASSERT_TRUE(probe.GetFileStreamInfo(container));
    EXPECT_EQ(container.Duration, Microseconds(FormatEntry(file, "duration")));
    EXPECT_EQ(container.StartTime, Microseconds(FormatEntry(file, "start_time")));
    const std::string bit_rate = FormatEntry(file, "bit_rate");
    EXPECT_EQ(std::to_string(container.BitRate), bit_rate == "N/A" ? "0" : bit_rate);

    int video = 0;
    int audio = 0;
    for (int index = 0; index < probe.StreamCount(); ++index) {
      SCOPED_TRACE(index);
      const std::string stream = std::to_string(index);
      const auto entry = [&](const char* name) { return StreamEntry(file, stream, name); };
      probe::TStreamSummary summary;
      ASSERT_TRUE(probe.GetStreamSummary(index, summary));
      std::string kind = summary.Kind;
      kind[0] = static_cast<char>(std::tolower(kind[0]));
      EXPECT_EQ(kind, entry("codec_type"));
      // Decoder names match the codec names for these kinds ("srt" decodes "subrip").
      if (summary.Kind == "Video" || summary.Kind == "Audio") {
        EXPECT_EQ(summary.CodecName.substr(0, summary.CodecName.find('(')), entry("codec_name"));
      }
      if (summary.Kind == "Video") {
        if (video++ == 0) {
          EXPECT_EQ(probe.FirstVideoStream(), index);
        }
        EXPECT_EQ(std::to_string(summary.Width), entry("width"));
        EXPECT_EQ(std::to_string(summary.Height), entry("height"));
        EXPECT_EQ(std::to_string(summary.FrameRateNum) + "/" + std::to_string(summary.FrameRateDen),
                  entry("r_frame_rate"));
        probe::TVideoStreamInfo info;
        ASSERT_TRUE(probe.GetVideoStreamInfo(index, info)) << probe.LastError();
        EXPECT_EQ(info.CodecName, summary.CodecName);
        EXPECT_EQ(info.Width, summary.Width);
        EXPECT_EQ(info.Height, summary.Height);
        EXPECT_EQ(info.FrameRateNum, summary.FrameRateNum);
        EXPECT_EQ(info.FrameRateDen, summary.FrameRateDen);
        EXPECT_EQ(runtime::avutil().av_get_pix_fmt_name(static_cast<AVPixelFormat>(info.PixelFormat)),
                  entry("pix_fmt"));
        EXPECT_EQ(info.StartTimeUS, Microseconds(entry("start_time")));
        const std::string display = entry("display_aspect_ratio");
        const std::size_t colon = display.find(':');
        if (colon != std::string::npos) {
          EXPECT_FLOAT_EQ(info.DisplayAspectRatio,
                          std::stof(display.substr(0, colon)) / std::stof(display.substr(colon + 1)));
        } else {
          EXPECT_FLOAT_EQ(info.DisplayAspectRatio,
                          static_cast<float>(info.Width) / static_cast<float>(info.Height));
        }
      } else if (summary.Kind == "Audio") {
        if (audio++ == 0) {
          EXPECT_EQ(probe.FirstAudioStream(), index);
        }
        EXPECT_EQ(std::to_string(summary.SampleRate), entry("sample_rate"));
        EXPECT_EQ(std::to_string(summary.Channels), entry("channels"));
      }
    }
    EXPECT_EQ(probe.VideoStreamCount(), video);
    EXPECT_EQ(probe.AudioStreamCount(), audio);
    if (video == 0) {
      EXPECT_EQ(probe.FirstVideoStream(), -1);
    }
    if (audio == 0) {
      EXPECT_EQ(probe.FirstAudioStream(), -1);
    }
  }
}

TEST(AVProbe, CountsStreamsByKindAndReadsTags) {
  LoadLibraries();
  TAVProbe probe;
  ASSERT_TRUE(probe.Open(MixedMatroska().string(), "matroska")) << probe.LastError();
  EXPECT_EQ(probe.InputFormatName(), "matroska");
  EXPECT_EQ(probe.StreamCount(), 5);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.VideoStreamCount(), 2);
  EXPECT_EQ(probe.SubtitleStreamCount(), 1);
  EXPECT_EQ(probe.FirstAudioStream(), 0);
  EXPECT_EQ(probe.FirstVideoStream(), 1);
  EXPECT_EQ(probe.FirstSubtitleStream(), 2);

  probe::TFileStreamInfo container;
  ASSERT_TRUE(probe.GetFileStreamInfo(container));
  EXPECT_EQ(container.Title, "Probe title");
  EXPECT_EQ(container.Author, "Someone");
  EXPECT_EQ(container.Year, 2009);
  EXPECT_EQ(container.Track, 3);
  EXPECT_EQ(container.Genre, "Test");
  EXPECT_EQ(container.Album, "");
  EXPECT_EQ(container.Timestamp, -1);

  probe::TVideoStreamInfo first;
  ASSERT_TRUE(probe.GetVideoStreamInfo(-1, first));
  EXPECT_EQ(first.Language, "fre");
  EXPECT_EQ(first.Width, 160);
  probe::TVideoStreamInfo second;
  ASSERT_TRUE(probe.GetVideoStreamInfo(3, second));
  EXPECT_EQ(second.Language, "");
  EXPECT_EQ(second.Width, 128);
  EXPECT_FLOAT_EQ(second.DisplayAspectRatio, 16.0F / 9.0F);

  probe.Close();
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_EQ(probe.InputFormatName(), "");
  for (const int read_out : {probe.StreamCount(), probe.ProgramCount(), probe.AudioStreamCount(),
                             probe.VideoStreamCount(), probe.SubtitleStreamCount(), probe.FirstAudioStream(),
                             probe.FirstVideoStream(), probe.FirstSubtitleStream()}) {
    EXPECT_EQ(read_out, -1);
  }
  EXPECT_EQ(probe.FileSize(), -1);
}

// Cover pictures (attached pictures) count as video streams, as ffprobe lists them, and are told apart from
// the video streams that are pictures to convert.
TEST(AVProbe, TellsCoverPicturesFromVideoAsFfprobeDoes) {
  LoadLibraries();
  struct Case {
    std::filesystem::path File;
    int Covers;  // what the fixture was made with, so that the comparison has something to compare
  };
  const Case cases[] = {{media_test::SoundWithCover("cover.mp3", "libmp3lame"), 1},
                        {media_test::SoundWithCover("cover.m4a", "aac"), 1},
                        {media_test::SoundWithCover("cover.flac", "flac"), 1},
                        {media_test::VideoWithCover(), 1},
                        {MixedMatroska(), 0}};
  for (const Case& c : cases) {
    const std::filesystem::path& file = c.File;
    SCOPED_TRACE(file.filename().string());
    ASSERT_FALSE(file.empty());
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(file.string())) << probe.LastError();
    int videos = 0;
    int covers = 0;
    int first_picture_to_convert = -1;
    for (int index = 0; index < probe.StreamCount(); ++index) {
      SCOPED_TRACE(index);
      const bool cover = RunCommand("ffprobe -v error -select_streams " + std::to_string(index) +
                                    " -show_entries stream_disposition=attached_pic -of "
                                    "default=noprint_wrappers=1:nokey=1 " +
                                    Quoted(file) + " 2>/dev/null")
                             .Output.rfind('1', 0) == 0;
      EXPECT_EQ(probe.IsAttachedPicture(index), cover);
      if (StreamEntry(file, std::to_string(index), "codec_type") != "video") continue;
      ++videos;
      covers += cover ? 1 : 0;
      if (!cover && first_picture_to_convert < 0) first_picture_to_convert = index;
    }
    EXPECT_EQ(probe.VideoStreamCount(), videos);
    EXPECT_EQ(probe.NonCoverVideoStreamCount(), videos - covers);
    EXPECT_EQ(probe.FirstNonCoverVideoStream(), first_picture_to_convert);
    EXPECT_FALSE(probe.IsAttachedPicture(-1));
    EXPECT_FALSE(probe.IsAttachedPicture(probe.StreamCount()));
    EXPECT_EQ(covers, c.Covers);

    const int last = probe.StreamCount() - 1;
    probe.Close();
    EXPECT_EQ(probe.NonCoverVideoStreamCount(), -1);
    EXPECT_EQ(probe.FirstNonCoverVideoStream(), -1);
    EXPECT_FALSE(probe.IsAttachedPicture(last));
  }
}

TEST(AVProbe, FailedOpensSayWhyAndLeaveTheProbeClosed) {
  LoadLibraries();
  const std::filesystem::path folder = TestFolder();
  const std::string noise = test_files::RandomBytes(64 * 1024);
  struct Case {
    const char* Name;
    std::filesystem::path Path;
    std::string Format;
    std::string Error;
    bool Logged;
  };
  const std::filesystem::path missing = folder / "missing.mp4";
  const std::filesystem::path empty = MakeFile(folder / "empty.mp4", "");
  const std::filesystem::path noisy = MakeFile(folder / "noise.avi", noise);
  const Case cases[] = {
      {"missing", missing, "", missing.string() + ": no such file or directory", true},
      {"empty", empty, "", empty.string() + ": Error while parsing header", true},
      {"noise", noisy, "", noisy.string() + ": Error while parsing header", true},
      {"directory", folder, "", folder.string() + ": Error while opening file", true},
      {"unknown format", media_test::H264AacMp4(), "no_such_format", "Unknown input format: no_such_format",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TAVProbe probe;
    ASSERT_TRUE(probe.Open(media_test::H264AacMp4().string()));
    LogCapture log;
    EXPECT_FALSE(probe.Open(c.Path.string(), c.Format));
    EXPECT_EQ(probe.LastError(), c.Error);
    const auto lines = log.Lines();
    if (c.Logged) {
      ASSERT_EQ(lines.size(), 1U);
      EXPECT_EQ(lines[0].first, runtime::llError);
      EXPECT_EQ(lines[0].second, c.Error);
    } else {
      EXPECT_TRUE(lines.empty());
    }
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.InputFormatName(), "");
  }
}

TEST(AVProbe, InformationRequestsThatCannotBeAnsweredResetTheRecordAndSayWhy) {
  LoadLibraries();
  TAVProbe probe;
  struct Case {
    const char* Name;
    std::filesystem::path File;  // empty: nothing open
    int Index;
    std::string Error;
    runtime::TLogLevel Level;
  };
  const Case cases[] = {
      {"nothing open", {}, -1, "file not loaded.", runtime::llWarning},
      {"audio only", AudioOnlyFlac(), -1, "no video stream.", runtime::llError},
      {"index past the streams", media_test::H264AacMp4(), 2, "stream index #2 is invalid.",
       runtime::llError},
      {"audio stream", media_test::H264AacMp4(), 1, "stream #1 is not video stream.", runtime::llError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.File.empty()) {
      probe.Close();
    } else {
      ASSERT_TRUE(probe.Open(c.File.string())) << probe.LastError();
    }
    probe::TVideoStreamInfo info;
    info.Width = 999;
    info.CodecName = "stale";
    LogCapture log;
    EXPECT_FALSE(probe.GetVideoStreamInfo(c.Index, info));
    EXPECT_EQ(probe.LastError(), c.Error);
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0], std::make_pair(c.Level, c.Error));
    EXPECT_EQ(info.Width, -1);
    EXPECT_EQ(info.CodecName, "");
    EXPECT_EQ(info.DisplayAspectRatio, -1.0F);
  }

  probe.Close();
  probe::TFileStreamInfo container;
  container.Title = "stale";
  container.Duration = 5;
  EXPECT_FALSE(probe.GetFileStreamInfo(container));
  EXPECT_EQ(probe.LastError(), "file not loaded.");
  EXPECT_EQ(container.Title, "");
  EXPECT_EQ(container.Duration, -1);
}

// A container another part opened through the file layer: the probe reads it and leaves it open.
TEST(AVProbe, AttachedContainerIsReadAndLeftOpen) {
  LoadLibraries();
  const std::filesystem::path file = media_test::H264AacMp4();
  int error = 0;
  runtime::FileIoPtr io = runtime::OpenFileIo(file.string(), AVIO_FLAG_READ, &error);
  ASSERT_NE(io, nullptr);
  AVFormatContext* opening = runtime::avformat().avformat_alloc_context();
  ASSERT_NE(opening, nullptr);
  runtime::InstallFileLayer(opening);
  opening->pb = io.get();
  ASSERT_EQ(runtime::avformat().avformat_open_input(&opening, file.c_str(), nullptr, nullptr), 0);
  runtime::InputFormatPtr format(opening);
  ASSERT_GE(runtime::avformat().avformat_find_stream_info(format.get(), nullptr), 0);

  {
    TAVProbe probe;
    probe.Attach(format.get());
    EXPECT_FALSE(probe.Owned());
    EXPECT_EQ(probe.FormatContext(), format.get());
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    EXPECT_EQ(probe.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(file)));
    probe::TVideoStreamInfo info;
    ASSERT_TRUE(probe.GetVideoStreamInfo(-1, info));
    EXPECT_EQ(info.Width, 320);
    probe.Close();
    EXPECT_EQ(probe.VideoStreamCount(), -1);
    probe.Attach(format.get());
  }
  // Still open and readable after the probe is gone.
  runtime::PacketPtr packet(runtime::avcodec().av_packet_alloc());
  EXPECT_EQ(runtime::avformat().av_read_frame(format.get(), packet.get()), 0);
}

// A container whose stream lacks a time base denominator, a start time and an aspect ratio, with no I/O of
// its own: the times use a repaired copy of the time base (the stream keeps its own), and the file size
// comes from the file on disk.
TEST(AVProbe, OddStreamValuesAreReadWithoutChangingTheStream) {
  LoadLibraries();
  runtime::FormatContextPtr context(runtime::avformat().avformat_alloc_context());
  ASSERT_NE(context, nullptr);
  const std::filesystem::path file = media_test::Mpeg2Ps();
  context->url = runtime::avutil().av_strdup(file.c_str());
  AVStream* stream = runtime::avformat().avformat_new_stream(context.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->width = 320;
  stream->codecpar->height = 240;
  stream->codecpar->sample_aspect_ratio = AVRational{0, 1};
  stream->time_base = AVRational{3, 0};
  stream->start_time = AV_NOPTS_VALUE;
  stream->duration = 7;

  TAVProbe probe;
  probe.Attach(context.get());
  EXPECT_EQ(probe.FileSize(), static_cast<std::int64_t>(std::filesystem::file_size(file)));
  probe::TVideoStreamInfo info;
  ASSERT_TRUE(probe.GetVideoStreamInfo(0, info)) << probe.LastError();
  EXPECT_EQ(info.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(info.StartTimeUS, -1);
  EXPECT_EQ(info.Duration, 7);
  EXPECT_EQ(info.DurationUS, 7'000'000);  // 7 units of 3/3 s
  EXPECT_EQ(stream->time_base.num, 3);
  EXPECT_EQ(stream->time_base.den, 0);
  EXPECT_FLOAT_EQ(info.DisplayAspectRatio, 4.0F / 3.0F);

  stream->codecpar->height = 0;
  ASSERT_TRUE(probe.GetVideoStreamInfo(0, info));
  EXPECT_EQ(info.DisplayAspectRatio, -1.0F);
  probe.Close();
  EXPECT_NE(context->streams, nullptr);  // still ours to free
}

// Each thread has its own probe; the stream searches of both open and close decoders at the same time.
TEST(AVProbe, ProbesOnTwoThreadsAtOnceReadTheSameAsAlone) {
  LoadLibraries();
  const std::filesystem::path files[] = {media_test::H264AacMp4(), media_test::Mpeg2Ps()};
  struct Result {
    std::int64_t Duration = 0;
    int Width = 0;
    int FrameRateNum = 0;
    std::string CodecName;
    bool operator==(const Result&) const = default;
  };
  const auto read = [](TAVProbe& probe, const std::filesystem::path& file) {
    Result result;
    probe::TFileStreamInfo container;
    probe::TVideoStreamInfo video;
    if (probe.Open(file.string()) && probe.GetFileStreamInfo(container) &&
        probe.GetVideoStreamInfo(-1, video)) {
      result = {container.Duration, video.Width, video.FrameRateNum, video.CodecName};
    }
    return result;
  };
  Result alone[2];
  for (int index = 0; index < 2; ++index) {
    TAVProbe probe;
    alone[index] = read(probe, files[index]);
    ASSERT_GT(alone[index].Width, 0);
  }
  int mismatches[2] = {0, 0};
  std::vector<std::thread> threads;
  for (int index = 0; index < 2; ++index) {
    threads.emplace_back([&, index] {
      TAVProbe probe;
      for (int round = 0; round < 10; ++round) {
        if (!(read(probe, files[index]) == alone[index])) ++mismatches[index];
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(AVProbe, RefusesToWorkWithoutTheLibraries) {
  if (runtime::FFmpegLoader().LibraryLoaded(runtime::lkAvCodec)) {
    GTEST_SKIP() << "an earlier test in this process bound the libraries";
  }
  TAVProbe probe;
  try {
    probe.Open("anything.mp4");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "LibAVCodec not loaded.");
  }
  EXPECT_THROW(probe.Attach(nullptr), std::runtime_error);
}

}  // namespace
