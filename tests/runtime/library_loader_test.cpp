#include "runtime/library_loader.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/logger.h"
#include "support/test_files.h"

namespace runtime {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr TLibraryKind kAllKinds[] = {lkAvCodec, lkAvDevice,   lkAvFilter, lkAvFormat,     lkAvUtil,
                                      lkSwScale, lkSwResample, lkSDL,      lkOpenCoreAmrNb};

// A library folder of the running test case's own, under the build tree.
class LibraryFolder {
 public:
  explicit LibraryFolder(const std::string& name = "") {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::path(TARVELLO_TEST_BINARY_DIR) / "library_folders" /
            (std::string(test->test_suite_name()) + "." + test->name()) / name;
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~LibraryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  LibraryFolder(const LibraryFolder&) = delete;
  LibraryFolder& operator=(const LibraryFolder&) = delete;

  const fs::path& Path() const { return path_; }

  // A file that is no shared object at all, as left behind by a broken download.
  fs::path AddBrokenLibrary(const std::string& file_name) const {
    const fs::path file = path_ / file_name;
    std::ofstream(file) << "this is not a shared library\n";
    return file;
  }
  fs::path AddLibraryAs(const fs::path& source, const std::string& file_name) const {
    const fs::path file = path_ / file_name;
    fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    return file;
  }

 private:
  fs::path path_;
};

// What the system reports when a symbol is looked up in the library file.
std::string LookupErrorOf(const fs::path& file, const char* symbol) {
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return "(does not open)";
  ::dlerror();
  std::string text = ::dlsym(handle, symbol) == nullptr ? ::dlerror() : "(found)";
  ::dlclose(handle);
  return text;
}

// Whether the process has the shared object mapped (by soname or path), without loading it.
bool ProcessHasMapped(const std::string& name) {
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

// Keeps the system's copies of the libraries mapped until the process ends, for tests in which the loader
// releases them: the leak checker could otherwise neither reach nor name what their dependencies allocated at
// start-up once they are unmapped. Whether the loader releases a module is checked with the fake libraries.
void KeepSystemLibrariesMapped(TLibraryKinds kinds) {
  for (TLibraryKind kind : kAllKinds) {
    if (kinds.Contains(kind)) {
      ASSERT_NE(::dlopen(LibraryItem(kind).SoName, RTLD_NOW | RTLD_LOCAL), nullptr) << ::dlerror();
    }
  }
}

void ExpectNothingOfSetBound(const TFFmpegLoader& loader, TLibraryKinds kinds) {
  for (TLibraryKind kind : kAllKinds) {
    if (kinds.Contains(kind)) {
      EXPECT_FALSE(loader.LibraryLoaded(kind)) << LibraryItem(kind).SoName;
    }
  }
  EXPECT_FALSE(loader.LibrariesLoaded(kinds));
  const EntryTable& entries = loader.Entries();
  EXPECT_EQ(entries.avcodec.avcodec_version, nullptr);
  EXPECT_EQ(entries.avcodec.avcodec_send_packet, nullptr);
  EXPECT_EQ(entries.avformat.avformat_open_input, nullptr);
  EXPECT_EQ(entries.avutil.av_log, nullptr);
  EXPECT_EQ(entries.avfilter.avfilter_graph_alloc, nullptr);
  EXPECT_EQ(entries.swscale.swscale_version, nullptr);
  EXPECT_EQ(entries.swscale.sws_scale, nullptr);
}

TEST(LibraryLoader, BrokenLibraryFileFailsNamingFolderAndFileAndReleasesTheSet) {
  // avcodec is the first library of the set; swscale comes after four others that this call opens and must
  // release again.
  KeepSystemLibrariesMapped(EngineLibraries);
  for (const std::string soname : {"libavcodec.so.59", "libswscale.so.6"}) {
    SCOPED_TRACE(soname);
    const LibraryFolder folder("broken_" + soname);
    const fs::path broken = folder.AddBrokenLibrary(soname);
    TFFmpegLoader loader;
    loader.SetLibraryPath(folder.Path());

    EXPECT_FALSE(loader.LoadLibraries(EngineLibraries));

    EXPECT_EQ(loader.LastError(),
              "Load library " + broken.string() + " error: " + test_files::LibraryOpenError(broken));
    ExpectNothingOfSetBound(loader, EngineLibraries);
  }
}

TEST(LibraryLoader, MissingEntryPointReleasesTheLibraryWithEverySlotCleared) {
  const LibraryFolder folder;
  const fs::path fake = folder.AddLibraryAs(TARVELLO_FAKE_SWSCALE_MISSING_ENTRY, "libswscale.so.6");
  const std::string lookup_error = LookupErrorOf(fake, "sws_getContext");
  ASSERT_THAT(lookup_error, HasSubstr("sws_getContext"));
  KeepSystemLibrariesMapped({lkAvUtil});
  TFFmpegLoader loader;
  loader.SetLibraryPath(folder.Path());

  EXPECT_FALSE(loader.LoadLibraries({lkAvUtil, lkSwScale}));

  EXPECT_EQ(loader.LastError(), "Load function sws_getContext@" + fake.string() + " error: " + lookup_error);
  EXPECT_FALSE(loader.LibraryLoaded(lkSwScale));
  EXPECT_FALSE(loader.LibraryLoaded(lkAvUtil)) << "opened by the failing call, so released with it";
  const SwScaleEntries& swscale_entries = loader.Entries().swscale;
  // The two entries the fake does export were bound before the failure and must be cleared again.
  EXPECT_EQ(swscale_entries.swscale_version, nullptr);
  EXPECT_EQ(swscale_entries.sws_get_class, nullptr);
  EXPECT_EQ(swscale_entries.sws_getContext, nullptr);
  EXPECT_EQ(swscale_entries.sws_scale, nullptr);
  EXPECT_EQ(loader.Entries().avutil.av_log, nullptr);
  EXPECT_FALSE(ProcessHasMapped(fake.string())) << "the module was not released";
}

TEST(LibraryLoader, LibraryOfAnotherMajorVersionIsRefused) {
  const LibraryFolder folder;
  const fs::path fake = folder.AddLibraryAs(TARVELLO_FAKE_SWRESAMPLE_OLD_VERSION, "libswresample.so.4");
  TFFmpegLoader loader;
  loader.SetLibraryPath(folder.Path());

  EXPECT_FALSE(loader.LoadLibraries({lkSwResample}));

  EXPECT_THAT(loader.LastError(), HasSubstr(fake.string()));
  EXPECT_THAT(loader.LastError(), HasSubstr("3.9.100"));
  EXPECT_THAT(loader.LastError(), HasSubstr("major version " + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR)));
  EXPECT_FALSE(loader.LibraryLoaded(lkSwResample));
  EXPECT_EQ(loader.Entries().swresample.swresample_version, nullptr);
  EXPECT_EQ(loader.Entries().swresample.swr_convert, nullptr);
  EXPECT_FALSE(ProcessHasMapped(fake.string())) << "the module was not released";
}

void DiscardingLogCallback(void*, int, const char*, va_list) {}

TEST(LibraryLoader, LoadingABoundSetAgainOpensNothingAndReinstallsTheLogger) {
  TFFmpegLoader loader;
  ASSERT_TRUE(loader.LoadLibraries(EngineLibraries)) << loader.LastError();
  const int opened = loader.ModuleLoadCount();
  EXPECT_EQ(opened, 6);
  // Something else took over the library's logging meanwhile.
  const AvUtilEntries& avutil_entries = loader.Entries().avutil;
  avutil_entries.av_log_set_callback(&DiscardingLogCallback);
  avutil_entries.av_log_set_level(AV_LOG_PANIC);
  std::vector<std::string> lines;
  Logger().SetTriggerEventInMainThread(false);
  Logger().SetOnLog(
      [&](const LogSource*, std::uint32_t, TLogLevel, const std::string& line) { lines.push_back(line); });

  EXPECT_TRUE(loader.LoadLibraries(EngineLibraries));

  EXPECT_EQ(loader.ModuleLoadCount(), opened);
  EXPECT_TRUE(loader.LibrariesLoaded(EngineLibraries));
  EXPECT_EQ(avutil_entries.av_log_get_level(), LibraryLevelOf(Logger().LogLevel()));
  avutil_entries.av_log(nullptr, AV_LOG_ERROR, "reached the logger\n");
  EXPECT_THAT(lines, testing::ElementsAre("reached the logger"));
  Logger().SetOnLog(nullptr);
}

TEST(LibraryLoader, LoadsThroughTheSystemSearchWithoutPathOrWhenTheFolderLacksTheFile) {
  void* system_avutil = ::dlopen("libavutil.so.57", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(system_avutil, nullptr) << ::dlerror();
  const void* system_version_entry = ::dlsym(system_avutil, "avutil_version");
  const LibraryFolder empty_folder;
  for (const fs::path& library_path : {fs::path(), empty_folder.Path()}) {
    SCOPED_TRACE("library path '" + library_path.string() + "'");
    TFFmpegLoader loader;
    loader.SetLibraryPath(library_path);

    ASSERT_TRUE(loader.LoadLibraries({lkAvUtil})) << loader.LastError();

    EXPECT_EQ(reinterpret_cast<const void*>(loader.Entries().avutil.avutil_version), system_version_entry);
  }
  ::dlclose(system_avutil);
}

TEST(LibraryLoader, FailingSetKeepsTheLibrariesAnotherSetLoaded) {
  const LibraryFolder folder;
  const fs::path broken_sdl = folder.AddBrokenLibrary("libSDL2-2.0.so.0");
  TFFmpegLoader loader;
  ASSERT_TRUE(loader.LoadLibraries(EngineLibraries)) << loader.LastError();
  loader.SetLibraryPath(folder.Path());

  EXPECT_FALSE(loader.LoadLibraries(PlayerLibraries));

  EXPECT_THAT(loader.LastError(), StartsWith("Load library " + broken_sdl.string() + " error: "));
  EXPECT_FALSE(loader.LibraryLoaded(lkSDL));
  EXPECT_TRUE(loader.LibrariesLoaded(EngineLibraries));
  EXPECT_EQ(loader.Entries().avcodec.avcodec_version() >> 16, unsigned{LIBAVCODEC_VERSION_MAJOR});
  EXPECT_EQ(loader.Entries().avutil.avutil_version() >> 16, unsigned{LIBAVUTIL_VERSION_MAJOR});
  EXPECT_EQ(loader.Entries().swresample.swresample_version() >> 16, unsigned{LIBSWRESAMPLE_VERSION_MAJOR});
  EXPECT_NE(loader.Entries().avformat.avformat_alloc_context, nullptr);
}

TEST(LibraryLoader, FailingSetReleasesOnlyWhatItOpenedItself) {
  const LibraryFolder folder;
  folder.AddBrokenLibrary("libSDL2-2.0.so.0");
  KeepSystemLibrariesMapped(PlayerLibraries);
  TFFmpegLoader loader;
  ASSERT_TRUE(loader.LoadLibraries({lkAvUtil})) << loader.LastError();
  loader.SetLibraryPath(folder.Path());

  EXPECT_FALSE(loader.LoadLibraries(PlayerLibraries));

  EXPECT_TRUE(loader.LibraryLoaded(lkAvUtil));
  EXPECT_EQ(loader.Entries().avutil.avutil_version() >> 16, unsigned{LIBAVUTIL_VERSION_MAJOR});
  for (TLibraryKind kind : {lkAvCodec, lkAvFormat, lkSwScale, lkSwResample, lkSDL}) {
    EXPECT_FALSE(loader.LibraryLoaded(kind)) << LibraryItem(kind).SoName;
  }
  EXPECT_EQ(loader.Entries().avcodec.avcodec_version, nullptr);
  EXPECT_EQ(loader.Entries().avformat.avformat_open_input, nullptr);
  EXPECT_EQ(loader.Entries().swresample.swr_convert, nullptr);
}

TEST(LibraryLoader, EachSetLoadsExactlyItsOwnLibraries) {
  EXPECT_FALSE(EngineLibraries.Contains(lkSDL));
  EXPECT_FALSE(PlayerLibraries.Contains(lkAvFilter));
  EXPECT_FALSE(EngineLibraries.Contains(lkAvDevice));
  EXPECT_FALSE(PlayerLibraries.Contains(lkAvDevice));

  TFFmpegLoader engine_loader;
  ASSERT_TRUE(engine_loader.LoadLibraries(EngineLibraries)) << engine_loader.LastError();
  TFFmpegLoader player_loader;
  ASSERT_TRUE(player_loader.LoadLibraries(PlayerLibraries)) << player_loader.LastError();

  int engine_count = 0;
  int player_count = 0;
  for (TLibraryKind kind : kAllKinds) {
    EXPECT_EQ(engine_loader.LibraryLoaded(kind), EngineLibraries.Contains(kind)) << LibraryItem(kind).SoName;
    EXPECT_EQ(player_loader.LibraryLoaded(kind), PlayerLibraries.Contains(kind)) << LibraryItem(kind).SoName;
    engine_count += EngineLibraries.Contains(kind) ? 1 : 0;
    player_count += PlayerLibraries.Contains(kind) ? 1 : 0;
  }
  EXPECT_EQ(engine_loader.ModuleLoadCount(), engine_count);
  EXPECT_EQ(player_loader.ModuleLoadCount(), player_count);
  EXPECT_EQ(engine_loader.Entries().sdl.SDL_Init, nullptr);
  EXPECT_EQ(player_loader.Entries().avfilter.avfilter_graph_alloc, nullptr);
  EXPECT_EQ(engine_loader.Entries().avdevice.avdevice_version, nullptr);
  EXPECT_EQ(player_loader.Entries().avdevice.avdevice_version, nullptr);
  EXPECT_NE(player_loader.Entries().sdl.SDL_GetVersion, nullptr);
}

// The process maps nothing beyond the set's libraries and what they depend on. Shared objects loaded by an
// earlier test of the same process go unchecked.
void ExpectSetMapsNone(TLibraryKinds kinds, std::initializer_list<const char*> never_mapped) {
  std::vector<const char*> unmapped;
  for (const char* soname : never_mapped) {
    if (!ProcessHasMapped(soname)) unmapped.push_back(soname);
  }
  TFFmpegLoader loader;
  ASSERT_TRUE(loader.LoadLibraries(kinds)) << loader.LastError();
  for (const char* soname : unmapped) {
    EXPECT_FALSE(ProcessHasMapped(soname)) << soname;
  }
}

TEST(LibraryLoader, EngineSetMapsNeitherSdlNorAvdevice) {
  ExpectSetMapsNone(EngineLibraries, {"libSDL2-2.0.so.0", "libavdevice.so.59"});
}

TEST(LibraryLoader, PlayerSetMapsNeitherAvfilterNorAvdevice) {
  ExpectSetMapsNone(PlayerLibraries, {"libavfilter.so.8", "libavdevice.so.59"});
}

TEST(LibraryLoader, EmptySetIsAProgrammingError) {
  TFFmpegLoader loader;
  EXPECT_THROW(loader.LoadLibraries({}), std::logic_error);
  EXPECT_THROW(static_cast<void>(loader.LibrariesLoaded({})), std::logic_error);
  EXPECT_THROW(loader.UnloadLibraries({}), std::logic_error);
  EXPECT_EQ(loader.ModuleLoadCount(), 0);
}

TEST(LibraryLoader, UnloadingClearsTheSlotsAndLoadingAgainBindsAgain) {
  KeepSystemLibrariesMapped(EngineLibraries);
  TFFmpegLoader loader;
  ASSERT_TRUE(loader.LoadLibraries(EngineLibraries)) << loader.LastError();

  loader.UnloadLibraries({lkAvCodec, lkSwScale});

  EXPECT_FALSE(loader.LibraryLoaded(lkAvCodec));
  EXPECT_FALSE(loader.LibraryLoaded(lkSwScale));
  EXPECT_TRUE(loader.LibraryLoaded(lkAvFormat));
  EXPECT_EQ(loader.Entries().avcodec.avcodec_version, nullptr);
  EXPECT_EQ(loader.Entries().swscale.sws_scale, nullptr);
  ASSERT_TRUE(loader.LoadLibraries(EngineLibraries)) << loader.LastError();
  EXPECT_EQ(loader.ModuleLoadCount(), 8);
  EXPECT_EQ(loader.Entries().avcodec.avcodec_version() >> 16, unsigned{LIBAVCODEC_VERSION_MAJOR});
}

TEST(LibraryLoader, BoundVersionsListTheLoadedLibrariesOfTheSet) {
  ASSERT_TRUE(FFmpegLoader().LoadLibraries(EngineLibraries)) << FFmpegLoader().LastError();
  const auto version = [](const char* name, int major) {
    return std::string(name) + " " + std::to_string(major) + "\\.[0-9]+\\.[0-9]+";
  };
  const std::regex engine_versions(
      version("avcodec", LIBAVCODEC_VERSION_MAJOR) + ", " + version("avfilter", LIBAVFILTER_VERSION_MAJOR) +
      ", " + version("avformat", LIBAVFORMAT_VERSION_MAJOR) + ", " +
      version("avutil", LIBAVUTIL_VERSION_MAJOR) + ", " + version("swscale", LIBSWSCALE_VERSION_MAJOR) +
      ", " + version("swresample", LIBSWRESAMPLE_VERSION_MAJOR));

  const std::string text = BoundLibraryVersions(EngineLibraries);

  EXPECT_TRUE(std::regex_match(text, engine_versions)) << text;
  // SDL is in the player's set but not loaded: it is left out.
  EXPECT_THAT(BoundLibraryVersions(PlayerLibraries), testing::Not(HasSubstr("SDL")));
}

}  // namespace
}  // namespace runtime
