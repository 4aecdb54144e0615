// Files of a test's own: a fresh folder per test under the build tree, small files written into it, bytes
// that are no media, and what the system says of a file opened as a library.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace test_files {

// A folder of its own for each test, under the build tree, emptied first.
inline std::filesystem::path TestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path folder = std::filesystem::path(TARVELLO_TEST_BINARY_DIR) / "work" /
                                 (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

inline std::filesystem::path MakeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

// The same pseudo-random bytes on every run.
inline std::string RandomBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::mt19937 random(7);
  for (char& c : bytes)
    c = static_cast<char>(random());
  return bytes;
}

// What the system reports when the file itself is opened as a library; "(opens)" when it opens.
inline std::string LibraryOpenError(const std::filesystem::path& file) {
  ::dlerror();
  if (void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    ::dlclose(handle);
    return "(opens)";
  }
  return ::dlerror();
}

}  // namespace test_files
