// The frame hook modules of one task (the "vhook" option): plug-in shared objects whose "Process" entry point
// changes every decoded picture in place. engine/frame_hook_abi.h is the modules' side of the interface.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "engine/frame_hook_abi.h"
#include "runtime/log_source.h"

struct AVFrame;

namespace engine {

// The words of a "vhook" value: split at '|' when the value contains one, else at spaces; runs of
// separators count as one, so no word is empty.
std::vector<std::string> SplitHookArguments(const std::string& text);

// One task's loaded hooks, in the order they were added.
class FrameHookModules {
 public:
  // Results of Add besides 0.
  static constexpr int kLoadFailed = -1;
  static constexpr int kMissingEntryPoint = -2;  // also: no words at all
  static constexpr int kConfigureFailed = -22;

  // Failures are logged on behalf of sender (may be null).
  explicit FrameHookModules(const runtime::LogSource* sender = nullptr) : sender_(sender) {}
  ~FrameHookModules() { Release(); }
  FrameHookModules(const FrameHookModules&) = delete;
  FrameHookModules& operator=(const FrameHookModules&) = delete;

  // Loads the module named by words[0] (once per process for each name as written: a name with a folder is
  // opened by that path, a bare name through the system's library search), configures a new use of it with
  // all the words and appends that use. Returns 0, or kLoadFailed, kMissingEntryPoint or kConfigureFailed
  // with the reason logged at llError; a failed use is not added.
  int Add(const std::vector<std::string>& words);
  bool Empty() const { return hooks_.empty(); }

  // Hands the picture to every hook's Process in order. A frame whose buffers are shared is first made
  // writable (its planes may move); width and height are the picture's, the pixel format is the frame's.
  void Process(AVFrame* frame, int width, int height, std::int64_t pts_us);

  // Calls each hook's Release in order and forgets the hooks; the modules stay loaded.
  void Release();

 private:
  struct Hook {
    FrameHookProcessFn process = nullptr;
    FrameHookReleaseFn release = nullptr;
    void* context = nullptr;
    // The argument vector handed to Configure, kept for the module until Release: a module may keep
    // pointers into it. A list node never moves, so the pointers into these strings stay valid.
    std::vector<std::string> words;
    std::vector<char*> argv;
  };

  const runtime::LogSource* sender_;
  std::list<Hook> hooks_;
};

}  // namespace engine
