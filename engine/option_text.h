// Option text: name=value lines, each name in one group.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/option_groups.h"

namespace engine {

// The group an option name belongs to.
TOptionGroup OptionGroupOf(std::string_view name);

// The lines of an option text as (name, value): the text trimmed, line breaks unified, "<CRLF>" read as a
// line break, each line split at its first "=" (no "=": an empty value), names lower-cased, nothing else
// trimmed.
std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text);

}  // namespace engine
