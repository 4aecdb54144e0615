// Media for tests: small fixtures made with the ffmpeg tool on first use (shared by every test of the build),
// and what ffprobe and ffmpeg say about the files a test produced.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace media_test {

struct CommandResult {
  int Status = -1;
  std::string Output;  // standard output
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    result.Output.append(buffer, read);
  const int status = ::pclose(pipe);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string Quoted(const std::filesystem::path& path) {
  std::string text = "'";
  for (const char c : path.string()) {
    if (c == '\'') {
      text += "'\\''";
    } else {
      text += c;
    }
  }
  return text + "'";
}

// The fixture `name` in the shared fixture folder, made with `ffmpeg -y <arguments> <file>` unless it exists.
// Made under a temporary name and renamed, so tests running at the same time never see half a file.
inline std::filesystem::path Fixture(const std::string& name, const std::string& arguments) {
  const std::filesystem::path folder = TARVELLO_FIXTURE_DIR;
  std::filesystem::create_directories(folder);
  const std::filesystem::path path = folder / name;
  if (std::filesystem::exists(path)) return path;
  const std::filesystem::path partial =
      folder / (std::to_string(::getpid()) + "-" + std::to_string(::gettid()) + "-" + name);
  const CommandResult made =
      RunCommand("ffmpeg -nostdin -v error -y " + arguments + " " + Quoted(partial) + " 2>&1");
  if (made.Status != 0) return {};
  std::filesystem::rename(partial, path);
  return path;
}

// The fixture `name` holding `bytes`, written unless it exists, as atomically as Fixture() makes its files.
inline std::filesystem::path WrittenFixture(const std::string& name, const std::string& bytes) {
  const std::filesystem::path folder = TARVELLO_FIXTURE_DIR;
  std::filesystem::create_directories(folder);
  const std::filesystem::path path = folder / name;
  if (std::filesystem::exists(path)) return path;
  const std::filesystem::path partial =
      folder / (std::to_string(::getpid()) + "-" + std::to_string(::gettid()) + "-" + name);
  std::ofstream(partial, std::ios::binary) << bytes;
  std::filesystem::rename(partial, path);
  return path;
}

// 3 s of 320x240 25 fps H.264 (a key frame every second) with 44.1 kHz stereo AAC, in MP4.
inline std::filesystem::path H264AacMp4() {
  return Fixture(
      "h264_aac.mp4",
      "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
      "-ac 2 -c:v libx264 -preset ultrafast -g 25 -bf 2 -c:a aac -b:a 96k -shortest");
}

// 3 s of MPEG-2 video with MP2 audio in an MPEG program stream.
inline std::filesystem::path Mpeg2Ps() {
  return Fixture(
      "mpeg2.mpg",
      "-f lavfi -i testsrc=size=352x288:rate=25:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
      "-c:v mpeg2video -g 12 -b:v 1M -c:a mp2 -ar 44100 -ac 2 -f mpeg -shortest");
}

// A 200x200 red PNG, the picture of the cover-art fixtures.
inline std::filesystem::path CoverPicture() {
  return Fixture("cover.png", "-f lavfi -i color=c=red:size=200x200:d=1 -frames:v 1");
}

// 1 s of sound encoded with audio_codec, carrying CoverPicture() as its attached picture (album art) in the
// file `name`, whose extension picks the container ("cover.mp3", "cover.m4a", "cover.flac").
inline std::filesystem::path SoundWithCover(const std::string& name, const std::string& audio_codec) {
  const std::filesystem::path picture = CoverPicture();
  if (picture.empty()) return {};
  return Fixture(name, "-f lavfi -i sine=duration=1 -i " + Quoted(picture) + " -map 0 -map 1 -c:a " +
                           audio_codec + " -c:v png -disposition:v attached_pic");
}

// 1 s of 160x120 MPEG-4 video at 24 fps with AAC sound and CoverPicture() as attached picture, in MP4; the
// container puts the cover last (stream 2).
inline std::filesystem::path VideoWithCover() {
  const std::filesystem::path picture = CoverPicture();
  if (picture.empty()) return {};
  return Fixture("video_with_cover.mp4",
                 "-f lavfi -i testsrc=size=160x120:rate=24:duration=1 -f lavfi -i sine=duration=1 -i " +
                     Quoted(picture) +
                     " -map 0 -map 1 -map 2 -c:v:0 mpeg4 -c:a aac -c:v:1 png -disposition:v:1 attached_pic");
}

// 1 s of 320x240 MPEG-4 video at 25 fps with AAC sound and a SubRip track that shows "Hello" from 0 to 0.8 s,
// in Matroska.
inline std::filesystem::path SubRipMatroska() {
  const std::filesystem::path text = WrittenFixture("hello.srt", "1\n00:00:00,000 --> 00:00:00,800\nHello\n");
  return Fixture("subrip.mkv",
                 "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i sine=duration=1 -i " +
                     Quoted(text) + " -map 0 -map 1 -map 2 -c:v mpeg4 -c:a aac -c:s srt");
}

// The same clip with a DVD (picture) subtitle instead: a 16x4 white box from 0 s, shown until the next
// subtitle (its packet's duration is the "no end" mark), drawn from a hand-made PGS file.
inline std::filesystem::path PictureSubtitleMatroska() {
  const auto bytes = [](std::initializer_list<int> values) {
    std::string text;
    for (const int value : values)
      text += static_cast<char>(value);
    return text;
  };
  // A PGS segment: "PG", presentation and decoding time (90 kHz), type, payload size, payload.
  const auto segment = [&bytes](int pts, int type, const std::string& payload) {
    const int size = static_cast<int>(payload.size());
    return bytes({'P', 'G', (pts >> 24) & 255, (pts >> 16) & 255, (pts >> 8) & 255, pts & 255, 0, 0, 0, 0,
                  type, size >> 8, size & 255}) +
           payload;
  };
  std::string lines;
  for (int line = 0; line < 4; ++line)
    lines += std::string(16, '\x01') + std::string(2, '\0');  // 16 pixels of colour 1, end of line
  const int object_size = static_cast<int>(lines.size()) + 4;
  // A 320x240 screen composed of one object at (100,200): composition, window, palette, object, end; at 0.8 s
  // an empty composition clears it.
  const std::string pgs =
      segment(0, 0x16, bytes({1, 64, 0, 240, 0x10, 0, 1, 0x80, 0, 0, 1, 0, 0, 0, 0, 0, 100, 0, 200})) +
      segment(0, 0x17, bytes({1, 0, 0, 100, 0, 200, 0, 16, 0, 4})) +
      segment(0, 0x14, bytes({0, 0, 1, 235, 128, 128, 255})) +
      segment(0, 0x15,
              bytes({0, 0, 0, 0xC0, (object_size >> 16) & 255, (object_size >> 8) & 255, object_size & 255, 0,
                     16, 0, 4}) +
                  lines) +
      segment(0, 0x80, "") + segment(72000, 0x16, bytes({1, 64, 0, 240, 0x10, 0, 2, 0, 0, 0, 0})) +
      segment(72000, 0x17, bytes({1, 0, 0, 100, 0, 200, 0, 16, 0, 4})) + segment(72000, 0x80, "");
  return Fixture("dvd_subtitle.mkv",
                 "-f lavfi -i testsrc=size=320x240:rate=25:duration=1 -f lavfi -i "
                 "sine=duration=1 -i " +
                     Quoted(WrittenFixture("box.sup", pgs)) +
                     " -map 0 -map 1 -map 2 -c:v mpeg4 -c:a aac -c:s dvdsub");
}

struct StreamFacts {
  std::string Kind;  // "video", "audio", "subtitle", "data"
  std::string Codec;
  double Duration = 0;  // seconds; 0 when ffprobe gives none
  int Packets = 0;
};

// The streams of a file as ffprobe sees them, with each stream's duration measured from its packets.
inline std::vector<StreamFacts> ProbeStreams(const std::filesystem::path& path) {
  std::vector<StreamFacts> streams;
  const CommandResult listed =
      RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 " + Quoted(path) +
                 " 2>/dev/null");
  std::istringstream lines(listed.Output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    StreamFacts facts;
    // "codec,kind" and, for some streams, further fields after another comma.
    std::istringstream fields(line);
    std::getline(fields, facts.Codec, ',');
    std::getline(fields, facts.Kind, ',');
    streams.push_back(facts);
  }
  for (std::size_t index = 0; index < streams.size(); ++index) {
    // First packet's start to last packet's end.
    const CommandResult packets = RunCommand("ffprobe -v error -select_streams " + std::to_string(index) +
                                             " -show_entries packet=pts_time,duration_time -of csv=p=0 " +
                                             Quoted(path) + " 2>/dev/null");
    std::istringstream rows(packets.Output);
    double first = 1e100;
    double last_end = -1e100;
    while (std::getline(rows, line)) {
      const std::size_t comma = line.find(',');
      if (line.empty() || comma == std::string::npos) continue;
      try {
        const double pts = std::stod(line.substr(0, comma));
        const std::string duration_text = line.substr(comma + 1);
        const double duration =
            duration_text.empty() || duration_text == "N/A" ? 0 : std::stod(duration_text);
        first = std::min(first, pts);
        last_end = std::max(last_end, pts + duration);
        ++streams[index].Packets;
      } catch (const std::exception&) {
      }
    }
    if (streams[index].Packets > 0) streams[index].Duration = last_end - first;
  }
  return streams;
}

// Decodes every stream of the file completely; true when ffmpeg reports no error at all.
inline bool DecodesCleanly(const std::filesystem::path& path) {
  const CommandResult decoded =
      RunCommand("ffmpeg -nostdin -v error -xerror -i " + Quoted(path) + " -f null - 2>&1");
  return decoded.Status == 0 && decoded.Output.empty();
}

// The first subtitle stream of a file decoded by ffprobe: whether that went without a word of error, and each
// subtitle's start (seconds) and number of regions.
struct SubtitleFrames {
  bool Clean = false;
  std::vector<std::pair<double, int>> Shown;
};

inline SubtitleFrames DecodeSubtitles(const std::filesystem::path& path) {
  SubtitleFrames frames;
  const CommandResult listed = RunCommand(
      "ffprobe -v error -select_streams s:0 -show_frames -show_entries subtitle=pts_time,num_rects -of "
      "csv=p=0 " +
      Quoted(path) + " 2>&1");
  frames.Clean = listed.Status == 0;
  std::istringstream lines(listed.Output);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t comma = line.find(',');
    try {
      if (comma == std::string::npos) throw std::invalid_argument(line);
      frames.Shown.emplace_back(std::stod(line.substr(0, comma)), std::stoi(line.substr(comma + 1)));
    } catch (const std::exception&) {
      frames.Clean = false;  // a line that is no subtitle is ffprobe's complaint
    }
  }
  return frames;
}

// The text of the first subtitle stream, converted to SubRip by ffmpeg ("" when it cannot be read).
inline std::string SubtitleText(const std::filesystem::path& path) {
  return RunCommand("ffmpeg -nostdin -v error -i " + Quoted(path) + " -map 0:s:0 -f srt - 2>/dev/null")
      .Output;
}

// The checksum of every packet of the selected stream ("v:0", "a:0"), in order.
inline std::vector<std::string> PacketChecksums(const std::filesystem::path& path,
                                                const std::string& stream) {
  const CommandResult listed = RunCommand("ffmpeg -nostdin -v error -i " + Quoted(path) +
                                          " -map 0:" + stream + " -c copy -f framemd5 - 2>/dev/null");
  std::vector<std::string> sums;
  std::istringstream lines(listed.Output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    // stream, dts, pts, duration, size, hash[, side data...]
    std::istringstream fields(line);
    std::string field;
    for (int index = 0; index < 6 && std::getline(fields, field, ','); ++index) {
    }
    sums.push_back(field.substr(field.find_first_not_of(' ')));
  }
  return sums;
}

}  // namespace media_test

namespace media_test {

// One entry of one stream ("v:0", "a:0") as ffprobe prints it ("width", "sample_rate", "bit_rate").
inline std::string StreamEntry(const std::filesystem::path& path, const std::string& stream,
                               const std::string& entry) {
  std::string value =
      RunCommand("ffprobe -v error -select_streams " + stream + " -show_entries stream=" + entry +
                 " -of default=noprint_wrappers=1:nokey=1 " + Quoted(path) + " 2>/dev/null")
          .Output;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
    value.pop_back();
  return value.substr(0, value.find('\n'));
}

}  // namespace media_test
