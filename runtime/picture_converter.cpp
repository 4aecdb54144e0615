#include "runtime/picture_converter.h"

#include <algorithm>
#include <cstring>

#include "runtime/scaler.h"

namespace runtime {
namespace {

// The scalers' vector code writes whole groups of pixels and may run up to 15 pixels past the end of a
// row; our buffer's rows are long enough for that, the last one included, and aligned for vector stores.
constexpr int kRowAlignment = 64;
constexpr int kPixelGroup = 16;

int BufferLineSize(int width) {
  const int padded_width = (width + kPixelGroup - 1) / kPixelGroup * kPixelGroup;
  const int bytes = padded_width * Bitmap::kBytesPerPixel;
  return (bytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
}

bool UsableSize(int width, int height) {
  return width > 0 && height > 0 && width <= Bitmap::kMaxDimension && height <= Bitmap::kMaxDimension;
}

// sws_getCachedContext frees the context it is given when the parameters differ and returns a new one (or
// null), so the owner gives its context up for the call and takes the result.
SwsContext* CachedScaler(ScalerPtr& scaler, int source_width, int source_height, AVPixelFormat source_format,
                         int width, int height, AVPixelFormat format) {
  if (!ScalerTakes(source_width, source_height, source_format, width, height, format)) return nullptr;
  scaler.reset(swscale().sws_getCachedContext(scaler.release(), source_width, source_height, source_format,
                                              width, height, format, SWS_BICUBIC, nullptr, nullptr, nullptr));
  return scaler.get();
}

}  // namespace

int PictureConverter::PrepareBuffer(int width, int height) {
  const int line_size = BufferLineSize(width);
  const std::size_t needed = static_cast<std::size_t>(line_size) * static_cast<std::size_t>(height);
  if (buffer_ == nullptr || buffer_size_ < needed) {
    buffer_.reset();
    buffer_size_ = 0;
    buffer_.reset(static_cast<std::uint8_t*>(avutil().av_malloc(needed)));
    if (buffer_ == nullptr) return 0;
    buffer_size_ = needed;
  }
  return line_size;
}

bool PictureConverter::PictureToBitmap(const std::uint8_t* const data[4], const int linesize[4],
                                       AVPixelFormat format, int width, int height) {
  if (data == nullptr || linesize == nullptr || data[0] == nullptr || !UsableSize(width, height))
    return false;
  bitmap_.SetSize(width, height);
  const auto row_bytes = static_cast<std::size_t>(width) * Bitmap::kBytesPerPixel;

  if (format == kRgbFormat && width % 2 == 0 && height % 2 == 0 && linesize[0] == bitmap_.Stride()) {
    for (int y = 0; y < height; ++y)
      std::memcpy(bitmap_.ScanLine(y), data[0] + static_cast<std::ptrdiff_t>(y) * linesize[0], row_bytes);
    return true;
  }

  SwsContext* scaler = CachedScaler(to_rgb_, width, height, format, width, height, kRgbFormat);
  if (scaler == nullptr) return false;
  const int line_size = PrepareBuffer(width, height);
  if (line_size == 0) return false;
  std::uint8_t* const rgb_data[4] = {buffer_.get(), nullptr, nullptr, nullptr};
  const int rgb_linesize[4] = {line_size, 0, 0, 0};
  if (swscale().sws_scale(scaler, data, linesize, 0, height, rgb_data, rgb_linesize) != height) return false;
  for (int y = 0; y < height; ++y)
    std::memcpy(bitmap_.ScanLine(y), buffer_.get() + static_cast<std::ptrdiff_t>(y) * line_size, row_bytes);
  return true;
}

bool PictureConverter::BitmapToPicture(std::uint8_t* const data[4], const int linesize[4],
                                       AVPixelFormat format, int width, int height) {
  if (data == nullptr || linesize == nullptr || data[0] == nullptr || bitmap_.Empty() ||
      !UsableSize(width, height))
    return false;
  const int source_width = bitmap_.Width();
  const int source_height = bitmap_.Height();
  const auto row_bytes = static_cast<std::size_t>(source_width) * Bitmap::kBytesPerPixel;

  if (format == kRgbFormat && width == source_width && height == source_height) {
    for (int y = 0; y < height; ++y)
      std::memcpy(data[0] + static_cast<std::ptrdiff_t>(y) * linesize[0], bitmap_.ScanLine(y), row_bytes);
    return true;
  }

  SwsContext* scaler =
      CachedScaler(from_rgb_, source_width, source_height, kRgbFormat, width, height, format);
  if (scaler == nullptr) return false;
  // The scaler reads its source in whole pixel groups too, so it reads from our padded buffer rather than
  // from the bitmap's rows.
  const int line_size = PrepareBuffer(source_width, source_height);
  if (line_size == 0) return false;
  for (int y = 0; y < source_height; ++y)
    std::memcpy(buffer_.get() + static_cast<std::ptrdiff_t>(y) * line_size, bitmap_.ScanLine(y), row_bytes);
  const std::uint8_t* const rgb_data[4] = {buffer_.get(), nullptr, nullptr, nullptr};
  const int rgb_linesize[4] = {line_size, 0, 0, 0};
  return swscale().sws_scale(scaler, rgb_data, rgb_linesize, 0, source_height, data, linesize) == height;
}

void PictureConverter::Reset() {
  bitmap_ = runtime::Bitmap();
  buffer_.reset();
  buffer_size_ = 0;
  to_rgb_.reset();
  from_rgb_.reset();
}

}  // namespace runtime
