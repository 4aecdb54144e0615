#include "runtime/library_loader.h"

#include <dlfcn.h>

#include <cassert>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "runtime/logger.h"

namespace runtime {
namespace {

constexpr TLibraryItem kLibraries[kLibraryKindCount] = {
    {lkAvCodec, "avcodec", "libavcodec.so.59", LIBAVCODEC_VERSION_MAJOR},
    {lkAvDevice, "avdevice", "libavdevice.so.59", 59},
    {lkAvFilter, "avfilter", "libavfilter.so.8", LIBAVFILTER_VERSION_MAJOR},
    {lkAvFormat, "avformat", "libavformat.so.59", LIBAVFORMAT_VERSION_MAJOR},
    {lkAvUtil, "avutil", "libavutil.so.57", LIBAVUTIL_VERSION_MAJOR},
    {lkSwScale, "swscale", "libswscale.so.6", LIBSWSCALE_VERSION_MAJOR},
    {lkSwResample, "swresample", "libswresample.so.4", LIBSWRESAMPLE_VERSION_MAJOR},
    {lkSDL, "SDL2", "libSDL2-2.0.so.0", SDL_MAJOR_VERSION},
    {lkOpenCoreAmrNb, "opencore-amrnb", "libopencore-amrnb.so.0", -1},
};

class BindError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string DlErrorText() {
  const char* text = ::dlerror();
  return text != nullptr ? text : "unknown error";
}

template <class Entries>
void BindEntries(Entries& entries, void* module, const std::string& file_name) {
  ForEachEntry(entries, [&](const char* name, auto& slot) {
    ::dlerror();
    void* symbol = ::dlsym(module, name);
    if (symbol == nullptr) {
      throw BindError("Load function " + std::string(name) + "@" + file_name + " error: " + DlErrorText());
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
  });
}

template <class Entries>
void ClearEntries(Entries& entries) {
  ForEachEntry(entries, [](const char*, auto& slot) { slot = nullptr; });
}

// The bound library's own version number, for the check against the headers' major version.
unsigned BoundVersion(TLibraryKind kind, const EntryTable& table) {
  switch (kind) {
    case lkAvCodec:
      return table.avcodec.avcodec_version();
    case lkAvDevice:
      return table.avdevice.avdevice_version();
    case lkAvFilter:
      return table.avfilter.avfilter_version();
    case lkAvFormat:
      return table.avformat.avformat_version();
    case lkAvUtil:
      return table.avutil.avutil_version();
    case lkSwScale:
      return table.swscale.swscale_version();
    case lkSwResample:
      return table.swresample.swresample_version();
    case lkSDL: {
      SDL_version version{};
      table.sdl.SDL_GetVersion(&version);
      return AV_VERSION_INT(version.major, version.minor, version.patch);
    }
    case lkOpenCoreAmrNb:
      break;
  }
  return 0;
}

template <class Fn>
void VisitEntries(TLibraryKind kind, EntryTable& table, Fn&& fn) {
  switch (kind) {
    case lkAvCodec:
      fn(table.avcodec);
      break;
    case lkAvDevice:
      fn(table.avdevice);
      break;
    case lkAvFilter:
      fn(table.avfilter);
      break;
    case lkAvFormat:
      fn(table.avformat);
      break;
    case lkAvUtil:
      fn(table.avutil);
      break;
    case lkSwScale:
      fn(table.swscale);
      break;
    case lkSwResample:
      fn(table.swresample);
      break;
    case lkSDL:
      fn(table.sdl);
      break;
    case lkOpenCoreAmrNb:
      fn(table.amrnb);
      break;
  }
}

void RequireSet(TLibraryKinds kinds) {
  if (kinds.Empty()) throw std::logic_error("an empty library set was passed to the loader");
}

}  // namespace

const TLibraryItem& LibraryItem(TLibraryKind kind) {
  return kLibraries[kind];
}

TFFmpegLoader::TFFmpegLoader() = default;

// Libraries still loaded go with the process, as the entry points handed to them (the log callback) may be
// called until its end.
TFFmpegLoader::~TFFmpegLoader() = default;

bool TFFmpegLoader::LoadLibraries(TLibraryKinds kinds) {
  RequireSet(kinds);
  TLibraryKinds opened_by_this_call;
  for (int index = 0; index < kLibraryKindCount; ++index) {
    const auto kind = static_cast<TLibraryKind>(index);
    if (!kinds.Contains(kind)) continue;
    bool opened_now = false;
    const bool bound = LoadLibrary(kind, opened_now);
    if (opened_now) opened_by_this_call = opened_by_this_call.With(kind);
    if (!bound) {
      // Libraries that another set loaded earlier stay: their users still call into them.
      if (!opened_by_this_call.Empty()) UnloadLibraries(opened_by_this_call);
      return false;
    }
  }
  return true;
}

bool TFFmpegLoader::LibrariesLoaded(TLibraryKinds kinds) const {
  RequireSet(kinds);
  for (int index = 0; index < kLibraryKindCount; ++index) {
    const auto kind = static_cast<TLibraryKind>(index);
    if (kinds.Contains(kind) && !LibraryLoaded(kind)) return false;
  }
  return true;
}

bool TFFmpegLoader::LibraryLoaded(TLibraryKind kind) const {
  return status_[kind].Module != nullptr && status_[kind].Bound;
}

void TFFmpegLoader::UnloadLibraries(TLibraryKinds kinds) {
  RequireSet(kinds);
  for (int index = 0; index < kLibraryKindCount; ++index) {
    const auto kind = static_cast<TLibraryKind>(index);
    if (kinds.Contains(kind)) UnloadLibrary(kind);
  }
}

bool TFFmpegLoader::LoadLibrary(TLibraryKind kind, bool& opened_now) {
  TLibraryStatus& status = status_[kind];
  const TLibraryItem& item = kLibraries[kind];
  if (status.Module == nullptr) {
    std::string file_name;
    void* module = OpenModule(item, file_name);
    if (module == nullptr) {
      std::string named = item.SoName;
      if (!library_path_.empty()) named = (library_path_ / item.SoName).string();
      last_error_ = "Load library " + named + " error: " + DlErrorText();
      return false;
    }
    status.Module = module;
    status.FileName = file_name;
    opened_now = true;
    ++module_load_count_;
  }
  if (!status.Bound) {
    try {
      status.Bound = Bind(kind, status.FileName);
    } catch (const BindError& error) {
      last_error_ = error.what();
    }
  }
  if (!status.Bound) {
    UnloadLibrary(kind);
    opened_now = false;
    return false;
  }
  AfterBind(kind);
  return true;
}

void* TFFmpegLoader::OpenModule(const TLibraryItem& item, std::string& file_name) {
  std::error_code ignored;
  if (!library_path_.empty()) {
    const std::filesystem::path candidate = library_path_ / item.SoName;
    if (std::filesystem::is_regular_file(candidate, ignored)) {
      file_name = candidate.string();
      ::dlerror();
      return ::dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
  }
  file_name = item.SoName;
  ::dlerror();
  return ::dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

bool TFFmpegLoader::Bind(TLibraryKind kind, const std::string& file_name) {
  void* module = status_[kind].Module;
  try {
    VisitEntries(kind, entries_, [&](auto& entries) { BindEntries(entries, module, file_name); });
  } catch (...) {
    Unbind(kind);
    throw;
  }
  const int required_major = kLibraries[kind].VersionNumber;
  if (required_major >= 0) {
    const unsigned version = BoundVersion(kind, entries_);
    const int major = static_cast<int>(version >> 16);
    if (major != required_major) {
      Unbind(kind);
      char text[256];
      std::snprintf(text, sizeof text, "Library %s has version %u.%u.%u; this program needs major version %d",
                    file_name.c_str(), version >> 16, (version >> 8) & 0xFF, version & 0xFF, required_major);
      throw BindError(text);
    }
  }
  return true;
}

void TFFmpegLoader::Unbind(TLibraryKind kind) {
  if (kind == lkAvUtil && entries_.avutil.av_log_set_callback != nullptr) Logger().ForgetLibrary();
  VisitEntries(kind, entries_, [](auto& entries) { ClearEntries(entries); });
}

void TFFmpegLoader::UnloadLibrary(TLibraryKind kind) {
  TLibraryStatus& status = status_[kind];
  if (status.Bound) {
    Unbind(kind);
    status.Bound = false;
  }
  if (status.Module != nullptr) {
    ::dlclose(status.Module);
    status.Module = nullptr;
  }
  status.FileName.clear();
}

void TFFmpegLoader::AfterBind(TLibraryKind kind) {
  // Local files reach the format library through the file layer that each format context gets (io_open),
  // so the format library needs no registration step here.
  if (kind == lkAvUtil) Logger().InstallLibraryCallback(entries_.avutil);
}

TFFmpegLoader& FFmpegLoader() {
  static TFFmpegLoader loader;
  return loader;
}

std::mutex& CodecLock() {
  static std::mutex lock;
  return lock;
}

std::string BoundLibraryVersions(TLibraryKinds kinds) {
  TFFmpegLoader& loader = FFmpegLoader();
  std::string text;
  for (int index = 0; index < kLibraryKindCount; ++index) {
    const auto kind = static_cast<TLibraryKind>(index);
    if (!kinds.Contains(kind) || !loader.LibraryLoaded(kind) || kLibraries[kind].VersionNumber < 0) continue;
    const unsigned version = BoundVersion(kind, loader.Entries());
    char part[64];
    std::snprintf(part, sizeof part, "%s %u.%u.%u", kLibraries[kind].BaseName, version >> 16,
                  (version >> 8) & 0xFF, version & 0xFF);
    if (!text.empty()) text += ", ";
    text += part;
  }
  return text;
}

}  // namespace runtime
