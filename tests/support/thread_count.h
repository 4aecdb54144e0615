// The threads of this process that are alive now: what a test compares before and after a run to see that
// none stayed behind.
#pragma once

#include <filesystem>
#include <thread>

namespace test_threads {

inline int LiveThreads() {
  // ThreadSanitizer starts a thread of its own when the process makes its first thread; one thread made and
  // joined before the first count keeps that one out of the difference.
  static const bool runtime_threads_started = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)runtime_threads_started;
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

}  // namespace test_threads
