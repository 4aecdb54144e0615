// File name helpers on UTF-8 names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/file_names.h"

namespace {

TEST(FileNames, TrailingSlashFolderAndNameParts) {
  const struct {
    const char* name;
    const char* with_slash;
    const char* folder;
    const char* file;
  } cases[] = {
      {"/videos/holiday.mp4", "/videos/holiday.mp4/", "/videos/", "holiday.mp4"},
      {"/videos/", "/videos/", "/videos/", ""},
      {"holiday.mp4", "holiday.mp4/", "", "holiday.mp4"},
      {"/", "/", "/", ""},
      {"", "", "", ""},
      {"a/b/ünïcode dir/c:d.avi", "a/b/ünïcode dir/c:d.avi/", "a/b/ünïcode dir/", "c:d.avi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(runtime::IncludeTrailingSlash(c.name), c.with_slash);
    EXPECT_EQ(runtime::FolderPart(c.name), c.folder);
    EXPECT_EQ(runtime::NamePart(c.name), c.file);
    EXPECT_EQ(runtime::FolderPart(c.name) + runtime::NamePart(c.name), c.name);
  }
}

TEST(FileNames, SplitAtTheFirstSeparator) {
  const struct {
    const char* text;
    const char* separator;
    const char* part;
    const char* rest;  // the text after a removing split
  } cases[] = {
      {"hook.so|-w 10|x", "|", "hook.so", "-w 10|x"},
      {"a::b::c", "::", "a", "b::c"},
      {"|lead", "|", "", "lead"},
      {"trail|", "|", "trail", ""},
      {"none here", "|", "none here", ""},
      {"", "|", "", ""},
      {"no separator given", "", "no separator given", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " at '" + c.separator + "'");
    std::string kept = c.text;
    EXPECT_EQ(runtime::SplitAt(kept, c.separator, false), c.part);
    EXPECT_EQ(kept, c.text);
    std::string taken = c.text;
    EXPECT_EQ(runtime::SplitAt(taken, c.separator, true), c.part);
    EXPECT_EQ(taken, c.rest);
  }

  std::string list = "x|y|z";
  std::string joined;
  for (int guard = 0; !list.empty() && guard < 10; ++guard)
    joined += runtime::SplitAt(list, "|", true) + ";";
  EXPECT_EQ(joined, "x;y;z;");
}

TEST(FileNames, ExistenceAndSizeOfFiles) {
  const std::filesystem::path folder = std::filesystem::path(TARVELLO_TEST_BINARY_DIR) / "file_names ünïcode";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::filesystem::path file = folder / "clip 1.avi";
  std::ofstream(file, std::ios::binary) << std::string(1234, 'x');
  const std::filesystem::path empty = folder / "empty";
  std::ofstream(empty, std::ios::binary).flush();
  const std::filesystem::path link = folder / "link";
  std::filesystem::create_symlink(file, link);
  const std::filesystem::path dangling = folder / "dangling";
  std::filesystem::create_symlink(folder / "gone", dangling);

  const struct {
    std::filesystem::path name;
    bool exists;
    std::int64_t size;
  } cases[] = {
      {file, true, 1234},      {empty, true, 0},      {link, true, 1234},
      {folder, false, -1},     {dangling, false, -1}, {folder / "missing", false, -1},
      {"/dev/null", true, -1}, {"", false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.string());
    EXPECT_EQ(runtime::FileExists(c.name), c.exists);
    EXPECT_EQ(runtime::FileSizeOf(c.name), c.size);
  }
}

TEST(FileNames, EnvironmentVariablesOfAnyLength) {
  const std::string long_value(5000, 'v');
  ASSERT_EQ(::setenv("TARVELLO_TEST_LONG_VARIABLE", long_value.c_str(), 1), 0);
  EXPECT_EQ(runtime::EnvironmentVariable("TARVELLO_TEST_LONG_VARIABLE"), long_value);
  ASSERT_EQ(::setenv("TARVELLO_TEST_LONG_VARIABLE", "", 1), 0);
  EXPECT_EQ(runtime::EnvironmentVariable("TARVELLO_TEST_LONG_VARIABLE"), "");
  ASSERT_EQ(::unsetenv("TARVELLO_TEST_LONG_VARIABLE"), 0);
  EXPECT_EQ(runtime::EnvironmentVariable("TARVELLO_TEST_LONG_VARIABLE"), "");
}

}  // namespace
