// Run-time binding of the media libraries: which libraries exist, which sets the components load, and the
// loader that opens them (from a given folder first, else through the system's library search) and fills the
// entry table.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <string>

#include "runtime/library_entries.h"

namespace runtime {

// In loading order.
enum TLibraryKind : std::uint8_t {
  lkAvCodec,
  lkAvDevice,
  lkAvFilter,
  lkAvFormat,
  lkAvUtil,
  lkSwScale,
  lkSwResample,
  lkSDL,
  lkOpenCoreAmrNb,
};
inline constexpr int kLibraryKindCount = lkOpenCoreAmrNb + 1;

// A set of library kinds.
class TLibraryKinds {
 public:
  constexpr TLibraryKinds() = default;
  constexpr TLibraryKinds(std::initializer_list<TLibraryKind> kinds) {
    for (TLibraryKind kind : kinds)
      bits_ |= Bit(kind);
  }
  constexpr bool Contains(TLibraryKind kind) const { return (bits_ & Bit(kind)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLibraryKinds With(TLibraryKind kind) const {
    TLibraryKinds result = *this;
    result.bits_ |= Bit(kind);
    return result;
  }
  friend constexpr bool operator==(TLibraryKinds, TLibraryKinds) = default;

 private:
  static constexpr std::uint32_t Bit(TLibraryKind kind) { return std::uint32_t{1} << kind; }
  std::uint32_t bits_ = 0;
};

inline constexpr TLibraryKinds EngineLibraries{lkAvCodec, lkAvFilter, lkAvFormat,
                                               lkAvUtil,  lkSwScale,  lkSwResample};
inline constexpr TLibraryKinds PlayerLibraries{lkAvCodec, lkAvFormat,   lkAvUtil,
                                               lkSwScale, lkSwResample, lkSDL};

// Static description of one library.
struct TLibraryItem {
  TLibraryKind Kind;
  const char* BaseName;  // "avcodec"
  const char* SoName;    // "libavcodec.so.59"
  int VersionNumber;     // the major version the headers were built for; -1 when not checked
};

const TLibraryItem& LibraryItem(TLibraryKind kind);

// Loads library sets and binds their entry points into its table. The process has one (FFmpegLoader()); tests
// make their own to load from folders of their choosing.
//
// Threads: loading and unloading happen on one thread (the main thread) before workers use the table; the
// table is then read without locking.
class TFFmpegLoader {
 public:
  TFFmpegLoader();
  ~TFFmpegLoader();
  TFFmpegLoader(const TFFmpegLoader&) = delete;
  TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

  // The folder to load from; empty: the system's library search alone.
  void SetLibraryPath(std::filesystem::path path) { library_path_ = std::move(path); }
  const std::filesystem::path& LibraryPath() const { return library_path_; }

  // Loads and binds every library of the set that is not yet bound. On a failure LastError() says why and
  // the libraries this call loaded are released again; libraries loaded earlier (for another set) stay.
  bool LoadLibraries(TLibraryKinds kinds);
  bool LibrariesLoaded(TLibraryKinds kinds) const;
  bool LibraryLoaded(TLibraryKind kind) const;
  void UnloadLibraries(TLibraryKinds kinds);

  const std::string& LastError() const { return last_error_; }
  const EntryTable& Entries() const { return entries_; }
  // How many times a library file was opened; loading a bound set again opens none.
  int ModuleLoadCount() const { return module_load_count_; }

 private:
  struct TLibraryStatus {
    void* Module = nullptr;
    std::string FileName;  // what the module was opened as: a path in the library folder, or the soname
    bool Bound = false;
  };

  bool LoadLibrary(TLibraryKind kind, bool& opened_now);
  void* OpenModule(const TLibraryItem& item, std::string& attempted_name);
  bool Bind(TLibraryKind kind, const std::string& file_name);
  void Unbind(TLibraryKind kind);
  void UnloadLibrary(TLibraryKind kind);
  void AfterBind(TLibraryKind kind);

  std::filesystem::path library_path_;
  std::string last_error_;
  std::array<TLibraryStatus, kLibraryKindCount> status_{};
  EntryTable entries_{};
  int module_load_count_ = 0;
};

// The process's loader and its table.
TFFmpegLoader& FFmpegLoader();

inline const AvUtilEntries& avutil() {
  return FFmpegLoader().Entries().avutil;
}
inline const AvCodecEntries& avcodec() {
  return FFmpegLoader().Entries().avcodec;
}
inline const AvFormatEntries& avformat() {
  return FFmpegLoader().Entries().avformat;
}
inline const AvFilterEntries& avfilter() {
  return FFmpegLoader().Entries().avfilter;
}
inline const SwScaleEntries& swscale() {
  return FFmpegLoader().Entries().swscale;
}
inline const SwResampleEntries& swresample() {
  return FFmpegLoader().Entries().swresample;
}
inline const SdlEntries& sdl() {
  return FFmpegLoader().Entries().sdl;
}
inline const OpenCoreAmrNbEntries& amrnb() {
  return FFmpegLoader().Entries().amrnb;
}

// Held around every codec open and close in the engine, the probe and the player, and nowhere else.
std::mutex& CodecLock();

// "avcodec 59.37.100, avformat 59.27.100, ..." for the bound libraries of the set.
std::string BoundLibraryVersions(TLibraryKinds kinds);

}  // namespace runtime
