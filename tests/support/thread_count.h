// The threads of this process that are alive now: what a test compares before and after a run to see that
// none stayed behind.
#pragma once

#include <filesystem>

namespace test_threads {

inline int LiveThreads() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

}  // namespace test_threads
