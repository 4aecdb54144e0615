#pragma once

#include <mutex>

namespace engine {

// Process-wide: held while a task's preview flags change and while the preview step reads them, never while
// a call waits for the main thread.
std::mutex& PreviewLock();

}  // namespace engine
