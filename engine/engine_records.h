// The records that cross the engine component's interface.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "runtime/bitmap.h"

namespace engine {

// Marks an Int64 time as unset inside the engine.
inline constexpr std::int64_t kUnsetTime = std::numeric_limits<std::int64_t>::min();

// A colour as 0x00BBGGRR.
using TColor = std::uint32_t;

enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Options of one input file.
struct TInputOptions {
  std::string FileName;                 // empty: AddTask writes its file-name argument here
  std::string FileFormat;               // forces the input format
  std::int64_t StartTime = kUnsetTime;  // microseconds: the input is entered here
  int ProgramID = -1;                   // 0 or more: only this program is read
  std::string ExtOptions;               // name=value lines
};

// Metadata written into an output file.
struct TStreamInfo {
  double Timestamp = -1.0;  // days since 1899-12-30, local time; 0: now; negative: no creation time
  int Year = -1;
  int Track = -1;
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

// Options of one output file. Integers at their cleared value (-1, empty) are not applied.
struct TOutputOptions {
  std::string FileName;
  std::string FileFormat;
  int PacketSize = -1;
  int MuxRate = -1;
  float MuxDelay = -1.0F;    // seconds
  float MuxPreload = -1.0F;  // seconds
  std::string AudioCodec;
  std::string AudioPreset;
  bool DisableAudio = false;
  int AudioVolume = -1;  // 256 = unchanged
  int AudioChannels = -1;
  int AudioSampleRate = -1;
  int AudioBitrate = -1;
  int AudioBitrateTolerance = -1;
  std::string AudioLanguage;
  int AudioSyncMethod = 0;
  std::string AudioTag;
  std::string VideoCodec;
  std::string VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate;
  std::string FrameSize;
  std::string FrameAspectRatio;
  int CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
  int PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
  TColor PadColor = 0;
  int GopSize = -1;
  int VideoBitrate = -1;
  int VideoMaxRate = -1;
  int VideoMinRate = -1;
  int VideoBitrateTolerance = -1;
  int VideoBufSize = -1;
  int VideoSyncMethod = -1;
  std::string VideoTag;
  std::string VideoFilters;
  std::string VideoLanguage;
  std::string SubtitleCodec;
  std::string SubtitlePreset;
  bool DisableSubtitle = false;
  std::string SubtitleLanguage;
  bool CopyTimestamps = false;
  std::int64_t StartTime = kUnsetTime;      // microseconds
  std::int64_t RecordingTime = kUnsetTime;  // microseconds
  TStreamInfo Info;
  int Target = 0;              // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int TargetNorm = 0;          // 0 "auto", 1 "pal", 2 "ntsc"
  int TargetFallbackNorm = 1;  // 1 "pal", else "ntsc"
  bool CustomHook = false;
  bool Join = false;
  bool RecordingTimeByMax = false;
  std::string ExtOptions;
};

struct TProgressInfo {
  int TaskIndex = 0;
  int FileIndex = 0;    // -1 in a task's final report
  int FrameNumber = 0;  // -1 without video
  int FPS = 0;          // -1 without video
  float Quality = 0.0F;
  float BitRate = 0.0F;  // kbit/s
  std::int64_t CurrentSize = 0;
  std::int64_t CurrentDuration = 0;  // microseconds
  std::int64_t TotalDuration = 0;    // microseconds, -1 if unknown
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
  int TaskIndex = 0;  // -1: all tasks are done
  bool Finished = false;
  bool ExceptionRaised = false;
  std::string ExceptionMessage;
};

struct TPreviewInfo {
  int TaskIndex = 0;
  const runtime::Bitmap* Bitmap = nullptr;  // owned by the task, valid during the event only
  int FrameNumber = 0;
  std::int64_t PTS = 0;  // microseconds
};

struct THookInfo {
  int TaskIndex = 0;
  runtime::Bitmap* Bitmap = nullptr;  // the current frame; the handler may draw on it
  int FrameNumber = 0;
  std::int64_t PTS = 0;
  bool Update = true;     // copy the bitmap back into the frame afterwards
  bool StopHook = false;  // no more hook calls for this task
};
using PHookInfo = THookInfo*;

inline void InitInputOptions(TInputOptions& options) {
  options = TInputOptions{};
}
inline void InitOutputOptions(TOutputOptions& options) {
  options = TOutputOptions{};
}

}  // namespace engine
