// The engine component's owning list of tasks.
#pragma once

#include <memory>
#include <vector>

#include "engine/task.h"

namespace engine {

class TFFmpegList {
 public:
  int Add(std::unique_ptr<TFFmpeg> task);
  // Throws std::out_of_range for an index outside the list.
  TFFmpeg& Get(int index) const;
  // -1 when the task is not in the list.
  int IndexOf(const TCustomFFmpeg& task) const;
  int Count() const { return static_cast<int>(tasks_.size()); }
  // Hands every task out of the list (the caller frees them).
  std::vector<std::unique_ptr<TFFmpeg>> TakeAll();

  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& task : tasks_)
      fn(*task);
  }

 private:
  std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};

}  // namespace engine
