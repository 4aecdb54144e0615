// How far a stream's clock advances over one packet or frame.
#pragma once

#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace engine {

// The duration in microseconds: the given duration (in the stream's time base) when known, else one audio
// frame of `samples` (or the stream's frame size) at its sample rate, else one picture at the decoder's or
// the stream's frame rate. 0 when nothing tells: unknown rates and zero time bases occur in real files, and
// every divisor is checked.
std::int64_t NominalDurationUs(const AVStream* stream, const AVCodecContext* decoder, std::int64_t duration,
                               int samples);

}  // namespace engine
