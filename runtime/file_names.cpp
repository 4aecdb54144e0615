#include "runtime/file_names.h"

#include <cstdlib>
#include <system_error>

namespace runtime {

std::string IncludeTrailingSlash(const std::string& name) {
  if (name.empty() || name.back() == '/') return name;
  return name + '/';
}

std::string FolderPart(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

std::string NamePart(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool FileExists(const std::filesystem::path& name) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(name, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::int64_t FileSizeOf(const std::filesystem::path& name) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(name, error) || error) return -1;
  const std::uintmax_t size = std::filesystem::file_size(name, error);
  if (error) return -1;
  return static_cast<std::int64_t>(size);
}

std::string EnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : std::string();
}

std::string SplitAt(std::string& text, std::string_view separator, bool remove) {
  const std::size_t position = separator.empty() ? std::string::npos : text.find(separator);
  if (position == std::string::npos) {
    std::string whole = text;
    if (remove) text.clear();
    return whole;
  }
  std::string part = text.substr(0, position);
  if (remove) text.erase(0, position + separator.size());
  return part;
}

}  // namespace runtime
