#include "engine/deinterlace.h"

#include <algorithm>
#include <cstdint>

#include "runtime/library_loader.h"

namespace engine {
namespace {

std::uint8_t Clip(int value) {
  return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// Every output line is (-1, 4, 2, 4, -1) / 8 over the five source lines around it; the first and last lines
// repeat their neighbours at the picture's edges.
void DeinterlacePlane(std::uint8_t* target, int target_stride, const std::uint8_t* source, int source_stride,
                      int width, int height) {
  const auto line = [&](int row) {
    return source + static_cast<std::ptrdiff_t>(std::clamp(row, 0, height - 1)) * source_stride;
  };
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* m2 = line(row - 2);
    const std::uint8_t* m1 = line(row - 1);
    const std::uint8_t* c0 = line(row);
    const std::uint8_t* p1 = line(row + 1);
    const std::uint8_t* p2 = line(row + 2);
    std::uint8_t* out = target + static_cast<std::ptrdiff_t>(row) * target_stride;
    for (int x = 0; x < width; ++x) {
      out[x] = Clip((-m2[x] + 4 * m1[x] + 2 * c0[x] + 4 * p1[x] - p2[x] + 4) >> 3);
    }
  }
}

}  // namespace

bool DeinterlacePicture(AVFrame* target, const AVFrame* source) {
  const auto format = static_cast<AVPixelFormat>(source->format);
  const AVPixFmtDescriptor* descriptor = runtime::avutil().av_pix_fmt_desc_get(format);
  if (descriptor == nullptr || source->height < 3 || target->format != source->format ||
      target->width != source->width || target->height != source->height) {
    return false;
  }
  const bool planar_8bit =
      (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                            AV_PIX_FMT_FLAG_HWACCEL)) == 0 &&
      descriptor->comp[0].depth == 8 && descriptor->comp[0].step == 1 &&
      (descriptor->nb_components == 1 ||
       ((descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 && descriptor->nb_components >= 3));
  if (!planar_8bit) return false;
  const int planes = descriptor->nb_components == 1 ? 1 : 3;
  for (int plane = 0; plane < planes; ++plane) {
    const int shift_w = plane == 0 ? 0 : descriptor->log2_chroma_w;
    const int shift_h = plane == 0 ? 0 : descriptor->log2_chroma_h;
    DeinterlacePlane(target->data[plane], target->linesize[plane], source->data[plane],
                     source->linesize[plane], AV_CEIL_RSHIFT(source->width, shift_w),
                     AV_CEIL_RSHIFT(source->height, shift_h));
  }
  return true;
}

}  // namespace engine
