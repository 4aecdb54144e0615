#include "engine/transcode_pipeline.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

constexpr std::size_t kVideoFrames = 8;
constexpr std::size_t kAudioFrames = 32;
constexpr std::size_t kPackets = 256;

// A stage whose way on is closed (the writer failed, or the run is being torn down) just ends; the error
// that closed it is the run's.
struct StageAborted {};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

std::string TranscodePipeline::Refusal(const TCustomFFmpeg& task, const TRunState& run) {
  const TPendingValues& p = task.pending_;
  if (p.Pipeline == 0) return "pipeline=0";
  if (task.input_files_.size() != 1) return "the next packet is read from the input that lags";
  if (p.RecordingTimeSeconds < static_cast<double>(INT64_MAX) / 1e6 || p.LimitFileSize != 0)
    return "a time or size limit ends every stream at the same packet";
  for (const int limit : p.MaxFrames)
    if (limit != INT_MAX) return "a frame limit ends every stream at the same packet";
  int video_stages = 0;
  int stages = 0;
  for (const TOutputStreamState& ost : run.OutputStreams) {
    if (!ost.EncodingNeeded || ost.Encoder->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;
    ++stages;
    if (ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO) ++video_stages;
    if (ost.Graph != nullptr) return "a filter graph sets its input stream's clock";
    if (ost.SyncInput != ost.SourceIndex) return "an output stream keeps in step with another input stream";
    int fed = 0;
    for (const TOutputStreamState& other : run.OutputStreams)
      fed += other.SourceIndex == ost.SourceIndex ? 1 : 0;
    if (fed > 1) return "one input stream feeds several output streams";
  }
  if (stages == 0) return "nothing is encoded";
  if (video_stages > 1) return "several video outputs share the previews and statistics";
  return "";
}

int TranscodePipeline::DecoderThreads(const TRunState& run) {
  int stages = 0;
  for (const TOutputStreamState& ost : run.OutputStreams)
    stages += ost.EncodingNeeded && ost.Encoder->codec_type != AVMEDIA_TYPE_SUBTITLE ? 1 : 0;
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::max(1, cores - stages);
}

TranscodePipeline::TranscodePipeline(TCustomFFmpeg& task) : task_(task), packets_(kPackets) {
  TRunState& run = *task_.run_;
  stage_of_stream_.assign(run.OutputStreams.size(), -1);
  for (std::size_t index = 0; index < run.OutputStreams.size(); ++index) {
    const TOutputStreamState& ost = run.OutputStreams[index];
    if (!ost.EncodingNeeded || ost.Encoder->codec_type == AVMEDIA_TYPE_SUBTITLE) continue;
    auto stage = std::make_unique<OutputStage>();
    stage->OutputStream = static_cast<int>(index);
    stage->Input = std::make_unique<StageQueue<FrameItem>>(
        ost.Encoder->codec_type == AVMEDIA_TYPE_VIDEO ? kVideoFrames : kAudioFrames);
    stage_of_stream_[index] = static_cast<int>(stages_.size());
    stages_.push_back(std::move(stage));
  }
  try {
    writer_ = std::thread([this] { RunWriter(); });
    for (const std::unique_ptr<OutputStage>& stage : stages_)
      stage->Thread = std::thread([this, &stage = *stage] { RunOutputStage(stage); });
  } catch (const std::system_error&) {
    AbortAll();
    JoinAll();
    throw FFmpegException("Could not start the conversion's threads");
  }
}

TranscodePipeline::~TranscodePipeline() {
  if (finished_) return;
  AbortAll();
  JoinAll();
}

TranscodePipeline::OutputStage& TranscodePipeline::StageOf(int output_stream) {
  return *stages_[static_cast<std::size_t>(stage_of_stream_[static_cast<std::size_t>(output_stream)])];
}

void TranscodePipeline::SendFrame(int output_stream, const AVFrame* frame, std::int64_t sync_pts,
                                  int decoded_video_frames) {
  FrameItem item;
  item.Frame.reset(runtime::avutil().av_frame_alloc());
  if (item.Frame == nullptr || runtime::avutil().av_frame_ref(item.Frame.get(), frame) < 0)
    throw FFmpegException("av_frame_ref failed");
  item.SyncPts = sync_pts;
  item.DecodedVideoFrames = decoded_video_frames;
  if (!StageOf(output_stream).Input->Push(std::move(item))) RethrowFailure();
}

void TranscodePipeline::SendEndOfStream(int output_stream) {
  if (!StageOf(output_stream).Input->Push(FrameItem{})) RethrowFailure();
}

void TranscodePipeline::SendPacket(int output_stream, AVPacket* packet, AVRational time_base) {
  PacketItem item;
  item.OutputStream = output_stream;
  item.TimeBase = time_base;
  item.Packet.reset(runtime::avcodec().av_packet_alloc());
  // A new reference to the same data (encoders and demuxers give counted buffers): nothing is copied.
  if (item.Packet == nullptr || runtime::avcodec().av_packet_ref(item.Packet.get(), packet) < 0)
    throw FFmpegException("av_packet_ref failed");
  runtime::avcodec().av_packet_unref(packet);
  if (packets_.Push(std::move(item))) return;
  // The reader reports the error that stopped the writer; a stage just ends.
  if (std::this_thread::get_id() != reader_) throw StageAborted{};
  RethrowFailure();
}

void TranscodePipeline::Finish() {
  for (const std::unique_ptr<OutputStage>& stage : stages_)
    stage->Input->Close();
  for (const std::unique_ptr<OutputStage>& stage : stages_)
    if (stage->Thread.joinable()) stage->Thread.join();
  packets_.Close();
  if (writer_.joinable()) writer_.join();
  finished_ = true;
  LogStageTimes();
  std::lock_guard lock(failure_mutex_);
  if (failure_ != nullptr) std::rethrow_exception(failure_);
}

void TranscodePipeline::RunOutputStage(OutputStage& stage) {
  TRunState& run = *task_.run_;
  TOutputStreamState& ost = run.OutputStreams[static_cast<std::size_t>(stage.OutputStream)];
  TInputStreamState& ist = run.InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
  try {
    while (std::optional<FrameItem> item = stage.Input->Pop()) {
      // The safe point of a pause, as between two packets of the reader (a stop does not wait here).
      task_.WaitWhilePaused();
      const Clock::time_point start = Clock::now();
      if (item->Frame != nullptr) {
        task_.ConsumeFrame(ost, ist, item->Frame.get(), item->SyncPts, item->DecodedVideoFrames);
      } else {
        task_.FinishOutput(ost, ist);
      }
      stage.BusySeconds += SecondsSince(start);
    }
  } catch (const StageAborted&) {
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TranscodePipeline::RunWriter() {
  TRunState& run = *task_.run_;
  try {
    while (std::optional<PacketItem> item = packets_.Pop()) {
      task_.WaitWhilePaused();
      const Clock::time_point start = Clock::now();
      task_.WritePacket(run.OutputStreams[static_cast<std::size_t>(item->OutputStream)], item->Packet.get(),
                        item->TimeBase);
      written_bytes_.store(task_.OutputSize(), std::memory_order_relaxed);
      writer_busy_seconds_ += SecondsSince(start);
    }
  } catch (...) {
    Fail(std::current_exception());
  }
}

void TranscodePipeline::Fail(std::exception_ptr error) {
  {
    std::lock_guard lock(failure_mutex_);
    if (failure_ == nullptr) failure_ = std::move(error);
  }
  AbortAll();
}

void TranscodePipeline::RethrowFailure() {
  std::exception_ptr failure;
  {
    std::lock_guard lock(failure_mutex_);
    failure = failure_;
  }
  if (failure != nullptr) std::rethrow_exception(failure);
  throw FFmpegException("the conversion's stages ended early");
}

void TranscodePipeline::AbortAll() {
  for (const std::unique_ptr<OutputStage>& stage : stages_)
    stage->Input->Abort();
  packets_.Abort();
}

void TranscodePipeline::JoinAll() {
  for (const std::unique_ptr<OutputStage>& stage : stages_)
    if (stage->Thread.joinable()) stage->Thread.join();
  if (writer_.joinable()) writer_.join();
}

void TranscodePipeline::LogStageTimes() const {
  if (task_.pending_.Verbosity < 0) return;
  const TRunState& run = *task_.run_;
  double reader_waited = packets_.PushWaitSeconds();
  for (const std::unique_ptr<OutputStage>& stage : stages_) {
    const TOutputStreamState& ost = run.OutputStreams[static_cast<std::size_t>(stage->OutputStream)];
    reader_waited += stage->Input->PushWaitSeconds();
    runtime::Log(&task_, runtime::llVerbose,
                 runtime::TextFormat("stage of stream #%d.%d (%s): busy %.2f s, waited %.2f s for frames",
                                     ost.FileIndex, ost.StreamIndex,
                                     runtime::avcodec().avcodec_get_name(ost.Encoder->codec_id),
                                     stage->BusySeconds, stage->Input->PopWaitSeconds()));
  }
  runtime::Log(&task_, runtime::llVerbose,
               runtime::TextFormat("writer: busy %.2f s, waited %.2f s for packets; reading and decoding "
                                   "waited %.2f s for room in the stages' queues",
                                   writer_busy_seconds_, packets_.PopWaitSeconds(), reader_waited));
}

}  // namespace engine
