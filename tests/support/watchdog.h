// A watchdog for tests that must never hang: armed with a time limit and the name of what runs, it prints
// every thread's stack (through gdb when the machine has it) and aborts the process when the limit passes,
// so a deadlock ends as a failing test with the place it stuck at, not as a test timeout without a word.
// Also runs a child program under the same kind of limit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

extern char** environ;

namespace test_watchdog {

// Prints the stack of every thread of the process to stderr, when gdb is there to read them.
inline void PrintStacks(pid_t process) {
  if (std::system("command -v gdb >/dev/null 2>&1") != 0) return;
  const std::string command = "gdb -p " + std::to_string(process) +
                              " -batch -nx -q -ex 'thread apply all bt' </dev/null 1>&2 2>/dev/null";
  [[maybe_unused]] const int status = std::system(command.c_str());
}

class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // From now on `what` must end within the limit (until the next Arm or Disarm).
  void Arm(std::string what, std::chrono::seconds limit) {
    {
      std::lock_guard lock(mutex_);
      what_ = std::move(what);
      limit_ = limit;
      deadline_ = std::chrono::steady_clock::now() + limit;
      armed_ = true;
    }
    changed_.notify_all();
  }
  void Disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
  }

 private:
  void Watch() {
    std::unique_lock lock(mutex_);
    while (!ended_) {
      if (!armed_) {
        changed_.wait(lock);
        continue;
      }
      if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ && !ended_ &&
          std::chrono::steady_clock::now() >= deadline_) {
        std::fprintf(stderr, "watchdog: %s did not end within %lld s; the stacks of every thread follow\n",
                     what_.c_str(), static_cast<long long>(limit_.count()));
        std::fflush(stderr);
        PrintStacks(::getpid());
        std::abort();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string what_;                                // guarded by mutex_
  std::chrono::seconds limit_{0};                   // guarded by mutex_
  std::chrono::steady_clock::time_point deadline_;  // guarded by mutex_
  bool armed_ = false;                              // guarded by mutex_
  bool ended_ = false;                              // guarded by mutex_
  std::thread thread_;
};

struct WatchedRun {
  bool Hung = false;   // the limit passed: the program's stacks went to stderr and it was aborted
  int Status = -1;     // exit status; 128 + the signal's number when a signal ended it
  std::string Output;  // standard output
};

// Runs `sh -c command` (the command should `exec` the program it watches) with its standard output read
// into Output, and ends it with SIGABRT after printing its stacks when it has not ended within the limit.
inline WatchedRun RunWatched(const std::string& command, std::chrono::seconds limit) {
  WatchedRun run;
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const char* arguments[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t child = -1;
  const int spawned =
      ::posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char**>(arguments), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  if (spawned != 0) {
    ::close(pipe_ends[0]);
    return run;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool output_open = true;
  int status = 0;
  bool exited = false;
  while (true) {
    exited = exited || ::waitpid(child, &status, WNOHANG) == child;
    if (exited && !output_open) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      run.Hung = true;
      std::fprintf(stderr, "watchdog: `%s` did not end within %lld s; its stacks follow\n", command.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      if (!exited) {
        PrintStacks(child);
        ::kill(child, SIGABRT);
        ::waitpid(child, &status, 0);
      }
      break;
    }
    if (!output_open) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    pollfd watched{pipe_ends[0], POLLIN, 0};
    if (::poll(&watched, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t count = ::read(pipe_ends[0], buffer, sizeof buffer);
    if (count <= 0) {
      output_open = false;  // the program (and whatever it started) closed its output
    } else {
      run.Output.append(buffer, static_cast<std::size_t>(count));
    }
  }
  ::close(pipe_ends[0]);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace test_watchdog
