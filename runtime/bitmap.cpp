#include "runtime/bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace runtime {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

void PutLittleEndian(std::vector<char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

}  // namespace

void Bitmap::SetSize(int width, int height) {
  if (width < 0 || height < 0 || width > kMaxDimension || height > kMaxDimension) {
    throw std::invalid_argument("bitmap size " + std::to_string(width) + "x" + std::to_string(height) +
                                " is out of range");
  }
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<std::size_t>(Stride()) * static_cast<std::size_t>(height), 0);
}

void Bitmap::Fill(std::uint8_t value) {
  std::fill(pixels_.begin(), pixels_.end(), value);
}

bool Bitmap::SaveBmp(const std::filesystem::path& file, std::string* error) const {
  if (Empty()) return Fail(error, "the bitmap is empty");
  const auto stride = static_cast<std::size_t>(Stride());
  const auto image_size = static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height_));
  constexpr auto kPixelOffset = static_cast<std::uint32_t>(kFileHeaderSize + kInfoHeaderSize);

  std::vector<char> header;
  header.reserve(kPixelOffset);
  header.push_back('B');
  header.push_back('M');
  PutLittleEndian(header, kPixelOffset + image_size, 4);
  PutLittleEndian(header, 0, 4);  // reserved
  PutLittleEndian(header, kPixelOffset, 4);
  PutLittleEndian(header, kInfoHeaderSize, 4);
  PutLittleEndian(header, static_cast<std::uint32_t>(width_), 4);
  PutLittleEndian(header, static_cast<std::uint32_t>(height_), 4);  // positive: bottom row first
  PutLittleEndian(header, 1, 2);                                    // planes
  PutLittleEndian(header, 24, 2);                                   // bits per pixel
  PutLittleEndian(header, 0, 4);                                    // no compression
  PutLittleEndian(header, image_size, 4);
  PutLittleEndian(header, kPixelsPerMetre, 4);
  PutLittleEndian(header, kPixelsPerMetre, 4);
  PutLittleEndian(header, 0, 4);  // colours used: none (no palette)
  PutLittleEndian(header, 0, 4);  // important colours: all

  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return Fail(error, "cannot create " + file.string() + ": " + std::strerror(errno));
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  // Row padding is written as zeros whatever the caller left in it.
  const auto row_bytes = static_cast<std::size_t>(width_) * kBytesPerPixel;
  const char padding[3] = {};
  for (int y = height_ - 1; y >= 0 && out; --y) {
    out.write(reinterpret_cast<const char*>(ScanLine(y)), static_cast<std::streamsize>(row_bytes));
    out.write(padding, static_cast<std::streamsize>(stride - row_bytes));
  }
  out.close();
  if (!out) {
    const std::string reason = std::strerror(errno);
    // A half-written regular file is useless and goes; a device or a link is never removed.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ignored))) {
      std::filesystem::remove(file, ignored);
    }
    return Fail(error, "cannot write " + file.string() + ": " + reason);
  }
  return true;
}

}  // namespace runtime
