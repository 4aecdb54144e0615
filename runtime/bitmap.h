// A 24-bit picture in memory: blue, green, red bytes per pixel, rows top first, each row padded to a multiple
// of 4 bytes (the layout of a BMP file's rows and of a QImage in Format_BGR888 with that stride). Decoded
// frames are converted into it for previews, snapshots and frame hooks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace runtime {

class Bitmap {
 public:
  static constexpr int kBytesPerPixel = 3;
  // The largest width or height accepted; far beyond any video frame, small enough that sizes never overflow.
  static constexpr int kMaxDimension = 1 << 15;

  Bitmap() = default;
  // See SetSize.
  Bitmap(int width, int height) { SetSize(width, height); }

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Bytes from one row to the next.
  int Stride() const { return StrideFor(width_); }
  static constexpr int StrideFor(int width) { return (width * kBytesPerPixel + 3) & ~3; }

  // A new size: all pixels (and the row padding) become zero, black, unless the size stays the same, which
  // keeps the pixels. Throws std::invalid_argument for a negative size or one above kMaxDimension.
  void SetSize(int width, int height);
  // Every byte (the pixels and the row padding) becomes value; 0 makes the picture black. An empty bitmap
  // has nothing to fill.
  void Fill(std::uint8_t value);

  // Row y, 0 at the top; y must be below Height().
  std::uint8_t* ScanLine(int y) { return pixels_.data() + RowOffset(y); }
  const std::uint8_t* ScanLine(int y) const { return pixels_.data() + RowOffset(y); }
  // All rows, Stride() * Height() bytes.
  std::uint8_t* Pixels() { return pixels_.data(); }
  const std::uint8_t* Pixels() const { return pixels_.data(); }
  std::size_t SizeInBytes() const { return pixels_.size(); }

  // Writes a 24-bit uncompressed BMP file (rows bottom-up as the format wants them), replacing the file.
  // False when the bitmap is empty or the file cannot be written completely; error, when given, then says
  // why, and a partly written file is removed.
  bool SaveBmp(const std::filesystem::path& file, std::string* error = nullptr) const;

  friend bool operator==(const Bitmap&, const Bitmap&) = default;

 private:
  std::size_t RowOffset(int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride());
  }

  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace runtime
