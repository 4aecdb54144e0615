// The pending values of a task: what its options have set so far. Opening an input consumes some of them,
// creating an output stream others, and the conversion reads the rest.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace engine {

// "map": an input stream for the next output stream, with the stream it is synchronised to.
struct TStreamMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int SyncFileIndex = 0;
  int SyncStreamIndex = 0;
  friend bool operator==(const TStreamMap&, const TStreamMap&) = default;
};

// Whether one of the maps feeds an output stream from the given input stream.
inline bool MapsInputStream(const std::vector<TStreamMap>& maps, int file, int stream) {
  for (const TStreamMap& map : maps) {
    if (map.FileIndex == file && map.StreamIndex == stream) return true;
  }
  return false;
}

// "map_meta_data": which input's metadata an output receives.
struct TMetaDataMap {
  int OutFile = 0;
  int InFile = 0;
  friend bool operator==(const TMetaDataMap&, const TMetaDataMap&) = default;
};

struct TYuvColor {
  int Y = 16;
  int U = 128;
  int V = 128;
  friend bool operator==(const TYuvColor&, const TYuvColor&) = default;
};

using TQuantizerMatrix = std::array<std::uint16_t, 64>;

// Indexes of MaxFrames.
enum TFrameLimitKind : int { flVideo = 0, flAudio = 1, flData = 2, flSubtitle = 3 };

inline constexpr int kMaxStreamMaps = 400;
inline constexpr int kMaxMetaDataMaps = 20;
// Streams per input that "itsscale" can address.
inline constexpr int kMaxScaledStreams = 20;

struct TPendingValues {
  // Video.
  int FrameWidth = 0;
  int FrameHeight = 0;
  float FrameAspectRatio = 0;  // 0: not given
  int FramePixFmt = -1;        // AVPixelFormat; -1: none
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  TYuvColor PadColor;
  int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
  std::array<int, 4> MaxFrames{INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  AVRational FrameRate{0, 0};  // 0/0: not given
  float VideoQScale = 0;       // 0: not given
  std::optional<TQuantizerMatrix> IntraMatrix;
  std::optional<TQuantizerMatrix> InterMatrix;
  std::optional<std::string> RcOverride;
  bool DisableVideo = false;
  int VideoDiscard = 0;
  std::optional<std::string> VideoCodecName;
  bool VideoStreamCopy = false;
  std::uint32_t VideoCodecTag = 0;
  std::string VideoLanguage;
  bool SameQuality = false;
  bool Deinterlace = false;
  int TopFieldFirst = -1;  // -1: as the source
  int MeThreshold = 0;
  int IntraDcPrecision = 8;
  bool QpHistogram = false;
  std::string VideoFilters;
  bool IntraOnly = false;
  bool ForceFps = false;
  int VideoGlobalHeader = 0;
  int VideoChannel = 0;
  std::optional<std::string> VideoStandard;
  bool PgmYuvCompat = false;
  int VideoSyncMethod = -1;

  // Audio.
  int AudioSampleRate = 44100;
  int AudioChannels = 2;
  std::int64_t ChannelLayout = 0;
  int AudioSampleFmt = -1;  // AVSampleFormat; -1: none
  float AudioQScale = -99999.0F;
  bool DisableAudio = false;
  std::optional<std::string> AudioCodecName;
  bool AudioStreamCopy = false;
  std::uint32_t AudioCodecTag = 0;
  std::string AudioLanguage;
  int AudioVolume = 256;  // 256: unchanged
  int AudioSyncMethod = 0;
  float AudioDriftThreshold = 0.1F;

  // Subtitles.
  bool DisableSubtitle = false;
  std::optional<std::string> SubtitleCodecName;
  bool SubtitleStreamCopy = false;
  std::uint32_t SubtitleCodecTag = 0;
  std::string SubtitleLanguage;

  // Files, timing and muxing.
  std::string FileFormat;
  float MuxPreload = 0.5F;                 // seconds
  float MuxMaxDelay = 0.7F;                // seconds
  std::int64_t RecordingTime = INT64_MAX;  // microseconds; INT64_MAX: no limit
  double RecordingTimeSeconds = static_cast<double>(INT64_MAX) / 1e6;
  std::int64_t StartTime = 0;     // microseconds
  std::int64_t RecTimestamp = 0;  // seconds since 1970
  std::int64_t InputTsOffset = 0;
  // (input file index, stream index) -> scale; absent: no scaling.
  std::map<std::pair<int, int>, double> InputTsScale;
  std::vector<std::pair<std::string, std::string>> Metadata;
  bool CopyTs = false;
  bool Shortest = false;
  int Pipeline = 1;  // 0: every stage of the run on the task's one thread
  float DtsDeltaThreshold = 10.0F;
  std::int64_t LimitFileSize = 0;  // bytes; 0: no limit
  int ProgramID = 0;
  int CopyInitialNonKeyframes = 0;
  bool RateEmulation = false;
  bool InputSync = false;
  bool ExitOnError = false;
  bool LoopInput = false;
  int LoopOutput = -1;
  std::vector<TStreamMap> StreamMaps;
  std::vector<TMetaDataMap> MetaDataMaps;
  // Bitstream filter names in the order given; each new stream of the kind takes the chain over.
  std::vector<std::string> VideoBitstreamFilters;
  std::vector<std::string> AudioBitstreamFilters;
  std::vector<std::string> SubtitleBitstreamFilters;
  bool HookModulesLoaded = false;  // "vhook" loaded a frame hook module
  // Private options of the output's muxer ("muxrate"), applied when the output is written.
  std::map<std::string, std::string> MuxerOptions;

  // Diagnostics and run control.
  int Verbosity = 1;
  bool HexDump = false;
  bool PacketDump = false;
  bool DoPsnr = false;
  int PassNumber = 0;
  std::string PassLogFile;
  std::optional<std::string> VstatsFileName;
  int ThreadCount = 0;  // 0: one thread per core
  int ScalerFlags = SWS_BICUBIC;
  int BitBufferSize = 262144;
};

}  // namespace engine
