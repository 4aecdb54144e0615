#include "engine/preview_lock.h"

namespace engine {

std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace engine
