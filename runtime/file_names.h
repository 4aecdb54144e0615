// File name helpers on UTF-8 names with '/' as the separator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace runtime {

// The name with a '/' at the end, so a file name can be appended. An empty name stays empty: it stands for
// the current folder, and "/" would make a file name appended to it absolute.
std::string IncludeTrailingSlash(const std::string& name);

// "/videos/a.mp4" -> "/videos/" and "a.mp4": the folder part keeps its trailing '/'; a name without a '/' has
// an empty folder part.
std::string FolderPart(const std::string& name);
std::string NamePart(const std::string& name);

// True when something other than a folder is found under the name (links followed).
bool FileExists(const std::filesystem::path& name);

// The size in bytes of a regular file (links followed); -1 for anything else or when it cannot be read.
std::int64_t FileSizeOf(const std::filesystem::path& name);

// The variable's value, whatever its length; empty when it is not set.
std::string EnvironmentVariable(const std::string& name);

// Hands out the part of text before the first separator. With remove, that part and the separator are taken
// out of text. Without a separator in text (or with an empty separator) the whole text is handed out, and
// with remove text becomes empty, so a loop taking parts until text is empty always ends.
std::string SplitAt(std::string& text, std::string_view separator, bool remove);

}  // namespace runtime
