// The media probe: what a media file holds (the container's times, bit rate and tags, the streams of each
// kind, a video stream's picture properties) without decoding it. A probe either opens a file itself and owns
// the container, or is attached to a container another part opened and never closes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/file_io.h"
#include "runtime/log_source.h"
#include "runtime/media_owners.h"

namespace probe {

// The container's properties. Times in microseconds.
struct TFileStreamInfo {
  std::int64_t StartTime = -1;  // -1 when the container has none
  std::int64_t Duration = -1;   // -1 when the container has none
  std::int32_t BitRate = -1;    // bits per second; 0 when the container does not know it
  std::int64_t Timestamp = -1;  // this library generation keeps no such field: always -1
  std::int32_t Year = -1;       // from the "date" (or "year") tag; -1 without one
  std::int32_t Track = -1;      // from the "track" tag ("3/12" gives 3); -1 without one
  std::string Title;
  std::string Author;  // the "author" tag, else the "artist" tag that most containers use now
  std::string Copyright;
  std::string Comment;
  std::string Album;
  std::string Genre;
};

// A video stream's properties. Integers are -1 and strings empty where the stream gives nothing.
struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;        // decoder side, as runtime::CodecNameText gives it
  std::int64_t StartTime = -1;  // in the stream's time base; AV_NOPTS_VALUE when the stream has none
  std::int64_t StartTimeUS = -1;
  std::int64_t Duration = -1;  // in the stream's time base; AV_NOPTS_VALUE when the stream has none
  std::int64_t DurationUS = -1;
  std::int32_t BitRate = -1;
  std::int32_t Height = -1;
  std::int32_t Width = -1;
  float DisplayAspectRatio = -1.0F;  // -1 when the picture has no height
  std::int32_t PixelFormat = -1;
  std::int32_t FrameRateNum = -1;
  std::int32_t FrameRateDen = -1;
};

// Any stream in brief, for listing what a file holds.
struct TStreamSummary {
  std::string Kind;              // runtime::StreamKindName: "Video", "Audio", ...
  std::string CodecName;         // decoder side, as runtime::CodecNameText gives it
  std::string CodecId;           // the codec's registered short name ("h264", "mp3"); empty when unknown
  std::int64_t DurationUS = -1;  // the stream's own length; -1 when the container gives none
  std::int32_t BitRate = -1;
  std::int32_t Width = -1;  // video only
  std::int32_t Height = -1;
  std::int32_t FrameRateNum = -1;
  std::int32_t FrameRateDen = -1;
  std::int32_t SampleRate = -1;  // audio only
  std::int32_t Channels = -1;
};

// Threads: a probe is used by one thread at a time; several probes may work on several threads at once.
class TCustomAVProbe : public runtime::TFFBaseComponent {
 public:
  TCustomAVProbe();
  ~TCustomAVProbe() override;
  TCustomAVProbe(const TCustomAVProbe&) = delete;
  TCustomAVProbe& operator=(const TCustomAVProbe&) = delete;

  std::string LogSourceName() const override { return "TAVProbe"; }

  // Opens and analyses a file (UTF-8 name) with the named input format, or any when empty. False on failure,
  // with LastError() saying why; the probe is then closed. Throws std::runtime_error when a needed library
  // is not bound.
  bool Open(const std::string& file_name, const std::string& input_format_name = {});
  // Analyses a container opened elsewhere; the probe never closes it. It must stay open while the probe is
  // attached. Throws std::runtime_error when a needed library is not bound.
  void Attach(AVFormatContext* context);
  // Releases the container (closing it only when the probe opened it) and resets every read-out to -1.
  void Close();

  // False (record reset, "file not loaded." reported) when nothing is open.
  bool GetFileStreamInfo(TFileStreamInfo& info);
  // index -1: the first video stream. False, with the record reset and the reason reported, when there is
  // no such video stream.
  bool GetVideoStreamInfo(int index, TVideoStreamInfo& info);
  // False (record reset, reason reported) when nothing is open or the index names no stream.
  bool GetStreamSummary(int index, TStreamSummary& summary);

  // How long the open file lasts, in microseconds: the container's duration, unless the container gives
  // none or the library only estimated it from the bit rate; then the end of the last packet, read through
  // the whole file (0 when no packet has a time). Nothing when nothing is open, a read fails or reading
  // takes longer than budget. Call it last: it moves the read position.
  std::optional<std::int64_t> MeasureDuration(std::chrono::milliseconds budget);

  AVFormatContext* FormatContext() const { return context_; }
  bool Owned() const { return owned_format_ != nullptr; }
  const std::string& LastError() const { return last_error_; }
  const std::string& InputFormatName() const { return input_format_name_; }
  // The demuxer's name ("mov,mp4,m4a,3gp,3g2,mj2", "mpeg"); empty when nothing is open.
  std::string ContainerFormatName() const;

  std::int64_t FileSize() const { return file_size_; }
  int StreamCount() const { return stream_count_; }
  int ProgramCount() const { return program_count_; }
  int AudioStreamCount() const { return audio_stream_count_; }
  int VideoStreamCount() const { return video_stream_count_; }
  int SubtitleStreamCount() const { return subtitle_stream_count_; }
  int FirstAudioStream() const { return first_audio_stream_; }
  int FirstVideoStream() const { return first_video_stream_; }
  int FirstSubtitleStream() const { return first_subtitle_stream_; }
  // The video streams that are pictures to convert: VideoStreamCount and FirstVideoStream without the
  // attached pictures (cover art). -1 while nothing is open; the first is -1 when there is none.
  int NonCoverVideoStreamCount() const { return non_cover_video_stream_count_; }
  int FirstNonCoverVideoStream() const { return first_non_cover_video_stream_; }
  // Whether the stream at index is a video stream marked as an attached picture (cover art); false when
  // nothing is open or the index names no stream.
  bool IsAttachedPicture(int index) const;

 private:
  void CheckLibraries() const;
  void Analyse();
  void ReportError(int library_level, const std::string& text);
  // The stream at index, or null with the reason reported.
  const AVStream* StreamAt(int index);

  // The demuxer reads through io_, so it is declared after it and closed first.
  runtime::FileIoPtr io_;
  runtime::InputFormatPtr owned_format_;
  AVFormatContext* context_ = nullptr;  // owned_format_'s context, or an attached one
  std::string last_error_;
  std::string input_format_name_;

  std::int64_t file_size_ = -1;
  int stream_count_ = -1;
  int program_count_ = -1;
  int audio_stream_count_ = -1;
  int video_stream_count_ = -1;
  int subtitle_stream_count_ = -1;
  int first_audio_stream_ = -1;
  int first_video_stream_ = -1;
  int first_subtitle_stream_ = -1;
  int non_cover_video_stream_count_ = -1;
  int first_non_cover_video_stream_ = -1;
};

class TAVProbe final : public TCustomAVProbe {};

// Closes a probe that a caller borrowed for one reading when the reading is over, however it ends.
class ProbeCloser {
 public:
  explicit ProbeCloser(TCustomAVProbe& probe) : probe_(probe) {}
  ~ProbeCloser() { probe_.Close(); }
  ProbeCloser(const ProbeCloser&) = delete;
  ProbeCloser& operator=(const ProbeCloser&) = delete;

 private:
  TCustomAVProbe& probe_;
};

}  // namespace probe
