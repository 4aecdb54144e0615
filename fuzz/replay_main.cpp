// The main of a fuzzer in the builds without libFuzzer: every file of the folders (or the files) named on
// the command line (but hidden ones such as .gitkeep) goes through LLVMFuzzerTestOneInput once, in name
// order. A finding that comes back crashes here as it did under the fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<char> Contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path argument = argv[i];
    if (std::filesystem::is_directory(argument)) {
      for (const auto& entry : std::filesystem::directory_iterator(argument))
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
          files.push_back(entry.path());
    } else if (std::filesystem::exists(argument)) {
      files.push_back(argument);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argument.c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }
  for (const std::filesystem::path& file : files) {
    std::fprintf(stderr, "replaying %s\n", file.c_str());
    const std::vector<char> bytes = Contents(file);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "replayed %zu inputs\n", files.size());
  return 0;
}
