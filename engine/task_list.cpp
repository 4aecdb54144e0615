#include "engine/task_list.h"

#include <stdexcept>
#include <string>

namespace engine {

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  tasks_.push_back(std::move(task));
  return static_cast<int>(tasks_.size()) - 1;
}

TFFmpeg& TFFmpegList::Get(int index) const {
  if (index < 0 || index >= Count()) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  return *tasks_[static_cast<std::size_t>(index)];
}

int TFFmpegList::IndexOf(const TCustomFFmpeg& task) const {
  for (std::size_t index = 0; index < tasks_.size(); ++index) {
    if (tasks_[index].get() == &task) return static_cast<int>(index);
  }
  return -1;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::TakeAll() {
  return std::exchange(tasks_, {});
}

}  // namespace engine
