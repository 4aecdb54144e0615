#include "engine/task.h"

#include <filesystem>
#include <system_error>

#include "engine/ffmpeg_exception.h"
#include "engine/preview_lock.h"
#include "engine/thread_priority.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"

namespace engine {

TCustomFFmpeg::TCustomFFmpeg() {
  ResetDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  RequestBreak(true);
  WaitForThreads();
  Release();
}

void TCustomFFmpeg::Reset() {
  if (!runtime::FFmpegLoader().LibrariesLoaded(runtime::EngineLibraries)) {
    throw FFmpegException("The media libraries are not loaded.");
  }
  Release();
  ResetDefaults();
  join_ = false;
  recording_time_by_max_ = false;
  running_ = false;
  break_requested_ = false;
  finished_ = false;
  terminated_ = false;
  total_duration_ = -1;
  if (!generic_options_.Allocate(pending_.ScalerFlags)) {
    throw FFmpegException("Cannot allocate the option contexts of the task");
  }
}

void TCustomFFmpeg::ResetDefaults() {
  pending_ = TPendingValues{};
}

bool TCustomFFmpeg::Start(bool asynchronous, TThreadPriority priority) {
  if (running_ || terminated_) return false;
  if (output_files_.empty()) {
    Release();
    TerminateWithoutRunning("At least one output file must be specified");
    return false;
  }
  if (input_files_.empty()) {
    Release();
    TerminateWithoutRunning("At least one input file must be specified");
    return false;
  }
  running_ = true;
  break_requested_ = false;
  finished_ = false;
  terminated_ = false;
  if (!asynchronous) {
    Run();
    return false;
  }
  thread_done_.Reset();
  has_worker_ = true;
  worker_ = std::thread([this, priority] {
    ApplyThreadPriority(priority);
    Run();
    thread_done_.Set();
  });
  return true;
}

void TCustomFFmpeg::Run() {
  finished_ = false;
  try {
    Transcode();
  } catch (const std::exception& error) {
    runtime::Log(this, runtime::llQuiet, error.what());
    {
      std::lock_guard lock(exception_mutex_);
      exception_message_ = error.what();
    }
    exception_raised_ = true;
  }
  Release();
  NotifyTerminate();
}

void TCustomFFmpeg::TerminateWithoutRunning(const std::string& reason) {
  runtime::Log(this, runtime::llQuiet, reason);
  {
    std::lock_guard lock(exception_mutex_);
    exception_message_ = reason;
  }
  exception_raised_ = true;
  NotifyTerminate();
}

void TCustomFFmpeg::NotifyTerminate() {
  running_ = false;
  terminated_ = true;
  has_worker_ = false;
  if (OnTaskTerminate) OnTaskTerminate(*this);
}

void TCustomFFmpeg::RequestBreak(bool wait) {
  break_requested_ = true;
  Resume();  // a paused worker must reach its next safe point to see the request
  if (wait && worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
    runtime::WaitServingMainThread(thread_done_);
    worker_.join();
  }
}

void TCustomFFmpeg::Stop(bool wait) {
  if (running_) {
    RequestBreak(wait);
    return;
  }
  if (!terminated_ && !terminate_thread_.joinable()) {
    // Never started: its termination is delivered from a thread of its own, like a worker's would be.
    terminate_done_.Reset();
    terminate_thread_ = std::thread([this] {
      NotifyTerminate();
      terminate_done_.Set();
    });
  }
  if (wait && terminate_thread_.joinable()) {
    runtime::WaitServingMainThread(terminate_done_);
    terminate_thread_.join();
  }
}

void TCustomFFmpeg::WaitForThreads() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) {
    runtime::WaitServingMainThread(thread_done_);
    worker_.join();
  }
  if (terminate_thread_.joinable() && terminate_thread_.get_id() != std::this_thread::get_id()) {
    runtime::WaitServingMainThread(terminate_done_);
    terminate_thread_.join();
  }
  // A task destroyed from its own thread cannot join it; the thread then ends on its own.
  if (worker_.joinable()) worker_.detach();
  if (terminate_thread_.joinable()) terminate_thread_.detach();
}

void TCustomFFmpeg::Pause() {
  if (!has_worker_) return;
  std::lock_guard lock(pause_mutex_);
  paused_ = true;
}

void TCustomFFmpeg::Resume() {
  {
    std::lock_guard lock(pause_mutex_);
    if (!paused_) return;
    paused_ = false;
  }
  pause_changed_.notify_all();
}

bool TCustomFFmpeg::Paused() const {
  std::lock_guard lock(pause_mutex_);
  return paused_;
}

bool TCustomFFmpeg::WaitWhilePaused() {
  std::unique_lock lock(pause_mutex_);
  pause_changed_.wait(lock, [this] { return !paused_ || break_requested_; });
  return !break_requested_;
}

std::string TCustomFFmpeg::ExceptionMessage() const {
  std::lock_guard lock(exception_mutex_);
  return exception_message_;
}

void TCustomFFmpeg::SetPreviewFlags(bool preview, bool preview_bitmap) {
  std::lock_guard lock(PreviewLock());
  preview_ = preview;
  preview_bitmap_ = preview_bitmap;
}

int TCustomFFmpeg::ScalerFlagsOption() const {
  std::int64_t flags = 0;
  runtime::avutil().av_opt_get_int(generic_options_.Scaler(), "sws_flags", 0, &flags);
  return static_cast<int>(flags);
}

void TCustomFFmpeg::Release() {
  run_.reset();
  vstats_file_.reset();
  {
    // Codec contexts are closed under the lock that serialises every codec open and close of the process.
    std::lock_guard lock(runtime::CodecLock());
    for (InputFile& input : input_files_) {
      for (InputStreamSetup& stream : input.Streams)
        stream.Decoder.reset();
    }
    for (OutputFile& output : output_files_) {
      for (OutputStreamSetup& stream : output.Streams)
        stream.Encoder.reset();
    }
  }
  // Each output's muxer goes before its file is closed. A file the task created is then removed when the run
  // failed, because a file without its trailer looks like a result and plays like none; and when it received
  // nothing, rather than left behind empty. A stopped run keeps its output, closed with its trailer, and a
  // file that was there before the task is never removed.
  const bool failed = exception_raised_;
  for (OutputFile& output : output_files_) {
    output.Format.reset();
    output.Io.reset();
    if (!output.WritesFile || !output.CreatedByTask) continue;
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(output.FileName, error))) continue;
    const bool empty = std::filesystem::file_size(output.FileName, error) == 0 && !error;
    if (!failed && !empty) continue;
    if (std::filesystem::remove(output.FileName, error) && failed && !empty) {
      runtime::Log(this, runtime::llInfo, "Removed the incomplete output '" + output.FileName + "'");
    }
  }
  output_files_.clear();
  input_files_.clear();
  generic_options_.Release();
  frame_hooks_.Release();
  custom_hook_.Reset();
  preview_frames_.Reset();
}

}  // namespace engine
