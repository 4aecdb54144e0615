// The conversion engine component: a list of tasks, run one after another or several at a time, reporting
// progress, preview bitmaps, a per-frame hook and terminations through four events.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_records.h"
#include "engine/task.h"
#include "engine/task_list.h"
#include "probe/av_probe.h"
#include "runtime/log_source.h"

namespace engine {

class TCustomVidrel;

using TProgressEvent = std::function<void(TCustomVidrel& Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent = std::function<void(TCustomVidrel& Sender, const TTerminateInfo& ATerminateInfo)>;
using TPreviewBitmapEvent = std::function<void(TCustomVidrel& Sender, const TPreviewInfo& APreviewInfo)>;
using TCustomHookEvent = std::function<void(TCustomVidrel& Sender, PHookInfo AHookInfo)>;

// Threads: every operation is called on the main thread. Events come from worker threads: OnProgress and
// OnPreviewBitmap on the main thread when TriggerEventInMainThread (the worker waits meanwhile), OnCustomHook
// always on the worker, OnTerminate on a thread of its own in asynchronous runs and on the running thread in
// synchronous ones.
class TCustomVidrel : public runtime::TFFBaseComponent {
 public:
  static constexpr int kMaxOutputFiles = 20;

  TCustomVidrel();
  // Stops every task, waits for them and for the termination threads (serving the main thread's queue).
  ~TCustomVidrel() override;
  TCustomVidrel(const TCustomVidrel&) = delete;
  TCustomVidrel& operator=(const TCustomVidrel&) = delete;

  std::string LogSourceName() const override { return "TVidrel"; }

  // Binds the engine's media libraries from the folder (else through the system's search).
  bool LoadMediaLibraries(const std::filesystem::path& path);

  // Returns the new task's index, or -1 with the reason in LastErrorText().
  int AddTask(const std::string& file_name, TInputOptions* options = nullptr);
  // An index outside the list throws std::out_of_range; other failures return false with LastErrorText().
  bool SetOutputFile(int task_index, const std::string& file_name, TOutputOptions* options = nullptr);
  // Count > 0: tasks run on worker threads, at most Count at a time. Count <= 0: one after another on the
  // calling thread, returning after the all-done notification.
  void StartTask(int count);
  void PauseTask();
  void ResumeTask();
  void StopTask(bool wait);
  void ClearTasks();

  const std::string& LastErrorText() const { return last_error_text_; }
  int TaskCount() const { return tasks_.Count(); }
  TFFmpeg& Task(int index) { return tasks_.Get(index); }

  // Properties.
  std::string About;
  const std::string& Version() const { return version_; }
  bool Preview() const { return preview_; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return preview_bitmap_; }
  void SetPreviewBitmap(bool value);
  int ProgressInterval() const { return progress_interval_; }
  void SetProgressInterval(int milliseconds) {
    progress_interval_ = milliseconds <= 100 ? 100 : milliseconds;
  }
  TThreadPriority ThreadPriority() const { return thread_priority_; }
  void SetThreadPriority(TThreadPriority value) { thread_priority_ = value; }
  bool TriggerEventInMainThread() const { return trigger_in_main_thread_; }
  void SetTriggerEventInMainThread(bool value) { trigger_in_main_thread_ = value; }

  void SetOnCustomHook(TCustomHookEvent handler);
  void SetOnPreviewBitmap(TPreviewBitmapEvent handler);
  void SetOnProgress(TProgressEvent handler);
  void SetOnTerminate(TTerminateEvent handler);

  bool Working() const { return working_; }

  // The component's media probe, which the shell borrows to read files (main thread, or one intake worker
  // while no run can start).
  probe::TAVProbe& Probe() { return probe_; }

 protected:
  // The task kind this component runs.
  virtual std::unique_ptr<TFFmpeg> CreateTask();

  virtual void DoCustomHook(TCustomFFmpeg& task, runtime::Bitmap& bitmap, int frame_number, std::int64_t pts,
                            bool& update, bool& stop_hook);
  virtual void DoPreviewBitmap(TCustomFFmpeg& task, const runtime::Bitmap& bitmap, int frame_number,
                               std::int64_t pts);
  virtual void DoProgress(TCustomFFmpeg& task, int file_index, int frame_number, int fps, float quality,
                          float bit_rate, std::int64_t size, std::int64_t current_time,
                          std::int64_t total_duration);
  virtual void DoTerminate(TCustomFFmpeg& task);

 private:
  void CheckWorking(const char* operation) const;
  // Progress and preview events run on the main thread when TriggerEventInMainThread (the caller waits).
  void RaiseOnEventThread(const std::function<void()>& call);
  void ApplyOutputOptions(TFFmpeg& task, TOutputOptions& options);
  void StartNextTask();
  void AllTasksDone();
  void DeliverTermination(const TTerminateInfo& info);
  void JoinFinishedNotifiers(bool all);

  const std::string version_ = "3.1";
  std::string last_error_text_;  // main thread
  probe::TAVProbe probe_;
  // Changed on the main thread only while no task runs; read meanwhile by every worker (the index of a task
  // in its events, the next task to start).
  TFFmpegList tasks_;

  // Run bookkeeping, read and changed only under terminate_lock_: by the main thread's start loop and stop,
  // and by each terminating thread, which also starts the next task. With several tasks at a time those are
  // several threads at once.
  int finished_count_ = 0;
  int next_task_index_ = -1;
  int pending_count_ = 0;
  std::atomic<bool> all_terminated_{false};  // written under terminate_lock_, read anywhere
  std::atomic<bool> asynchronous_{false};    // written under terminate_lock_, read anywhere
  std::atomic<bool> working_{false};         // set by StartTask, cleared by ClearTasks (main thread)

  std::atomic<bool> preview_{false};
  std::atomic<bool> preview_bitmap_{false};
  std::atomic<int> progress_interval_{500};
  std::atomic<TThreadPriority> thread_priority_{tpNormal};
  std::atomic<bool> trigger_in_main_thread_{true};

  // The handlers; copied out under handlers_mutex_, which is never held while a handler runs.
  mutable std::mutex handlers_mutex_;
  TCustomHookEvent on_custom_hook_;
  TPreviewBitmapEvent on_preview_bitmap_;
  TProgressEvent on_progress_;
  TTerminateEvent on_terminate_;

  // One lock per event kind; each serialises its event across tasks and guards its record.
  std::mutex hook_lock_;
  std::mutex preview_lock_;
  std::mutex progress_lock_;
  std::recursive_mutex terminate_lock_;  // a synchronous run terminates inside the start loop
  THookInfo hook_info_;
  TPreviewInfo preview_info_;
  TProgressInfo progress_info_;
  TTerminateInfo terminate_info_;

  // Threads that deliver OnTerminate in asynchronous runs; joined once done, and all in the destructor.
  struct Notifier {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };
  std::mutex notifiers_mutex_;  // guards notifiers_
  std::vector<Notifier> notifiers_;
};

class TVidrel : public TCustomVidrel {};

}  // namespace engine
