// The preset options "apre", "vpre", "spre" and "fpre": a built-in preset or a preset file of name=value
// lines.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "engine/builtin_presets.h"
#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/file_names.h"
#include "runtime/trim_blanks.h"

namespace engine {
namespace {

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// Carriage return with line feed, a lone carriage return and a lone line feed all become one line feed.
std::string WithLineFeeds(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

std::string ReadPresetFile(const std::string& file_name) {
  errno = 0;
  std::ifstream file(file_name, std::ios::binary);
  if (!file) {
    const int error = errno;
    throw FFmpegException("Cannot read preset file \"" + file_name + "\"" +
                          (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) throw FFmpegException("Cannot read preset file \"" + file_name + "\"");
  return std::move(content).str();
}

bool IsCodecNameKey(const std::string& lower_key) {
  return lower_key == "acodec" || lower_key == "vcodec" || lower_key == "scodec";
}

}  // namespace

void TCustomFFmpeg::ApplyPreset(const std::string& option_name, const std::string& value) {
  if (option_name.empty() || value.empty()) return;

  std::string preset_name = value;
  std::optional<std::string_view> builtin;
  if (option_name.front() != 'f') {
    builtin = FindBuiltinPreset(value);
    if (!builtin) {
      // "default" with libx264 as the pending video encoder is "libx264-default".
      const char kind = option_name.front();
      const std::optional<std::string>* encoder = nullptr;
      if (kind == 'v' && pending_.VideoCodecName) {
        encoder = &pending_.VideoCodecName;
      } else if (kind == 'a' && pending_.AudioCodecName) {
        encoder = &pending_.AudioCodecName;
      } else if (pending_.SubtitleCodecName) {
        encoder = &pending_.SubtitleCodecName;
      }
      if (encoder != nullptr) preset_name = **encoder + "-" + value;
      builtin = FindBuiltinPreset(preset_name);
    }
  }

  std::string text;
  if (builtin) {
    text = *builtin;
  } else {
    // Not a built-in preset: the value names a preset file, relative to the current folder.
    if (!runtime::FileExists(value)) throw FFmpegException("Preset \"" + value + "\" not found");
    text = ReadPresetFile(value);
  }

  std::string lines = WithLineFeeds(runtime::TrimBlanks(text));
  while (!lines.empty()) {
    const std::string raw_line = runtime::SplitAt(lines, "\n", true);
    const std::string line(runtime::TrimBlanks(raw_line));
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    const std::string key = equals == std::string::npos ? line : line.substr(0, equals);
    const std::string option_value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    if (key.empty() || option_value.empty()) {
      throw FFmpegException(preset_name + ": Invalid syntax: \"" + line + "\"");
    }
    const std::string lower_key = LowerCase(key);
    if (IsCodecNameKey(lower_key)) {
      SetOption(lower_key, option_value);
    } else if (!GenericOptions().Set(key, option_value)) {
      throw FFmpegException(preset_name + ": Invalid option or argument: \"" + line + "\", parsed as \"" +
                            key + "\" = \"" + option_value + "\"");
    }
  }
}

}  // namespace engine
