// Deinterlacing without delay: each field line pair is blended by a vertical low-pass filter, so a picture
// comes out for every picture that goes in.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

namespace engine {

// Writes the deinterlaced `source` into `target` (same size and format, allocated). 8-bit planar YUV and grey
// pictures at least 3 lines high only; false for anything else, with `target` untouched.
bool DeinterlacePicture(AVFrame* target, const AVFrame* source);

}  // namespace engine
