// Plane arithmetic for pictures: views of a cropped or padded area, and painting the pad borders.
#pragma once

#include "engine/pending_values.h"
#include "runtime/media_owners.h"

namespace engine {

// Points view's planes at the area of `frame` that starts `top` rows and `left` columns in (luma units).
// False when the pixel format cannot be addressed that way (bitstream or hardware formats) or the offsets do
// not fall on whole chroma samples.
bool OffsetPlanes(const AVFrame* frame, int top, int left, std::uint8_t* planes[4], int linesizes[4]);

// Paints the bands outside the inner area of a planar YUV picture with the colour (Y, U, V); other formats
// are painted black. The inner area is left as it is.
void PaintPadBorders(AVFrame* frame, int top, int bottom, int left, int right, const TYuvColor& color);

}  // namespace engine
