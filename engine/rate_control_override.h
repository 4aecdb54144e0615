// The "rc_override" text: "start,end,q/start,end,q/..." ranges of frames with a fixed quantizer (q > 0) or a
// quality factor (q <= 0: -q percent).
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace engine {

// Raises FFmpegException "error parsing rc_override" on malformed text.
std::vector<RcOverride> ParseRateControlOverride(const std::string& text);

}  // namespace engine
