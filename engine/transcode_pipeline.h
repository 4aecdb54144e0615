// The pipelined schedule of a conversion run. The task's own thread reads and decodes; every output stream
// that is encoded gets a stage of its own (the video path or an audio path, from the frame to the encoded
// packet), and one writer takes every packet through the bitstream filters into the muxer. Bounded queues
// join them. The stages run the same code as the one-thread run, in the same order per stream, so each
// stream gets the same packets; only the interleaving of the streams' work in time differs.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/stage_queue.h"
#include "runtime/media_owners.h"

namespace engine {

class TCustomFFmpeg;
struct TRunState;

class TranscodePipeline {
 public:
  // Why a run cannot be pipelined (its streams' work depends on one another's progress), or empty.
  static std::string Refusal(const TCustomFFmpeg& task, const TRunState& run);
  // The threads of the video decoder when nobody chose them: the cores the stages leave, at least one (its
  // frame threads cost CPU time that the encoders' stages would otherwise have).
  static int DecoderThreads(const TRunState& run);

  // Starts the stages and the writer.
  explicit TranscodePipeline(TCustomFFmpeg& task);
  // Stops and joins whatever still runs (after an error of the reader).
  ~TranscodePipeline();
  TranscodePipeline(const TranscodePipeline&) = delete;
  TranscodePipeline& operator=(const TranscodePipeline&) = delete;

  // From the reader: a decoded frame for an output stream (a new reference is queued), with the sync
  // input's clock and the video frames decoded so far; the end of the stream's input. Rethrow the first
  // stage's error when the stages have stopped.
  void SendFrame(int output_stream, const AVFrame* frame, std::int64_t sync_pts, int decoded_video_frames);
  void SendEndOfStream(int output_stream);
  // From any stage: a packet (taken from `packet`, which is left blank) for the writer.
  void SendPacket(int output_stream, AVPacket* packet, AVRational time_base);
  // The output size as the writer last saw it (the progress report's "size").
  std::int64_t WrittenBytes() const { return written_bytes_.load(std::memory_order_relaxed); }

  // After the reader sent every stream's end: lets every stage finish, joins them, and rethrows the first
  // error of any stage.
  void Finish();

 private:
  struct FrameItem {
    runtime::FramePtr Frame;  // null: the end of the stream
    std::int64_t SyncPts = 0;
    int DecodedVideoFrames = 0;
  };
  struct PacketItem {
    int OutputStream = 0;
    runtime::PacketPtr Packet;
    AVRational TimeBase{0, 1};
  };
  struct OutputStage {
    int OutputStream = 0;
    std::unique_ptr<StageQueue<FrameItem>> Input;
    std::thread Thread;
    double BusySeconds = 0;  // the stage's thread
  };

  OutputStage& StageOf(int output_stream);
  void RunOutputStage(OutputStage& stage);
  void RunWriter();
  void Fail(std::exception_ptr error);
  [[noreturn]] void RethrowFailure();
  void AbortAll();
  void JoinAll();
  void LogStageTimes() const;

  TCustomFFmpeg& task_;
  std::vector<std::unique_ptr<OutputStage>> stages_;  // fixed once started
  std::vector<int> stage_of_stream_;                  // fixed once started: output stream → stage, or -1
  StageQueue<PacketItem> packets_;
  std::thread writer_;
  double writer_busy_seconds_ = 0;  // the writer's thread
  std::atomic<std::int64_t> written_bytes_{0};

  std::mutex failure_mutex_;
  std::exception_ptr failure_;  // guarded by failure_mutex_: the first error of a stage
  bool finished_ = false;       // the reader's thread
  const std::thread::id reader_ = std::this_thread::get_id();
};

}  // namespace engine
