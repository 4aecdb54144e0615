// The single log sink of the media runtime: the libraries' own lines (through the av_log callback, assembled
// into whole lines per thread) and the messages of our components, filtered by one level and handed to OnLog.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "runtime/library_entries.h"
#include "runtime/log_source.h"

namespace runtime {

enum TLogLevel : std::uint8_t { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// llQuiet -8, llPanic 0, ... llDebug 48.
int LibraryLevelOf(TLogLevel level);
// -8 and below llQuiet, -7..7 llPanic, 8..15 llFatal, ... 48 and above llDebug.
TLogLevel LogLevelOfLibrary(int library_level);

using TLogEvent = std::function<void(const LogSource* Sender, std::uint32_t AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger final : public TFFBaseComponent {
 public:
  // At most one logger exists; a second one is a programming error (std::logic_error).
  TFFLogger();
  ~TFFLogger() override;
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  std::string LogSourceName() const override { return "TFFLogger"; }

  TLogLevel LogLevel() const { return log_level_.load(); }
  // Applies the level to the libraries at once when they are bound.
  void SetLogLevel(TLogLevel level);
  // A level name in any case ("debug") or a decimal library level ("20"); anything else throws
  // std::invalid_argument and leaves the level unchanged.
  void SetLogLevelByText(std::string_view text);

  bool TriggerEventInMainThread() const { return trigger_in_main_thread_.load(); }
  void SetTriggerEventInMainThread(bool value) { trigger_in_main_thread_ = value; }
  void SetOnLog(TLogEvent handler);

  // Messages of our components. llQuiet always passes; llVerbose passes unless the level is llQuiet.
  void Log(const LogSource* sender, TLogLevel level, std::string_view message);

  // Hands the library callback to avutil and applies the level; called each time avutil has been bound.
  void InstallLibraryCallback(const AvUtilEntries& avutil_entries);
  // avutil is being unbound: its entry points must not be called any more.
  void ForgetLibrary();

  // The callback avutil calls (public so tests can drive it like the library does).
  __attribute__((format(printf, 3, 0))) static void LibraryCallback(void* context, int level,
                                                                    const char* format, va_list arguments);

 private:
  void ApplyLevel();
  void Deliver(const LogSource* sender, std::uint32_t thread_id, TLogLevel level, const std::string& line);

  std::atomic<TLogLevel> log_level_;
  std::atomic<bool> trigger_in_main_thread_{true};
  mutable std::mutex handler_mutex_;  // guards on_log_
  TLogEvent on_log_;
};

// The process's logger, created on first use.
TFFLogger& Logger();

// Shorthand for Logger().Log(...).
inline void Log(const LogSource* sender, TLogLevel level, std::string_view message) {
  Logger().Log(sender, level, message);
}

std::uint32_t CurrentThreadId();

}  // namespace runtime
