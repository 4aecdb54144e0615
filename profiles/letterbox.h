// The output picture's frame size, aspect and padding, from the chosen frame size and the source's size
// (the file list's "Size" column: "640x480", or " " for a file without video).
#pragma once

#include <string>
#include <string_view>

#include "engine/engine_records.h"

namespace profiles {

// Without letterbox: the chosen size ("Original Size" takes the source's), its aspect cut to six
// characters ("1.3333" when a part is no number), no padding. A source without video gets nothing: its
// output has no picture to size.
void ApplyFrameSize(std::string_view size_text, std::string_view source_size,
                    engine::TOutputOptions& options);

// With letterbox: the source picture scaled into the chosen size with its own aspect, padded top and bottom
// or left and right up to the chosen size; the scaled side and each padding are even. True when it set the
// size; false (nothing set: the job runs without letterbox) when a size cannot be read or the padding would
// not be a whole number.
bool ComputeLetterbox(std::string_view size_text, std::string_view source_size,
                      engine::TOutputOptions& options);

}  // namespace profiles
