// The codec name shown in stream descriptions and messages.
#pragma once

#include <string>

#include "runtime/library_entries.h"

namespace runtime {

// For the encoder side (encoder true) or the decoder side of the context's codec id:
// - a codec of this library build: "name(long name)", or just its name when it has no long name;
// - none: "mpeg2ts" for the MPEG-2 transport stream id, else the codec id's registered name, else the codec
//   tag: "XVID / 0x44495658" when its four bytes are printable, "0x1234" (lower case) when not.
std::string CodecNameText(const AVCodecContext& context, bool encoder);

}  // namespace runtime
