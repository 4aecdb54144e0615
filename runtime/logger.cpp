#include "runtime/logger.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "runtime/main_thread.h"

namespace runtime {
namespace {

constexpr const char* kLevelNames[] = {"quiet",   "panic", "fatal",   "error",
                                       "warning", "info",  "verbose", "debug"};

// The library level the callback filters with; follows the logger's level once the libraries are bound.
std::atomic<int> g_applied_library_level{32};
// avutil's level setter while avutil is bound. It belongs to the process, not to one logger instance: a
// logger created after another was destroyed must still reach the bound library.
std::atomic<decltype(&::av_log_set_level)> g_set_library_level{nullptr};

std::mutex g_instance_mutex;  // guards g_instance and g_owned_instance
TFFLogger* g_instance = nullptr;
std::unique_ptr<TFFLogger> g_owned_instance;

// What the libraries wrote on this thread since its last line end.
thread_local std::string t_pending_line;

TFFLogger* CurrentInstance() {
  std::lock_guard lock(g_instance_mutex);
  return g_instance;
}

// The format comes from the libraries' own av_log calls, checked where they were compiled.
__attribute__((format(printf, 1, 0))) std::string FormatVa(const char* format, va_list arguments) {
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  va_list write;
  va_copy(write, arguments);
  std::vsnprintf(text.data(), text.size(), format, write);
  va_end(write);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string ContextPrefix(void* context) {
  const AVClass* av_class = *static_cast<const AVClass**>(context);
  if (av_class == nullptr || av_class->item_name == nullptr) return {};
  char prefix[256];
  std::snprintf(prefix, sizeof prefix, "[%s @ %p]", av_class->item_name(context), context);
  return prefix;
}

}  // namespace

int LibraryLevelOf(TLogLevel level) {
  return 8 * static_cast<int>(level) - 8;
}

TLogLevel LogLevelOfLibrary(int library_level) {
  const int ordinal = std::clamp(library_level / 8 + 1, 0, static_cast<int>(llDebug));
  return static_cast<TLogLevel>(ordinal);
}

std::uint32_t CurrentThreadId() {
  return static_cast<std::uint32_t>(::gettid());
}

TFFLogger::TFFLogger() : log_level_(LogLevelOfLibrary(g_applied_library_level.load())) {
  std::lock_guard lock(g_instance_mutex);
  if (g_instance != nullptr) throw std::logic_error("Allow creating only one instance of TFFLogger.");
  g_instance = this;
}

TFFLogger::~TFFLogger() {
  std::lock_guard lock(g_instance_mutex);
  if (g_instance == this) g_instance = nullptr;
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  if (log_level_.exchange(level) != level) ApplyLevel();
}

void TFFLogger::SetLogLevelByText(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (int i = 0; i <= llDebug; ++i) {
    if (lower == kLevelNames[i]) {
      SetLogLevel(static_cast<TLogLevel>(i));
      return;
    }
  }
  int library_level = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, library_level);
  if (text.empty() || error != std::errc{} || end != last) {
    throw std::invalid_argument("'" + std::string(text) + "' is not a valid integer value");
  }
  SetLogLevel(LogLevelOfLibrary(library_level));
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  std::lock_guard lock(handler_mutex_);
  on_log_ = std::move(handler);
}

void TFFLogger::Log(const LogSource* sender, TLogLevel level, std::string_view message) {
  const TLogLevel threshold = LogLevel();
  const bool passes = level <= threshold || (level == llVerbose && threshold != llQuiet);
  if (!passes) return;
  Deliver(sender, CurrentThreadId(), level, std::string(message));
}

void TFFLogger::InstallLibraryCallback(const AvUtilEntries& avutil_entries) {
  if (avutil_entries.av_log_set_callback == nullptr || avutil_entries.av_log_set_level == nullptr) {
    throw std::logic_error("the library's logging entry points are not bound");
  }
  avutil_entries.av_log_set_callback(&TFFLogger::LibraryCallback);
  g_set_library_level = avutil_entries.av_log_set_level;
  ApplyLevel();
}

void TFFLogger::ForgetLibrary() {
  g_set_library_level = nullptr;
}

void TFFLogger::ApplyLevel() {
  const auto set_level = g_set_library_level.load();
  if (set_level == nullptr) return;
  const int library_level = LibraryLevelOf(LogLevel());
  g_applied_library_level = library_level;
  set_level(library_level);
}

void TFFLogger::Deliver(const LogSource* sender, std::uint32_t thread_id, TLogLevel level,
                        const std::string& line) {
  TLogEvent handler;
  {
    std::lock_guard lock(handler_mutex_);
    handler = on_log_;
  }
  if (!handler) return;
  if (TriggerEventInMainThread() && !IsMainThread()) {
    RunOnMainThread([&] { handler(sender, thread_id, level, line); });
  } else {
    handler(sender, thread_id, level, line);
  }
}

void TFFLogger::LibraryCallback(void* context, int level, const char* format, va_list arguments) {
  if (level > g_applied_library_level.load()) return;
  std::string text;
  if (context != nullptr && t_pending_line.empty()) text = ContextPrefix(context);
  text += FormatVa(format, arguments);
  t_pending_line += text;

  std::size_t line_end;
  while ((line_end = t_pending_line.find('\n')) != std::string::npos) {
    std::string line = t_pending_line.substr(0, line_end);
    t_pending_line.erase(0, line_end + 1);
    if (TFFLogger* logger = CurrentInstance()) {
      logger->Deliver(logger, CurrentThreadId(), LogLevelOfLibrary(level), line);
    }
  }
}

TFFLogger& Logger() {
  static std::mutex creation_mutex;  // one thread creates the logger; the others then find it
  std::lock_guard creating(creation_mutex);
  if (TFFLogger* existing = CurrentInstance()) return *existing;
  auto created = std::make_unique<TFFLogger>();
  TFFLogger& logger = *created;
  std::lock_guard lock(g_instance_mutex);
  g_owned_instance = std::move(created);
  return logger;
}

}  // namespace runtime
