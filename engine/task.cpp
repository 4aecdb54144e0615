#include "engine/task.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "engine/ffmpeg_exception.h"
#include "engine/preview_lock.h"
#include "engine/thread_priority.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"

namespace engine {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

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

void TCustomFFmpeg::Release() {
  // An output that received nothing is removed rather than left behind as an empty file. Joined outputs
  // share the first one's file.
  const std::size_t checked = join_ ? std::min<std::size_t>(1, output_files_.size()) : output_files_.size();
  for (std::size_t index = 0; index < checked; ++index) {
    const OutputFile& output = output_files_[index];
    if (!output.WritesFile) continue;
    std::error_code error;
    if (std::filesystem::is_regular_file(output.FileName, error) &&
        std::filesystem::file_size(output.FileName, error) == 0 && !error) {
      std::filesystem::remove(output.FileName, error);
    }
  }
  output_files_.clear();
  input_files_.clear();
  generic_options_.Release();
}

bool TCustomFFmpeg::OpenInput(const std::string& file_name) {
  const int descriptor = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    task_error_text_ = runtime::OpenErrorText(file_name, AVERROR(errno));
    return false;
  }
  struct stat status {};
  const bool is_directory = ::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode);
  ::close(descriptor);
  if (is_directory) {
    task_error_text_ = runtime::OpenErrorText(file_name, AVERROR(EISDIR));
    return false;
  }
  input_files_.push_back(InputFile{file_name, nullptr});
  return true;
}

int TCustomFFmpeg::OpenOutput(const std::string& file_name, bool join) {
  struct stat output_status {};
  if (::stat(file_name.c_str(), &output_status) == 0) {
    for (const InputFile& input : input_files_) {
      struct stat input_status {};
      if (::stat(input.FileName.c_str(), &input_status) == 0 && SameFile(input_status, output_status)) {
        task_error_text_ =
            "Output file '" + file_name + "' is the same file as input '" + input.FileName + "'";
        return -1;
      }
    }
  }
  const int descriptor = ::open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    task_error_text_ = "Could not open '" + file_name + "'";
    return -1;
  }
  ::close(descriptor);
  join_ = join;
  output_files_.push_back(OutputFile{file_name, true, {}});
  return static_cast<int>(output_files_.size());
}

void TCustomFFmpeg::Transcode() {
  throw FFmpegException("Transcoding is not implemented yet");
}

}  // namespace engine
