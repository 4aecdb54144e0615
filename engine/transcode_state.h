// The state of one conversion run, from the stream mapping to the written trailers. Owned by the task; in a
// one-thread run touched only by the thread that runs it, in a pipelined run shared by its stages as the
// fields say.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/amr_nb_encoder.h"
#include "engine/video_filter_graph.h"
#include "runtime/media_owners.h"

namespace engine {

inline constexpr std::int64_t kNoTime = INT64_MIN;  // AV_NOPTS_VALUE
inline constexpr int kAmrFrameSamples = AmrNbEncoder::kFrameSamples;

// A value one thread writes and others read (progress, limits), for the tables' vectors: copyable, relaxed.
template <class T>
class Published {
 public:
  Published(T value = T{}) : value_(value) {}  // NOLINT(google-explicit-constructor): used as the value
  Published(const Published& other) : value_(other.Get()) {}
  Published& operator=(const Published& other) {
    Set(other.Get());
    return *this;
  }
  Published& operator=(T value) {
    Set(value);
    return *this;
  }
  operator T() const { return Get(); }  // NOLINT(google-explicit-constructor)
  T Get() const { return value_.load(std::memory_order_relaxed); }
  void Set(T value) { value_.store(value, std::memory_order_relaxed); }
  // Only its one writer changes it, so a read and a store make the step.
  Published& operator+=(T step) {
    Set(Get() + step);
    return *this;
  }
  Published& operator++() { return *this += T{1}; }

 private:
  std::atomic<T> value_;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct TInputFileState {
  bool EndOfFile = false;
  bool NoPacket = false;  // the last read answered "try again"
  int FirstStream = 0;    // position of the file's first stream in the input stream table
  int StreamCount = 0;
  // Where the file starts and ends by its container's own account, on the run's clock (microseconds, the
  // file's offset applied); kNoTime when the container does not know its length or only guessed it from
  // the bit rate. A frame far beyond that end cannot be a gap in the recording.
  std::int64_t KnownStart = kNoTime;
  std::int64_t KnownEnd = kNoTime;
  // The format declares that its times may jump (MPEG-TS, MPEG-PS): a jump beyond the discontinuity
  // threshold is a discontinuity, not a gap.
  bool DiscontinuousTimes = false;
};

struct TInputStreamState {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream* Stream = nullptr;
  AVCodecContext* Decoder = nullptr;  // owned by the input's stream set-up
  const AVCodec* ForcedDecoder = nullptr;
  bool Discard = true;  // no output stream is fed from this stream
  bool DecodingNeeded = false;
  bool DecoderOpen = false;
  std::int64_t StartTime = 0;      // wall clock at the start, for rate emulation
  std::int64_t NextPts = kNoTime;  // microseconds
  std::int64_t Pts = 0;            // microseconds
  bool IsStart = true;
  bool Flushed = false;
  bool DamageLogged = false;  // a damaged packet of this stream was reported
  std::int64_t DecodedFrames = 0;
  // Where the next decoded frame is due: the last frame's time plus its duration (microseconds).
  std::int64_t NextFrameTime = kNoTime;
  bool InTimeJump = false;  // the last frame's own time was a jump, replaced by the time due
  int TimeJumpsLogged = 0;
};

struct TOutputStreamState {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream* Stream = nullptr;
  AVCodecContext* Encoder = nullptr;  // owned by the output's stream set-up
  const AVCodec* ForcedEncoder = nullptr;
  int SourceIndex = 0;  // input stream table position
  int SyncInput = 0;    // input stream table position
  bool StreamCopy = false;
  bool EncodingNeeded = false;
  bool EncoderOpen = false;
  // Written by the stream's output stage, read by the reader's limits and the progress report.
  Published<int> FrameNumber = 0;
  std::int64_t SyncOpts = 0;
  bool Active = true;
  // The end of the last packet written, in seconds from the output's start: the stream's output time.
  // Written by the writer.
  Published<double> OutputTime = 0;
  // Packets handed to the muxer. Written by the writer, read once the writer has ended.
  int PacketsMuxed = 0;
  // Of the last encoded picture (output stage; the progress report reads them).
  Published<int> Quality = 0;  // in the library's lambda scale
  Published<AVPictureType> PictureType = AV_PICTURE_TYPE_NONE;
  Published<std::int64_t> PictureError[3] = {0, 0, 0};  // per plane (PSNR)
  FilePtr PassLog;  // first pass of a two-pass encoding: the encoder's statistics
  std::vector<runtime::BitstreamFilterPtr> Filters;  // the writer's

  // Handed over with each frame (output stage): the sync input's clock when the frame was decoded, in
  // microseconds, and the number of video frames decoded by then (the previews' frame number).
  std::int64_t SyncPts = 0;
  int DecodedVideoFrames = 0;
  // The output stage's own packet and frames.
  runtime::PacketPtr OutPacket;     // on its way to the writer
  runtime::FramePtr WorkFrame;      // on its way to the encoder
  runtime::FramePtr FilteredFrame;  // a picture the filter graph delivered
  runtime::FramePtr AudioFrame;     // converted samples
  runtime::FramePtr SilenceFrame;   // silence inserted to keep audio in step

  // Video re-encoding.
  bool VideoResample = false;
  bool VideoCrop = false;
  bool VideoPad = false;
  int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
  int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
  int ConfiguredTop = 0, ConfiguredBottom = 0, ConfiguredLeft = 0, ConfiguredRight = 0;
  int ConfiguredWidth = 0, ConfiguredHeight = 0;  // the input size the bands were given for
  int ResampleWidth = 0, ResampleHeight = 0;
  int ResamplePixFmt = -1;
  runtime::ScalerPtr Scaler;
  runtime::FramePtr Picture;                // the encoder's picture: scaled, padded
  std::unique_ptr<VideoFilterGraph> Graph;  // "vfilters": crop, scale and the caller's chain

  // Audio re-encoding.
  bool AudioResample = false;
  runtime::ResamplerPtr Resampler;
  int ResamplerInputFormat = -1;  // what the resampler was made for
  int ResamplerInputRate = 0;
  int ResamplerInputChannels = 0;
  runtime::AudioFifoPtr Fifo;     // converted samples waiting for a whole encoder frame
  std::int64_t NextAudioPts = 0;  // where the next audio frame must start, in samples
  bool ExternalAmrNb = false;     // encoded through libopencore-amrnb, not libavcodec
  std::unique_ptr<AmrNbEncoder> AmrNb;
};

struct TRunState {
  std::vector<TInputFileState> InputFiles;
  std::vector<TInputStreamState> InputStreams;
  std::vector<TOutputStreamState> OutputStreams;
  runtime::PacketPtr Packet;            // the packet read (reader)
  runtime::PacketPtr OutPacket;         // a copied packet or subtitle on its way to the writer (reader)
  runtime::FramePtr DecodedFrame;       // the frame a decoder delivered (reader)
  runtime::FramePtr PreprocessedFrame;  // a deinterlaced picture (reader)
  std::int64_t StartTime = 0;           // wall clock at the start of the loop, microseconds
  // Counted by the reader (copies) and the output stages, read by the progress report.
  std::atomic<std::int64_t> VideoSize{0};  // bytes of video written
  std::atomic<std::int64_t> AudioSize{0};  // bytes of audio written
  std::int64_t ExtraSize = 0;              // bytes of global headers
  // The video output stage's; the progress report reads them.
  std::atomic<int> DuplicatedFrames{0};
  std::atomic<int> DroppedFrames{0};
  std::atomic<bool> DropOrDupChanged{false};  // the counts changed since the report line was last logged
  bool SubtitlesOnly = false;                 // every output stream is a subtitle stream
};

// Subtitles are sparse: the end of the last one written says nothing about how far an output has come, so a
// subtitle stream tells the output time only in a run that writes nothing else.
inline bool TellsOutputTime(const TRunState& run, const TOutputStreamState& ost) {
  return ost.Encoder->codec_type != AVMEDIA_TYPE_SUBTITLE || run.SubtitlesOnly;
}

}  // namespace engine
