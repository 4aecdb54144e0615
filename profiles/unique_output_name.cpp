#include "profiles/unique_output_name.h"

#include <sys/stat.h>

#include <string_view>

namespace profiles {

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
namespace {

// The path up to its extension: the last "." of the last component, unless that dot starts the name.
std::string_view WithoutExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot <= name_start) return path;
  return path.substr(0, dot);
}

// Anything at the name counts, a dangling link too: a name in use is never taken.
bool NameInUse(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  return std::string(WithoutExtension(path)) + extension;
}

std::string UniqueOutputName(const std::string& path, const std::string& extension) {
  const std::string stem(WithoutExtension(path));
  std::string candidate = stem + extension;
  for (unsigned long number = 1; NameInUse(candidate); ++number) {
    candidate = stem + "-" + std::to_string(number) + extension;
  }
  return candidate;
}

}  // namespace profiles
