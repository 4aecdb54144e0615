// The engine's option records as text, one "Field=value" line per field that differs from the cleared
// record: what --show-options prints.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_records.h"

namespace cli {

std::vector<std::string> RecordLines(const engine::TInputOptions& options);
std::vector<std::string> RecordLines(const engine::TOutputOptions& options);

}  // namespace cli
