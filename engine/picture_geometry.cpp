#include "engine/picture_geometry.h"

#include <cstring>

#include "runtime/library_loader.h"

namespace engine {

bool OffsetPlanes(const AVFrame* frame, int top, int left, std::uint8_t* planes[4], int linesizes[4]) {
  const AVPixFmtDescriptor* descriptor =
      runtime::avutil().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (descriptor == nullptr ||
      (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) != 0) {
    return false;
  }
  const int chroma_w = descriptor->log2_chroma_w;
  const int chroma_h = descriptor->log2_chroma_h;
  if ((top & ((1 << chroma_h) - 1)) != 0 || (left & ((1 << chroma_w) - 1)) != 0) return false;
  for (int plane = 0; plane < 4; ++plane) {
    planes[plane] = nullptr;
    linesizes[plane] = frame->linesize[plane];
  }
  for (int component = 0; component < descriptor->nb_components; ++component) {
    const AVComponentDescriptor& c = descriptor->comp[component];
    if (planes[c.plane] != nullptr) continue;
    const bool chroma = (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 && (component == 1 || component == 2);
    const int rows = chroma ? top >> chroma_h : top;
    const int columns = chroma ? left >> chroma_w : left;
    planes[c.plane] = frame->data[c.plane] + static_cast<std::ptrdiff_t>(rows) * frame->linesize[c.plane] +
                      static_cast<std::ptrdiff_t>(columns) * c.step;
  }
  // Palette and other non-component planes come along unchanged.
  for (int plane = 0; plane < 4; ++plane) {
    if (planes[plane] == nullptr) planes[plane] = frame->data[plane];
  }
  return true;
}

void PaintPadBorders(AVFrame* frame, int top, int bottom, int left, int right, const TYuvColor& color) {
  const AVPixFmtDescriptor* descriptor =
      runtime::avutil().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
  if (descriptor == nullptr) return;
  const bool planar_yuv = (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 &&
                          (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 && descriptor->comp[0].depth == 8 &&
                          descriptor->nb_components >= 3;
  const int planes = planar_yuv ? 3 : 1;
  for (int plane = 0; plane < planes; ++plane) {
    const bool chroma = plane > 0;
    const int shift_w = chroma ? descriptor->log2_chroma_w : 0;
    const int shift_h = chroma ? descriptor->log2_chroma_h : 0;
    const int width = AV_CEIL_RSHIFT(frame->width, shift_w);
    const int height = AV_CEIL_RSHIFT(frame->height, shift_h);
    const int band_top = top >> shift_h;
    const int band_bottom = bottom >> shift_h;
    const int band_left = left >> shift_w;
    const int band_right = right >> shift_w;
    // Bytes per row of this plane: planar YUV has one byte per sample; other formats are cleared by bytes.
    const int row_bytes = planar_yuv ? width : frame->linesize[0];
    const int left_bytes = planar_yuv ? band_left : band_left * (row_bytes / (width > 0 ? width : 1));
    const int right_bytes = planar_yuv ? band_right : band_right * (row_bytes / (width > 0 ? width : 1));
    const int value = !planar_yuv ? 0 : plane == 0 ? color.Y : plane == 1 ? color.U : color.V;
    for (int row = 0; row < height; ++row) {
      std::uint8_t* line = frame->data[plane] + static_cast<std::ptrdiff_t>(row) * frame->linesize[plane];
      if (row < band_top || row >= height - band_bottom) {
        std::memset(line, value, static_cast<std::size_t>(row_bytes));
      } else {
        std::memset(line, value, static_cast<std::size_t>(left_bytes));
        std::memset(line + row_bytes - right_bytes, value, static_cast<std::size_t>(right_bytes));
      }
    }
  }
}

}  // namespace engine
