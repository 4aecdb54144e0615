#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "runtime/logger.h"
#include "runtime/main_thread.h"

namespace fuzz_support {
namespace {

std::filesystem::path TemporaryBase() {
  if (::access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  if (const char* folder = std::getenv("TMPDIR"); folder != nullptr && *folder != '\0') return folder;
  return "/tmp";
}

class OwnFolder {
 public:
  OwnFolder() {
    std::string pattern = (TemporaryBase() / "tarvello-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror(("cannot make a folder like " + pattern).c_str());
      std::abort();
    }
    path_ = pattern;
  }
  ~OwnFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  OwnFolder(const OwnFolder&) = delete;
  OwnFolder& operator=(const OwnFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& PrivateFolder() {
  static const OwnFolder folder;
  return folder.Path();
}

std::filesystem::path WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path path = PrivateFolder() / name;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  if (!file) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

void BindLibraries(runtime::TLibraryKinds kinds) {
  runtime::BindMainThread();
  runtime::Logger().SetLogLevel(runtime::llQuiet);
  runtime::Logger().SetTriggerEventInMainThread(false);
  if (!runtime::FFmpegLoader().LoadLibraries(kinds)) {
    std::fprintf(stderr, "the media libraries cannot be bound: %s\n",
                 runtime::FFmpegLoader().LastError().c_str());
    std::exit(1);
  }
  runtime::Logger().SetLogLevel(runtime::llQuiet);
}

}  // namespace fuzz_support
