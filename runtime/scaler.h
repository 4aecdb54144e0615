// Scaler contexts made only from values the scaler library can take. The library aborts the process on a
// pixel format it does not know (AV_PIX_FMT_NONE, an out-of-range value) instead of failing the call, so
// every scaler of the program is made here or checked with ScalerTakes first.
#pragma once

#include "runtime/media_owners.h"

namespace runtime {

// True when the scaler can write pictures in the format.
bool ScalerWrites(AVPixelFormat format);

// True when both sizes are positive, the scaler reads source_format and writes format.
bool ScalerTakes(int source_width, int source_height, AVPixelFormat source_format, int width, int height,
                 AVPixelFormat format);

// A scaler from the source picture to the target one with the flags (SWS_BICUBIC ...); null when
// ScalerTakes is false or the library refuses the values.
ScalerPtr NewScaler(int source_width, int source_height, AVPixelFormat source_format, int width, int height,
                    AVPixelFormat format, int flags);

}  // namespace runtime
