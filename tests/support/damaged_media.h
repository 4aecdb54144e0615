// Damaged media for the tests that every consumer of files (probe, engine, tarvello-convert, the window's
// intake, the player) must survive: a small clean file of every container the program reads, made with the
// ffmpeg tool, and from it copies cut short, with flipped bytes or replaced by noise; files with awkward
// names or no content; and the changes a file may undergo while it is being read.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/media_fixtures.h"

namespace damaged_media {

// A clean source: its container's extension, whether it has a picture, and the ffmpeg arguments that make it
// (1 s of 128x96 at 15 fps and/or mono sound, so that damage falls on headers, index and data alike).
struct Source {
  const char* Extension;
  bool Video;
  const char* Arguments;
};

#define DAMAGED_MEDIA_PICTURE "-f lavfi -i testsrc=size=128x96:rate=15:duration=1 "
#define DAMAGED_MEDIA_SOUND "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 -ac 1 "

inline const std::vector<Source>& Sources() {
  static const std::vector<Source> sources{
      {"avi", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v mpeg4 -c:a libmp3lame"},
      {"mp4", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v libx264 -preset ultrafast -g 8 -c:a aac"},
      {"mov", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v mpeg4 -c:a pcm_s16le"},
      {"mkv", true,
       DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v libx264 -preset ultrafast -c:a libvorbis"},
      {"flv", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v flv -c:a libmp3lame"},
      {"mpg", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v mpeg1video -r 25 -c:a mp2 -f mpeg"},
      {"vob", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v mpeg2video -c:a ac3 -f vob"},
      {"ts", true,
       DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v libx264 -preset ultrafast -c:a aac -f mpegts"},
      {"3gp", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v h263 -c:a aac"},
      {"wmv", true, DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND "-c:v wmv2 -c:a wmav2"},
      {"webm", true,
       DAMAGED_MEDIA_PICTURE DAMAGED_MEDIA_SOUND
       "-c:v libvpx -deadline realtime -cpu-used 8 -c:a libopus -ar 48000"},
      {"ogg", false, DAMAGED_MEDIA_SOUND "-c:a libvorbis"},
      {"mp3", false, DAMAGED_MEDIA_SOUND "-c:a libmp3lame"},
      {"wav", false, DAMAGED_MEDIA_SOUND "-c:a pcm_s16le"},
      {"aac", false, DAMAGED_MEDIA_SOUND "-c:a aac -f adts"},
      {"m4a", false, DAMAGED_MEDIA_SOUND "-c:a aac"},
      {"ac3", false, DAMAGED_MEDIA_SOUND "-c:a ac3"},
      {"flac", false, DAMAGED_MEDIA_SOUND "-c:a flac"},
  };
  return sources;
}

#undef DAMAGED_MEDIA_PICTURE
#undef DAMAGED_MEDIA_SOUND

// How test names show a source.
inline void PrintTo(const Source& source, std::ostream* out) {
  *out << source.Extension;
}

inline const Source* FindSource(const std::string& extension) {
  for (const Source& source : Sources())
    if (extension == source.Extension) return &source;
  return nullptr;
}

// The clean file, shared by every test of the build; empty when the tool could not make it.
inline std::filesystem::path CleanFile(const Source& source) {
  return media_test::Fixture(std::string("damage_source.") + source.Extension, source.Arguments);
}

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return {};
  std::string bytes(size, '\0');
  std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// How a copy is damaged.
struct Damage {
  enum Kind { kTruncated, kFlipped, kNoise };
  Kind Type;
  int Amount;  // kTruncated: the percentage kept; kFlipped: the seed
  std::string Name() const {
    switch (Type) {
      case kTruncated:
        return "cut_at_" + std::to_string(Amount) + "pc";
      case kFlipped:
        return "flipped_seed_" + std::to_string(Amount);
      case kNoise:
        break;
    }
    return "noise";
  }
};

inline const std::vector<Damage>& Damages() {
  static const std::vector<Damage> damages{
      {Damage::kTruncated, 1},  {Damage::kTruncated, 10}, {Damage::kTruncated, 50},
      {Damage::kTruncated, 90}, {Damage::kTruncated, 99}, {Damage::kFlipped, 1},
      {Damage::kFlipped, 2},    {Damage::kFlipped, 3},    {Damage::kNoise, 0},
  };
  return damages;
}

// The clean bytes with the damage done: cut to the percentage; one byte in 2 KiB (at least 4) changed at
// positions the seed picks; or as many pseudo-random bytes as the file has.
inline std::string Damaged(const std::string& clean, const Damage& damage) {
  switch (damage.Type) {
    case Damage::kTruncated:
      return clean.substr(0, clean.size() * static_cast<std::size_t>(damage.Amount) / 100);
    case Damage::kFlipped: {
      std::string bytes = clean;
      std::mt19937 random(static_cast<std::mt19937::result_type>(damage.Amount));
      const std::size_t flips = std::max<std::size_t>(4, bytes.size() / 2048);
      for (std::size_t flip = 0; flip < flips && !bytes.empty(); ++flip) {
        const std::size_t at = random() % bytes.size();
        bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random() % 255));
      }
      return bytes;
    }
    case Damage::kNoise:
      break;
  }
  std::string bytes(clean.size(), '\0');
  std::mt19937 random(99);
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

struct DamagedFile {
  std::string Label;  // "mp4 cut_at_50pc"
  std::filesystem::path Path;
};

// Every damaged copy of the source's clean file, written into folder, named after its damage with the
// source's extension. Empty when the clean file could not be made.
inline std::vector<DamagedFile> DamagedCopies(const Source& source, const std::filesystem::path& folder) {
  const std::filesystem::path clean = CleanFile(source);
  if (clean.empty()) return {};
  const std::string bytes = ReadBytes(clean);
  std::vector<DamagedFile> files;
  for (const Damage& damage : Damages()) {
    const std::filesystem::path path = folder / (damage.Name() + "." + source.Extension);
    WriteBytes(path, Damaged(bytes, damage));
    files.push_back({std::string(source.Extension) + " " + damage.Name(), path});
  }
  return files;
}

// Files that are odd before their content is read: an empty file and a folder with media names, a clean
// file whose name is not valid UTF-8, and one whose name is as long as a name can be (255 bytes, so that
// an output named after it with a longer extension cannot be made).
inline std::vector<DamagedFile> AwkwardFiles(const std::filesystem::path& folder) {
  std::vector<DamagedFile> files;
  files.push_back({"empty file", folder / "empty.mp4"});
  WriteBytes(files.back().Path, "");
  files.push_back({"folder with a media name", folder / "folder.mkv"});
  std::filesystem::create_directories(files.back().Path);
  const std::string avi = ReadBytes(CleanFile(*FindSource("avi")));
  files.push_back({"name not valid UTF-8", folder / "bad\xff\xfe name \xc3(.avi"});
  WriteBytes(files.back().Path, avi);
  const std::string ts = ReadBytes(CleanFile(*FindSource("ts")));
  files.push_back({"name of 255 bytes", folder / (std::string(252, 'n') + ".ts")});
  WriteBytes(files.back().Path, ts);
  return files;
}

// What happens to a file while a consumer reads it.
enum class Change { kDeleted, kReplaced, kCutInPlace, kOverwrittenInPlace };

struct ChangeCase {
  const char* Name;
  Change What;
};

inline const std::vector<ChangeCase>& Changes() {
  static const std::vector<ChangeCase> changes{
      {"deleted", Change::kDeleted},
      {"replaced by another file", Change::kReplaced},
      {"cut short in place", Change::kCutInPlace},
      {"overwritten in place", Change::kOverwrittenInPlace},
  };
  return changes;
}

// Does the change to the file: unlinks it; renames noise over it (a new file under the name, the old one
// still open); truncates the same file to a tenth; or writes noise over its bytes in place.
inline void ApplyChange(const std::filesystem::path& path, Change change) {
  std::error_code error;
  switch (change) {
    case Change::kDeleted:
      std::filesystem::remove(path, error);
      break;
    case Change::kReplaced: {
      const std::filesystem::path other = path.string() + ".new";
      WriteBytes(other, Damaged(std::string(64 * 1024, '\0'), {Damage::kNoise, 0}));
      std::filesystem::rename(other, path, error);
      break;
    }
    case Change::kCutInPlace: {
      const auto size = std::filesystem::file_size(path, error);
      if (!error) ::truncate(path.c_str(), static_cast<off_t>(size / 10));
      break;
    }
    case Change::kOverwrittenInPlace: {
      const auto size = std::filesystem::file_size(path, error);
      if (error) break;
      // Not truncated first: the bytes change under the reader, the size stays.
      std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
      out << Damaged(std::string(size, '\0'), {Damage::kNoise, 0});
      break;
    }
  }
}

// A longer clean file for the changes while reading: 8 s of 160x120 MPEG-4 with MP3 sound in AVI.
inline std::filesystem::path LongerFile() {
  return media_test::Fixture("damage_longer.avi",
                             "-f lavfi -i testsrc=size=160x120:rate=25:duration=8 -f lavfi -i "
                             "sine=frequency=440:duration=8 -ac 1 -c:v mpeg4 -c:a libmp3lame -shortest");
}

// A copy of `clean` of the test's own, to be changed.
inline std::filesystem::path OwnCopy(const std::filesystem::path& clean,
                                     const std::filesystem::path& target) {
  WriteBytes(target, ReadBytes(clean));
  return target;
}

}  // namespace damaged_media

namespace damaged_media {

// Why a file is no output a reader opens, or "" when ffprobe finds its streams.
inline std::string WhyNotReadable(const std::filesystem::path& output) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(output, error)) return "there is no output file";
  const media_test::CommandResult streams = media_test::RunCommand(
      "ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + media_test::Quoted(output) + " 2>&1");
  if (streams.Status != 0 || streams.Output.empty()) return "ffprobe finds no stream in the output";
  return {};
}

// Why a file a consumer called done is no good output, or "" when ffprobe finds its streams and the ffmpeg
// tool decodes all of it without a word of error.
inline std::string WhyNotDecodable(const std::filesystem::path& output) {
  if (std::string problem = WhyNotReadable(output); !problem.empty()) return problem;
  if (!media_test::DecodesCleanly(output)) return "the output does not decode cleanly";
  return {};
}

// Calls `act` on a thread of its own once `file` has grown to `bytes` (or when told to give up).
class WhenFileGrows {
 public:
  WhenFileGrows(std::filesystem::path file, std::uintmax_t bytes, std::function<void()> act)
      : thread_([this, file = std::move(file), bytes, act = std::move(act)] {
          while (!give_up_) {
            std::error_code error;
            if (std::filesystem::file_size(file, error) >= bytes && !error) {
              act();
              acted_ = true;
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        }) {}
  ~WhenFileGrows() { GiveUp(); }
  WhenFileGrows(const WhenFileGrows&) = delete;
  WhenFileGrows& operator=(const WhenFileGrows&) = delete;
  // Ends the watch; true when it acted.
  bool GiveUp() {
    give_up_ = true;
    if (thread_.joinable()) thread_.join();
    return acted_;
  }

 private:
  std::atomic<bool> give_up_{false};
  std::atomic<bool> acted_{false};
  std::thread thread_;
};

}  // namespace damaged_media
