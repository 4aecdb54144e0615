#include "engine/vidrel.h"

#include <stdexcept>

#include "engine/ffmpeg_exception.h"
#include "engine/option_groups.h"
#include "engine/option_value_text.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"

namespace engine {

TCustomVidrel::TCustomVidrel() = default;

TCustomVidrel::~TCustomVidrel() {
  {
    std::lock_guard lock(terminate_lock_);
    pending_count_ = 0;
  }
  tasks_.ForEach([](TFFmpeg& task) { task.Stop(true); });
  tasks_.TakeAll();  // the tasks have ended; their destructors release what they hold
  JoinFinishedNotifiers(true);
  // No event delivery may still be under way when the locks go.
  { std::lock_guard lock(hook_lock_); }
  { std::lock_guard lock(preview_lock_); }
  { std::lock_guard lock(progress_lock_); }
  { std::lock_guard lock(terminate_lock_); }
}

bool TCustomVidrel::LoadMediaLibraries(const std::filesystem::path& path) {
  runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
  loader.SetLibraryPath(path);
  const bool loaded = loader.LoadLibraries(runtime::EngineLibraries);
  if (!loaded) last_error_text_ = loader.LastError();
  return loaded;
}

void TCustomVidrel::CheckWorking(const char* operation) const {
  if (working_) throw EngineStateError(std::string("Cannot ") + operation + " while working.");
}

std::unique_ptr<TFFmpeg> TCustomVidrel::CreateTask() {
  return std::make_unique<TFFmpeg>();
}

int TCustomVidrel::AddTask(const std::string& file_name, TInputOptions* options) {
  CheckWorking("AddTask");
  std::unique_ptr<TFFmpeg> task;
  try {
    task = CreateTask();
    task->Reset();
    task->SetVerbosity(1);
    task->SetPreviewFlags(preview_, preview_bitmap_);
    task->OnTaskPreviewBitmap = [this](TCustomFFmpeg& t, const runtime::Bitmap& bitmap, int frame,
                                       std::int64_t pts) { DoPreviewBitmap(t, bitmap, frame, pts); };
    if (options != nullptr) {
      if (options->FileName.empty()) options->FileName = file_name;
      task->ApplyOptionText(options->ExtOptions, ogGeneral);
      task->ApplyOptionText(options->ExtOptions, ogCodecNames);
      if (!options->FileFormat.empty()) task->SetOption("f", options->FileFormat);
      if (options->StartTime != kUnsetTime) task->SetOption("ss", MicrosecondsText(options->StartTime));
      if (options->ProgramID >= 0) task->SetOption("programid", std::to_string(options->ProgramID));
    }
    if (!task->OpenInput(file_name)) {
      last_error_text_ = task->TaskErrorText();
      return -1;
    }
  } catch (const std::exception& error) {
    last_error_text_ = error.what();
    return -1;
  }
  task->OnTaskProgress = [this](TCustomFFmpeg& t, int file_index, int frame_number, int fps, float quality,
                                float bit_rate, std::int64_t size, std::int64_t current_time,
                                std::int64_t total_duration) {
    DoProgress(t, file_index, frame_number, fps, quality, bit_rate, size, current_time, total_duration);
  };
  task->OnTaskTerminate = [this](TCustomFFmpeg& t) { DoTerminate(t); };
  return tasks_.Add(std::move(task));
}

bool TCustomVidrel::SetOutputFile(int task_index, const std::string& file_name, TOutputOptions* options) {
  CheckWorking("SetOutputFile");
  TFFmpeg& task = tasks_.Get(task_index);
  if (static_cast<int>(task.OutputFiles().size()) >= kMaxOutputFiles) {
    last_error_text_ = "max output files " + std::to_string(kMaxOutputFiles) + " reached";
    return false;
  }
  bool join = false;
  try {
    if (options != nullptr) {
      if (options->FileName.empty()) options->FileName = file_name;
      ApplyOutputOptions(task, *options);
      join = options->Join;
    }
    if (task.OpenOutput(file_name, join) < 0) {
      last_error_text_ = task.TaskErrorText();
      return false;
    }
    if (options != nullptr) task.ApplyOptionText(options->ExtOptions, ogNewStreams);
  } catch (const std::exception& error) {
    last_error_text_ = error.what();
    return false;
  }
  return true;
}

void TCustomVidrel::StartTask(int count) {
  CheckWorking("StartTask");
  const bool asynchronous = count > 0;
  {
    std::lock_guard lock(terminate_lock_);
    finished_count_ = 0;
    next_task_index_ = 0;
    pending_count_ = tasks_.Count();
    all_terminated_ = false;
    asynchronous_ = asynchronous;
    working_ = true;
  }
  if (tasks_.Count() == 0) {
    // Nothing to run: the run is over at once, so the caller hears of it and may clear.
    std::lock_guard lock(terminate_lock_);
    AllTasksDone();
    return;
  }
  if (asynchronous) {
    // Terminating workers start tasks too: both sides change the counters under the terminate lock.
    std::lock_guard lock(terminate_lock_);
    while (pending_count_ > 0 && count > 0) {
      StartNextTask();
      --count;
    }
    return;
  }
  while (true) {
    {
      std::lock_guard lock(terminate_lock_);
      if (pending_count_ <= 0) break;
    }
    StartNextTask();
  }
}

// In asynchronous runs the caller holds terminate_lock_ (the main thread's start loop, or the thread of a
// task that has just ended), so a task's worker is made under it: StopTask, which takes the lock before it
// stops the tasks, finds every task started so far with its worker, and no task starts after it.
void TCustomVidrel::StartNextTask() {
  TFFmpeg* task = nullptr;
  {
    std::lock_guard lock(terminate_lock_);
    if (pending_count_ <= 0) return;
    --pending_count_;
    task = &tasks_.Get(next_task_index_);
    ++next_task_index_;
  }
  task->SetProgressIntervalUs(static_cast<std::int64_t>(progress_interval_) * 1000);
  task->Start(asynchronous_, thread_priority_);
}

void TCustomVidrel::PauseTask() {
  tasks_.ForEach([](TFFmpeg& task) { task.Pause(); });
}

void TCustomVidrel::ResumeTask() {
  tasks_.ForEach([](TFFmpeg& task) { task.Resume(); });
}

void TCustomVidrel::StopTask(bool wait) {
  {
    std::lock_guard lock(terminate_lock_);
    pending_count_ = 0;
  }
  tasks_.ForEach([wait](TFFmpeg& task) { task.Stop(wait); });
}

void TCustomVidrel::ClearTasks() {
  {
    std::lock_guard lock(terminate_lock_);
    if (working_ && !all_terminated_) throw EngineStateError("Cannot ClearTasks while working.");
  }
  tasks_.TakeAll();
  JoinFinishedNotifiers(false);
  last_error_text_.clear();
  std::lock_guard lock(terminate_lock_);
  finished_count_ = 0;
  next_task_index_ = -1;
  pending_count_ = 0;
  all_terminated_ = false;
  asynchronous_ = false;
  working_ = false;
}

void TCustomVidrel::SetPreview(bool value) {
  tasks_.ForEach([&](TFFmpeg& task) { task.SetPreviewFlags(value, preview_bitmap_); });
  preview_ = value;
}

void TCustomVidrel::SetPreviewBitmap(bool value) {
  tasks_.ForEach([&](TFFmpeg& task) { task.SetPreviewFlags(preview_, value); });
  preview_bitmap_ = value;
}

void TCustomVidrel::SetOnCustomHook(TCustomHookEvent handler) {
  std::lock_guard lock(handlers_mutex_);
  on_custom_hook_ = std::move(handler);
}

void TCustomVidrel::SetOnPreviewBitmap(TPreviewBitmapEvent handler) {
  std::lock_guard lock(handlers_mutex_);
  on_preview_bitmap_ = std::move(handler);
}

void TCustomVidrel::SetOnProgress(TProgressEvent handler) {
  std::lock_guard lock(handlers_mutex_);
  on_progress_ = std::move(handler);
}

void TCustomVidrel::SetOnTerminate(TTerminateEvent handler) {
  std::lock_guard lock(handlers_mutex_);
  on_terminate_ = std::move(handler);
}

void TCustomVidrel::DoCustomHook(TCustomFFmpeg& task, runtime::Bitmap& bitmap, int frame_number,
                                 std::int64_t pts, bool& update, bool& stop_hook) {
  TCustomHookEvent handler;
  {
    std::lock_guard lock(handlers_mutex_);
    handler = on_custom_hook_;
  }
  if (!handler) return;
  std::lock_guard lock(hook_lock_);
  hook_info_ = THookInfo{tasks_.IndexOf(task), &bitmap, frame_number, pts, update, stop_hook};
  handler(*this, &hook_info_);  // on the worker thread, whatever TriggerEventInMainThread says
  update = hook_info_.Update;
  stop_hook = hook_info_.StopHook;
}

void TCustomVidrel::DoPreviewBitmap(TCustomFFmpeg& task, const runtime::Bitmap& bitmap, int frame_number,
                                    std::int64_t pts) {
  TPreviewBitmapEvent handler;
  {
    std::lock_guard lock(handlers_mutex_);
    handler = on_preview_bitmap_;
  }
  if (!handler) return;
  std::lock_guard lock(preview_lock_);
  preview_info_ = TPreviewInfo{tasks_.IndexOf(task), &bitmap, frame_number, pts};
  RaiseOnEventThread([&] { handler(*this, preview_info_); });
}

void TCustomVidrel::DoProgress(TCustomFFmpeg& task, int file_index, int frame_number, int fps, float quality,
                               float bit_rate, std::int64_t size, std::int64_t current_time,
                               std::int64_t total_duration) {
  TProgressEvent handler;
  {
    std::lock_guard lock(handlers_mutex_);
    handler = on_progress_;
  }
  if (!handler) return;
  std::lock_guard lock(progress_lock_);
  progress_info_ =
      TProgressInfo{tasks_.IndexOf(task), file_index,    frame_number, fps, quality, bit_rate, size,
                    current_time,         total_duration};
  RaiseOnEventThread([&] { handler(*this, &progress_info_); });
}

void TCustomVidrel::RaiseOnEventThread(const std::function<void()>& call) {
  if (trigger_in_main_thread_ && !runtime::IsMainThread()) {
    runtime::RunOnMainThread(call);
  } else {
    call();
  }
}

void TCustomVidrel::DoTerminate(TCustomFFmpeg& task) {
  std::lock_guard lock(terminate_lock_);
  DeliverTermination(
      TTerminateInfo{tasks_.IndexOf(task), task.Finished(), task.ExceptionRaised(), task.ExceptionMessage()});
  ++finished_count_;
  if (pending_count_ > 0) {
    if (asynchronous_) StartNextTask();
  } else if (finished_count_ >= tasks_.Count()) {
    AllTasksDone();
  }
}

// The caller holds terminate_lock_.
void TCustomVidrel::AllTasksDone() {
  if (all_terminated_) return;  // delivered once per run, however the last terminations interleave
  DeliverTermination(TTerminateInfo{-1, true, false, {}});
  all_terminated_ = true;
}

// The caller holds terminate_lock_.
void TCustomVidrel::DeliverTermination(const TTerminateInfo& info) {
  TTerminateEvent handler;
  {
    std::lock_guard lock(handlers_mutex_);
    handler = on_terminate_;
  }
  if (!handler) return;
  terminate_info_ = info;
  if (!asynchronous_) {
    handler(*this, terminate_info_);
    return;
  }
  JoinFinishedNotifiers(false);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread notifier([this, handler, info, done] {
    handler(*this, info);
    *done = true;
  });
  std::lock_guard lock(notifiers_mutex_);
  notifiers_.push_back(Notifier{std::move(notifier), std::move(done)});
}

void TCustomVidrel::JoinFinishedNotifiers(bool all) {
  std::vector<Notifier> finished;
  {
    std::lock_guard lock(notifiers_mutex_);
    for (auto it = notifiers_.begin(); it != notifiers_.end();) {
      if (all || *it->Done) {
        finished.push_back(std::move(*it));
        it = notifiers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Notifier& notifier : finished) {
    // A handler may be waiting for the main thread: keep serving it while waiting here.
    while (!*notifier.Done) {
      if (runtime::IsMainThread()) runtime::ServeWhileWaiting();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (notifier.Thread.get_id() == std::this_thread::get_id()) {
      notifier.Thread.detach();
    } else {
      notifier.Thread.join();
    }
  }
}

}  // namespace engine
