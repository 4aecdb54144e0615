// An engine whose tasks run a controllable conversion: each task works in short slices (reporting progress,
// honouring pause and stop) until the test lets it finish.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ffmpeg_exception.h"
#include "engine/vidrel.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"
#include "runtime/program_folder.h"
#include "support/test_files.h"

namespace engine_test {

// Shared by the tasks of one test.
struct Workload {
  std::atomic<bool> may_finish{false};
  std::atomic<int> running{0};
  std::atomic<int> most_running{0};
  std::atomic<int> started{0};
  std::atomic<long> slices{0};
  std::atomic<bool> write_output{false};
};

class SlicedTask : public engine::TFFmpeg {
 public:
  explicit SlicedTask(Workload& workload) : workload_(workload) {}

 protected:
  void Transcode() override {
    workload_.started++;
    const int now_running = ++workload_.running;
    int most = workload_.most_running;
    while (now_running > most && !workload_.most_running.compare_exchange_weak(most, now_running)) {
    }
    bool stopped = false;
    while (!workload_.may_finish) {
      if (!WaitWhilePaused()) {
        stopped = true;
        break;
      }
      workload_.slices++;
      if (OnTaskProgress) OnTaskProgress(*this, 0, static_cast<int>(workload_.slices), 0, -1.0F, 0, 0, 0, -1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (workload_.write_output) {
      std::ofstream(OutputFiles().front().FileName) << "converted";
    }
    --workload_.running;
    SetFinished(!stopped && !BreakRequested());
  }

 private:
  Workload& workload_;
};

class ScriptedVidrel : public engine::TVidrel {
 public:
  explicit ScriptedVidrel(Workload& workload) : workload_(workload) {}

 protected:
  std::unique_ptr<engine::TFFmpeg> CreateTask() override { return std::make_unique<SlicedTask>(workload_); }

 private:
  Workload& workload_;
};

// A component whose tasks' video path fails after 20 pictures, once the output has its header and some
// packets: "Video encoding failed".
class FailingVideoTask : public engine::TFFmpeg {
 protected:
  void VideoOutput(engine::TOutputStreamState& ost, engine::TInputStreamState& ist, AVFrame* frame) override {
    if (++pictures_ > 20) throw engine::FFmpegException("Video encoding failed");
    engine::TFFmpeg::VideoOutput(ost, ist, frame);
  }

 private:
  int pictures_ = 0;
};

class FailingVideoVidrel : public engine::TVidrel {
 protected:
  std::unique_ptr<engine::TFFmpeg> CreateTask() override { return std::make_unique<FailingVideoTask>(); }
};

// Every OnTerminate, with the thread it arrived on.
class TerminateLog {
 public:
  void Record(const engine::TTerminateInfo& info) {
    std::lock_guard lock(mutex_);
    infos_.push_back(info);
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
  }
  std::vector<engine::TTerminateInfo> Infos() const {
    std::lock_guard lock(mutex_);
    return infos_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  int CountOf(int task_index) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& info : infos_)
      count += info.TaskIndex == task_index ? 1 : 0;
    return count;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<engine::TTerminateInfo> infos_;
  std::vector<std::thread::id> threads_;
};

// Waits on the main thread, serving its queue, until the condition holds (false after the timeout).
inline bool WaitServing(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    runtime::ServeQueuedCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Lines the engine logged while a test ran: warnings and errors, or down to the level given.
class LogCapture {
 public:
  explicit LogCapture(runtime::TLogLevel lowest = runtime::llWarning) {
    runtime::Logger().SetTriggerEventInMainThread(false);
    runtime::Logger().SetOnLog([this, lowest](const runtime::LogSource*, std::uint32_t,
                                              runtime::TLogLevel level, const std::string& line) {
      std::lock_guard lock(mutex_);
      if (level <= lowest) lines_ += line + "\n";
    });
  }
  ~LogCapture() { runtime::Logger().SetOnLog(nullptr); }
  std::string Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::string lines_;
};

using test_files::MakeFile;
using test_files::TestFolder;

}  // namespace engine_test
