// One conversion task: its files, its pending options and its run on the calling thread or a worker thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/custom_hook.h"
#include "engine/engine_records.h"
#include "engine/frame_hook_modules.h"
#include "engine/preview_frames.h"
#include "engine/subtitle_choice.h"
#include "engine/pending_values.h"
#include "engine/task_files.h"
#include "engine/transcode_state.h"
#include "runtime/bitmap.h"
#include "runtime/generic_options.h"
#include "runtime/log_source.h"
#include "runtime/manual_reset_event.h"
#include "runtime/media_owners.h"

namespace engine {

class TCustomFFmpeg;
class TranscodePipeline;

// Callbacks the component installs; the transcoding raises them with the task as sender.
using TTaskHookCallback = std::function<void(TCustomFFmpeg& task, runtime::Bitmap& bitmap, int frame_number,
                                             std::int64_t pts, bool& update, bool& stop_hook)>;
using TTaskPreviewBitmapCallback = std::function<void(TCustomFFmpeg& task, const runtime::Bitmap& bitmap,
                                                      int frame_number, std::int64_t pts)>;
using TTaskProgressCallback = std::function<void(TCustomFFmpeg& task, int file_index, int frame_number,
                                                 int fps, float quality, float bit_rate, std::int64_t size,
                                                 std::int64_t current_time, std::int64_t total_duration)>;
using TTaskTerminateCallback = std::function<void(TCustomFFmpeg& task)>;

class TCustomFFmpeg : public runtime::LogSource {
 public:
  TCustomFFmpeg();
  // Asks a running task to stop and waits for it (serving the main thread's queue), then releases it.
  ~TCustomFFmpeg() override;
  TCustomFFmpeg(const TCustomFFmpeg&) = delete;
  TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

  std::string LogSourceName() const override { return "TFFmpeg"; }

  // Lifecycle, called by the engine component on the main thread.
  void Reset();
  // Starts the task once: on a new worker thread (returns true) or, not asynchronous, runs it to its end on
  // the calling thread (returns false). A task without outputs or inputs terminates at once with the reason.
  bool Start(bool asynchronous, TThreadPriority priority);
  void RequestBreak(bool wait);
  void Stop(bool wait);
  // Cooperative: the worker halts at its next safe point, makes no progress and raises nothing until resumed.
  void Pause();
  void Resume();
  void SetPreviewFlags(bool preview, bool preview_bitmap);
  void Release();

  // Opening files (set-up on the main thread before the start). On failure TaskErrorText says why.
  virtual bool OpenInput(const std::string& file_name);
  // Returns the new number of outputs, or -1.
  virtual int OpenOutput(const std::string& file_name, bool join);

  // Options: one named option with its text value, stored in the pending values or handed to the generic
  // option contexts. A refused value raises FFmpegException (or ConversionError for a malformed number) and
  // leaves the pending values as they were.
  void SetOption(const std::string& name, const std::string& value);
  // "apre", "vpre", "spre", "fpre": a built-in preset by name (also composed with the pending encoder's name,
  // "default" with libx264 pending gives "libx264-default") or a preset file.
  void ApplyPreset(const std::string& option_name, const std::string& value);
  // A disc target ("vcd", "svcd", "dvd", "dv", "dv50") with its norm ("pal", "ntsc", "film"; anything else
  // detects it) and the norm taken when detection cannot tell.
  void SetTarget(const std::string& type, const std::string& norm, const std::string& fallback_norm);

  TPendingValues& Pending() { return pending_; }
  const TPendingValues& Pending() const { return pending_; }

  // Run state.
  bool Running() const { return running_; }
  bool BreakRequested() const { return break_requested_; }
  bool Finished() const { return finished_; }
  bool Terminated() const { return terminated_; }
  bool Paused() const;
  bool ExceptionRaised() const { return exception_raised_; }
  std::string ExceptionMessage() const;
  const std::string& TaskErrorText() const { return task_error_text_; }

  std::int64_t TotalDuration() const { return total_duration_; }
  std::int64_t ProgressIntervalUs() const { return progress_interval_us_; }
  void SetProgressIntervalUs(std::int64_t value) { progress_interval_us_ = value; }
  std::int64_t PreviewIntervalUs() const { return preview_interval_us_; }
  bool Preview() const { return preview_; }
  bool PreviewBitmap() const { return preview_bitmap_; }
  int Verbosity() const { return pending_.Verbosity; }
  void SetVerbosity(int verbosity) { pending_.Verbosity = verbosity; }
  bool Join() const { return join_; }
  void SetJoin(bool join) { join_ = join; }
  bool RecordingTimeByMax() const { return recording_time_by_max_; }
  void SetRecordingTimeByMax(bool value) { recording_time_by_max_ = value; }
  // Creation time of the outputs, seconds since 1970 UTC.
  void SetRecTimestamp(std::int64_t seconds) { pending_.RecTimestamp = seconds; }

  // Library option names set on the task before its real contexts exist.
  runtime::GenericOptions& GenericOptions() { return generic_options_; }

  const std::vector<InputFile>& InputFiles() const { return input_files_; }
  const std::vector<OutputFile>& OutputFiles() const { return output_files_; }

  // Installed by the component; the hook is installed only for outputs that ask for it.
  TTaskHookCallback OnTaskHook;
  TTaskPreviewBitmapCallback OnTaskPreviewBitmap;
  TTaskProgressCallback OnTaskProgress;
  TTaskTerminateCallback OnTaskTerminate;

 protected:
  // The conversion itself, on the worker thread (or the caller's in a synchronous run). Throws on a fatal
  // error; sets Finished when it reached its end without a break. Polls BreakRequested() and calls
  // WaitWhilePaused() between packets.
  virtual void Transcode();
  // A safe point: blocks while the task is paused. Returns false when a stop was requested.
  bool WaitWhilePaused();
  void SetFinished(bool finished) { finished_ = finished; }
  void SetTotalDuration(std::int64_t duration) { total_duration_ = duration; }
  void SetTaskErrorText(std::string text) { task_error_text_ = std::move(text); }
  std::vector<InputFile>& MutableInputFiles() { return input_files_; }
  std::vector<OutputFile>& MutableOutputFiles() { return output_files_; }

  // The re-encoding output paths, fed with decoded frames of the input stream `ist`.
  virtual void VideoOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame);
  virtual void AudioOutput(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame);

 private:
  void Run();
  void NotifyTerminate();
  void TerminateWithoutRunning(const std::string& reason);
  void ResetDefaults();

  // Option handlers: each checks its value and stores it, or raises FFmpegException.
  void SetFormatName(const std::string& value);
  void SetFrameRate(const std::string& value);
  void SetFrameSize(const std::string& value);
  void SetAspectRatio(const std::string& value);
  void SetPixelFormat(const std::string& value);
  void SetSampleFormat(const std::string& value);
  void SetCrop(const std::string& name, const std::string& value);
  void SetPad(const std::string& name, const std::string& value);
  void SetPadColor(const std::string& value);
  void SetQScale(const std::string& value);
  void SetBitRate(const std::string& name, const std::string& value);
  void SetCodecName(const std::string& name, const std::string& value);
  void SetCodecTag(const std::string& name, const std::string& value);
  void SetMatrix(const std::string& name, const std::string& value);
  void AddStreamMap(const std::string& value);
  void AddMetaDataMap(const std::string& value);
  void AddMetadata(const std::string& value);
  void SetTime(const std::string& name, const std::string& value);
  void SetInputTsScale(const std::string& value);
  void SetPass(const std::string& value);
  void SetVstats(const std::string& name, const std::string& value);
  void AddBitstreamFilter(const std::string& name, const std::string& value);
  void AddFrameHook(const std::string& value);
  void ParseTarget(const std::string& value);
  void AddNewStream(const std::string& name, const std::string& value);
  void SetGeneric(const std::string& name, const std::string& value);
  // The television norm of a target: "pal", "ntsc" or "film" as given, else taken from the frame rate or
  // the inputs' video streams, else the fallback.
  std::string DetectNorm(const std::string& norm, const std::string& fallback_norm);
  void WaitForThreads();

  // Output set-up.
  void NewStream(OutputFile& output, AVMediaType kind);
  // The subtitle stream of the first examined_files inputs (only the mapped ones when maps are given) that an
  // output of `format` takes when no subtitle encoder is named, and how; none when it can carry none of them.
  // Each stream it cannot carry is logged with the reason.
  std::optional<AutomaticSubtitle> ChooseAutomaticSubtitle(const AVOutputFormat& format,
                                                           std::size_t examined_files,
                                                           const std::string& output_name);

  // The conversion run, split by stage: set-up, main loop, packets, writing, reporting.
  void BuildInputTables();
  void BuildOutputTables();
  void MapStreams();
  void SetUpStreamCopy(TOutputStreamState& ost, TInputStreamState& ist);
  void SetUpEncoding(TOutputStreamState& ost, TInputStreamState& ist);
  // "Input stream #0.0 (Video) of 'name' has no known <missing>: the file may be damaged or cut short".
  std::string DamagedInputText(const TInputStreamState& ist, const char* missing) const;
  // A stream whose pictures pass the scaler gets a pixel format the scaler can write, the nearest one its
  // encoder (or container) also takes, and the size that format allows.
  void MakeScalerOutputWritable(TOutputStreamState& ost);
  void OpenEncoders();
  void OpenAmrNbEncoder(TOutputStreamState& ost);
  void OpenDecoders();
  // Opens the stream's decoder unless it is open already.
  void OpenDecoder(TInputStreamState& ist);
  // A subtitle encoder fed by a decoder gets the decoder's subtitle header (its decoder opened for it).
  void GiveSubtitleHeader(TOutputStreamState& ost);
  void ApplyMetaDataMaps();
  void WriteHeaders();
  void LogStreamMapping();
  void DumpOutputFormat(int file_index);
  void MainLoop();
  // Chooses the input to read next; -1: none (all ended, or a frame limit reached).
  int ChooseInput(double& smallest_output_time, double& largest_output_time);
  void FinishRun();
  // Throws when a picture stream, or a whole output, received nothing because its input gave nothing.
  void RefuseEmptyStreams() const;
  // Removes each output file of a stopped run that no packet reached.
  void RemoveOutputsStoppedBeforeAnyPacket();
  // Returns -1 when decoding failed. A null packet ends the stream: the decoder and the encoders it feeds are
  // drained.
  int ProcessPacket(TInputStreamState& ist, int ist_index, const AVPacket* packet);
  int DecodePacket(TInputStreamState& ist, int ist_index, const AVPacket* packet);
  void DeliverFrame(TInputStreamState& ist, int ist_index, AVFrame* frame);
  // A decoded frame's time (microseconds on the run's clock), or, when that time is a jump no recording has
  // (far beyond the file's end, or far ahead of the decoding times where the format's times may jump), the
  // time the stream's clock expected; such a jump is logged.
  std::int64_t TimeAcrossJumps(TInputStreamState& ist, std::int64_t time);
  // Logs a jump of the stream's times ("Stream #0.0 of 'name': " and `what`), a few lines a stream at most.
  void LogTimeJump(TInputStreamState& ist, const std::string& what);
  // "dts_delta_threshold" in microseconds: how far a time may jump before it counts as a discontinuity.
  std::int64_t DiscontinuityThresholdUs() const;
  void OutputFilteredPictures(TOutputStreamState& ost, TInputStreamState& ist);
  // Deinterlacing and the hooks, before the outputs see the picture; returns the picture to use.
  AVFrame* PreprocessPicture(TInputStreamState& ist, AVFrame* frame);
  void DecodeSubtitle(TInputStreamState& ist, int ist_index, const AVPacket* packet, int& result);
  void SubtitleOutput(TOutputStreamState& ost, TInputStreamState& ist, AVSubtitle& subtitle,
                      std::int64_t pts);
  void CopyPacket(TOutputStreamState& ost, TInputStreamState& ist, const AVPacket& packet);
  void DrainEncoder(TOutputStreamState& ost);
  // Sends the frame (null: end of stream) to the encoder and writes every packet it gives back.
  // Returns the bytes of the packets written.
  int EncodeFrame(TOutputStreamState& ost, const AVFrame* frame);
  // Video: how many output frames the next picture becomes (frame-rate synchronisation).
  int FramesToEmit(TOutputStreamState& ost);
  // Whether the first output has grown past the "fs" limit.
  bool FileSizeLimitReached() const;
  // Audio: silence into the stream's FIFO; false when it cannot grow.
  bool WriteSilence(TOutputStreamState& ost, int samples);
  // Audio: encodes the FIFO's whole encoder frames; `last` also the remainder.
  void EncodeAudioFromFifo(TOutputStreamState& ost, bool last);
  void EncodeAmrNbFrame(TOutputStreamState& ost, const AVFrame* frame);
  void PreviewFrame(TOutputStreamState& ost, const AVFrame* frame);
  void WriteVstatsLine(TOutputStreamState& ost, int frame_size);
  void OpenTwoPassLog(TOutputStreamState& ost, int position);
  // The scaler flags the "sws_flags" option holds now.
  int ScalerFlagsOption() const;
  void ReadQualityStats(TOutputStreamState& ost, const AVPacket* packet);
  // Takes the packet (timestamps in `time_base`) through the stream's bitstream filters into the muxer.
  void WritePacket(TOutputStreamState& ost, AVPacket* packet, AVRational time_base);
  void MuxPacket(TOutputStreamState& ost, AVPacket* packet);
  void ReportProgress(bool is_last, int file_index);
  // The first output's size now (what the progress report calls its size).
  std::int64_t OutputSize() const;

  // The schedule: the output stages run here, on the calling thread, or on their own threads when the run is
  // pipelined. The reader hands each decoded frame, the end of each input stream and each packet over.
  void HandFrame(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame);
  void HandEndOfStream(TOutputStreamState& ost, TInputStreamState& ist);
  void HandPacket(TOutputStreamState& ost, AVPacket* packet, AVRational time_base);
  // An output stage's work: one decoded frame, with the clock of the stream it keeps in step with and the
  // video frames decoded by then; the end of its input (what the filter graph and the encoder still hold).
  void ConsumeFrame(TOutputStreamState& ost, TInputStreamState& ist, AVFrame* frame, std::int64_t sync_pts,
                    int decoded_video_frames);
  void FinishOutput(TOutputStreamState& ost, TInputStreamState& ist);
  int OutputStreamIndex(const TOutputStreamState& ost) const;
  friend class TranscodePipeline;
  // Encodes what the audio path still holds for the encoder, before the encoder is drained.
  void FlushAudioOutput(TOutputStreamState& ost);

  // Run state: written by the thread that starts the task (the main thread, or, when several tasks run at a
  // time, the worker of another task that has just ended, under the component's terminate lock), by the main
  // thread (stop) and by the thread that ends the task.
  std::atomic<bool> running_{false};
  std::atomic<bool> break_requested_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> has_worker_{false};  // a worker thread runs the task now
  // Written by the thread that runs the task before it notifies; read after the termination.
  std::atomic<bool> exception_raised_{false};
  mutable std::mutex exception_mutex_;  // guards exception_message_
  std::string exception_message_;

  // Pause: the main thread sets it, the worker waits at its safe points.
  mutable std::mutex pause_mutex_;  // guards paused_
  std::condition_variable pause_changed_;
  bool paused_ = false;

  // Set up on the main thread before the start; then the thread that starts the task reads them (and
  // releases them when the task cannot run), and the task's own run uses them until its release.
  std::string task_error_text_;
  std::vector<InputFile> input_files_;
  std::vector<OutputFile> output_files_;
  TPendingValues pending_;
  bool join_ = false;
  bool recording_time_by_max_ = false;
  runtime::GenericOptions generic_options_;
  bool video_filters_on_ = false;
  int current_scaler_flags_ = 0;
  std::string filter_error_text_;  // why the filter graph could not be built
  FilePtr vstats_file_;            // open from the first video statistics line to the release
  // Frame hooks: the modules "vhook" loaded (main thread, before the start) and the custom hook's converter;
  // both used by the worker while it runs.
  FrameHookModules frame_hooks_{this};
  CustomHook custom_hook_{this};
  // Previews, on the worker while it runs.
  PreviewFrames preview_frames_{this};

  // The run's tables; the worker's only while it runs.
  std::unique_ptr<TRunState> run_;
  int video_frame_counter_ = 0;  // video frames decoded, numbering the hook and preview frames
  // The run's stages when it is pipelined: set by the task's thread before any frame reaches a stage, and
  // cleared once every stage is joined; the stages read it in between.
  TranscodePipeline* pipeline_ = nullptr;
  std::string schedule_refusal_ = "not set up";  // why the run keeps one thread; empty: it is pipelined
  std::vector<std::uint8_t> subtitle_buffer_;    // encoded subtitles, allocated on first use

  // Set before the start, read by the worker.
  std::atomic<std::int64_t> total_duration_{-1};
  std::atomic<std::int64_t> progress_interval_us_{500000};
  std::atomic<std::int64_t> preview_interval_us_{100000};
  // Changed under the process's preview lock; read by the worker's preview step.
  std::atomic<bool> preview_{false};
  std::atomic<bool> preview_bitmap_{false};

  // The worker thread, and the helper thread that terminates a task stopped before it started. The worker
  // is made by the thread that starts the task (see running_), the helper by the main thread; both are
  // joined by the main thread (RequestBreak with wait, Stop with wait, the destructor), which the
  // component lets do so only once no other thread can start the task any more.
  std::thread worker_;
  runtime::ManualResetEvent thread_done_{true};
  std::thread terminate_thread_;
  runtime::ManualResetEvent terminate_done_{true};
};

// The quantiser histogram of "qphist": one counter per quantiser 0..51, for the whole process.
std::array<std::atomic<std::uint32_t>, 52>& QpHistogram();

// The task kind the engine component creates.
class TFFmpeg : public TCustomFFmpeg {
 public:
  // Applies option text (name=value lines) of one option group.
  virtual void ApplyOptionText(const std::string& text, int group);
};

}  // namespace engine
