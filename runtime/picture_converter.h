// Converts decoded pictures into a 24-bit Bitmap and drawn bitmaps back into pictures. Each user (a
// snapshot, a preview, a frame hook) has its own converter: it keeps its bitmap, a conversion buffer and
// both scaler contexts between frames, and is not shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/bitmap.h"
#include "runtime/media_owners.h"

namespace runtime {

class PictureConverter {
 public:
  // The pixel format of the bitmap's rows.
  static constexpr AVPixelFormat kRgbFormat = AV_PIX_FMT_BGR24;

  PictureConverter() = default;
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;
  PictureConverter(PictureConverter&&) = default;
  PictureConverter& operator=(PictureConverter&&) = default;

  // Makes the bitmap width x height and fills it from the picture. A BGR24 picture with an even width and
  // height whose rows lie exactly like the bitmap's is copied; any other is converted with a bicubic scaler.
  // False when the size is not positive (or too large for a bitmap) or the picture has no data, with the
  // bitmap unchanged; false when the libraries cannot convert the pixel format, with the bitmap already at
  // its new size.
  bool PictureToBitmap(const std::uint8_t* const data[4], const int linesize[4], AVPixelFormat format,
                       int width, int height);

  // Writes the bitmap (for example after a frame hook drew into it) into a picture of the given format and
  // size, scaling when the sizes differ. The picture's planes must be allocated for that format and size,
  // with the libraries' usual padding. False when the bitmap is empty, the size is not positive or the format
  // cannot be converted to.
  bool BitmapToPicture(std::uint8_t* const data[4], const int linesize[4], AVPixelFormat format, int width,
                       int height);

  const runtime::Bitmap& Result() const { return bitmap_; }
  runtime::Bitmap& Bitmap() { return bitmap_; }

  // Frees the bitmap, the buffer and the scaler contexts.
  void Reset();

 private:
  // Makes the buffer hold a BGR24 picture of the size; returns its line size.
  int PrepareBuffer(int width, int height);

  runtime::Bitmap bitmap_;
  LibraryMemoryPtr<std::uint8_t> buffer_;
  std::size_t buffer_size_ = 0;
  ScalerPtr to_rgb_;
  ScalerPtr from_rgb_;
};

}  // namespace runtime
