// The "vol" setting applied to samples of any format: 256 leaves them as they are, 512 doubles them.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/samplefmt.h>
}

namespace engine {

// Scales `samples` samples per channel in place, clamped to the format's range. Integer samples round the way
// an arithmetic shift does (towards minus infinity), as 16-bit volume scaling always has.
void ApplyVolume(std::uint8_t* const* planes, AVSampleFormat format, int channels, int samples, int volume);

}  // namespace engine
