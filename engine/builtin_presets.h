// The built-in presets: named option texts for the libx264 encoder, applied by the "vpre" option (and "apre",
// "spre") when its value names one of them.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace engine {

struct TOptionsPreset {
  std::string_view Name;
  std::string_view Options;  // name=value lines separated by line feeds
};

// Every built-in preset, in table order.
std::span<const TOptionsPreset> BuiltinPresets();

// The option text of the built-in preset of that name, compared ignoring case; nullopt when there is none.
std::optional<std::string_view> FindBuiltinPreset(std::string_view name);

}  // namespace engine
