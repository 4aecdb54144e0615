#include "engine/frame_hook_modules.h"

#include <dlfcn.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "runtime/library_loader.h"
#include "runtime/logger.h"

namespace engine {
namespace {

// Every module this process has loaded, by its name as the option wrote it. Modules are never unloaded:
// hooks of running tasks may still call into them, and a module that started threads cannot be unloaded
// safely at all.
class ModuleCache {
 public:
  // The module, loading it on first use; null with error set when it cannot be loaded.
  void* Find(const std::string& file_name, std::string& error) {
    const std::lock_guard lock(mutex_);
    if (auto found = modules_.find(file_name); found != modules_.end()) return found->second;
    ::dlerror();
    void* module = ::dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* text = ::dlerror();
      error = text != nullptr ? text : "cannot load " + file_name;
      return nullptr;
    }
    modules_.emplace(file_name, module);
    return module;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, void*> modules_;
};

ModuleCache& Modules() {
  static ModuleCache cache;
  return cache;
}

template <class Fn>
Fn EntryPoint(void* module, const char* name) {
  return reinterpret_cast<Fn>(::dlsym(module, name));
}

}  // namespace

std::vector<std::string> SplitHookArguments(const std::string& text) {
  const char separator = text.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = text.find_first_not_of(separator, position);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(text.find(separator, start), text.size());
    words.push_back(text.substr(start, end - start));
    position = end;
  }
  return words;
}

int FrameHookModules::Add(const std::vector<std::string>& words) {
  if (words.empty()) return kMissingEntryPoint;
  const std::string& file_name = words.front();
  std::string error;
  void* module = Modules().Find(file_name, error);
  if (module == nullptr) {
    runtime::Log(sender_, runtime::llError, error);
    return kLoadFailed;
  }

  Hook hook;
  const auto configure = EntryPoint<FrameHookConfigureFn>(module, "Configure");
  hook.process = EntryPoint<FrameHookProcessFn>(module, "Process");
  hook.release = EntryPoint<FrameHookReleaseFn>(module, "Release");
  if (hook.process == nullptr) {
    runtime::Log(sender_, runtime::llError, "Failed to find Process entrypoint in " + file_name);
    return kMissingEntryPoint;
  }
  if (configure == nullptr && words.size() > 1) {
    runtime::Log(sender_, runtime::llError, "Failed to find Configure entrypoint in " + file_name);
    return kMissingEntryPoint;
  }

  Hook& added = hooks_.emplace_back(std::move(hook));
  added.words = words;
  for (std::string& word : added.words)
    added.argv.push_back(word.data());
  added.argv.push_back(nullptr);  // as a C program's argv ends
  if (configure != nullptr &&
      configure(&added.context, static_cast<int>(words.size()), added.argv.data()) != 0) {
    hooks_.pop_back();
    runtime::Log(sender_, runtime::llError, "Failed to Configure " + file_name);
    return kConfigureFailed;
  }
  return 0;
}

void FrameHookModules::Process(AVFrame* frame, int width, int height, std::int64_t pts_us) {
  if (hooks_.empty() || frame == nullptr) return;
  // A frame without buffers of its own is a picture its caller owns and lets us write into.
  if (frame->buf[0] != nullptr) {
    const int result = runtime::avutil().av_frame_make_writable(frame);
    if (result < 0) {
      runtime::Log(sender_, runtime::llError, "Cannot make the frame writable for the frame hooks");
      return;
    }
  }
  HookPicture picture{};
  std::copy_n(frame->data, 4, picture.data);
  std::copy_n(frame->linesize, 4, picture.linesize);
  for (const Hook& hook : hooks_)
    hook.process(hook.context, &picture, frame->format, width, height, pts_us);
}

void FrameHookModules::Release() {
  for (const Hook& hook : hooks_) {
    if (hook.release != nullptr) hook.release(hook.context);
  }
  hooks_.clear();
}

}  // namespace engine
