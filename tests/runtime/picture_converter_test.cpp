// Decoded pictures into 24-bit bitmaps and back, and bitmaps saved as BMP files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "runtime/bitmap.h"
#include "runtime/picture_converter.h"

namespace {

using runtime::Bitmap;
using runtime::PictureConverter;

struct Bgr {
  int b, g, r;
};
struct Yuv {
  std::uint8_t y, u, v;
};
// Limited-range BT.601 values of pure colours, as the scaler converts them by default.
constexpr Bgr kRed{0, 0, 255};
constexpr Yuv kRedYuv{81, 90, 240};
constexpr Bgr kBlue{255, 0, 0};
constexpr Yuv kBlueYuv{41, 240, 110};

int RoundUp(int value, int multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

// A picture in memory as a decoder hands it out: planes with padded rows and padding after the last row.
class Picture {
 public:
  Picture(AVPixelFormat format, int width, int height, int rgb_linesize = 0)
      : width_(width), height_(height) {
    if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
      AddPlane(RoundUp(width, 64), height);
      AddPlane(RoundUp((width + 1) / 2, 64), (height + 1) / 2);
      AddPlane(RoundUp((width + 1) / 2, 64), (height + 1) / 2);
    } else {
      AddPlane(rgb_linesize != 0 ? rgb_linesize : RoundUp(width * 3, 64), height);
    }
  }

  void FillYuv(Yuv colour) {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x)
        Sample(0, x, y) = colour.y;
    }
    for (int y = 0; y < (height_ + 1) / 2; ++y) {
      for (int x = 0; x < (width_ + 1) / 2; ++x) {
        Sample(1, x, y) = colour.u;
        Sample(2, x, y) = colour.v;
      }
    }
  }

  std::uint8_t& Sample(int plane, int x, int y) {
    return planes_[plane][static_cast<std::size_t>(y * linesize[plane] + x)];
  }

  std::uint8_t* data[4] = {};
  int linesize[4] = {};

 private:
  void AddPlane(int line_size, int rows) {
    const std::size_t index = planes_.size();
    planes_.emplace_back(static_cast<std::size_t>(line_size * rows + 64), 0xEE);
    data[index] = planes_.back().data();
    linesize[index] = line_size;
  }

  int width_;
  int height_;
  std::vector<std::vector<std::uint8_t>> planes_;
};

Bgr PixelAt(const Bitmap& bitmap, int x, int y) {
  const std::uint8_t* pixel = bitmap.ScanLine(y) + 3 * x;
  return {pixel[0], pixel[1], pixel[2]};
}

void ExpectColour(const Bitmap& bitmap, int x0, int x1, Bgr expected, int tolerance) {
  int mismatches = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = x0; x < x1; ++x) {
      const Bgr got = PixelAt(bitmap, x, y);
      if (std::abs(got.b - expected.b) > tolerance || std::abs(got.g - expected.g) > tolerance ||
          std::abs(got.r - expected.r) > tolerance) {
        if (++mismatches <= 3)
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << got.b << "," << got.g << "," << got.r;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

void ExpectZeroPadding(const Bitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int i = bitmap.Width() * 3; i < bitmap.Stride(); ++i)
      ASSERT_EQ(bitmap.ScanLine(y)[i], 0) << "row " << y;
  }
}

class PictureConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
  }

  bool Convert(Picture& picture, AVPixelFormat format, int width, int height) {
    return converter_.PictureToBitmap(picture.data, picture.linesize, format, width, height);
  }

  PictureConverter converter_;
};

TEST_F(PictureConverterTest, YuvPictureBecomesBgrBitmap) {
  const struct { int width, height; } sizes[] = {{32, 18}, {33, 17}, {1, 1}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    Picture picture(AV_PIX_FMT_YUV420P, size.width, size.height);
    picture.FillYuv(kRedYuv);
    ASSERT_TRUE(Convert(picture, AV_PIX_FMT_YUV420P, size.width, size.height));
    const Bitmap& bitmap = converter_.Result();
    ASSERT_EQ(bitmap.Width(), size.width);
    ASSERT_EQ(bitmap.Height(), size.height);
    EXPECT_EQ(bitmap.Stride() % 4, 0);
    ExpectColour(bitmap, 0, size.width, kRed, 3);
    ExpectZeroPadding(bitmap);
  }
}

TEST_F(PictureConverterTest, Bgr24PicturesKeepTheirExactPixels) {
  // Copied as they are (even size, rows laid out like the bitmap's) or converted (odd width or height, other
  // row length): either way the pixels arrive unchanged and the source's row padding does not.
  const struct {
    int width, height, linesize;
  } cases[] = {{32, 8, 96}, {33, 8, 100}, {33, 8, 99}, {34, 8, 128}, {32, 7, 96}, {2, 2, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " rows of " +
                 std::to_string(c.linesize));
    Picture picture(AV_PIX_FMT_BGR24, c.width, c.height, c.linesize);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        picture.Sample(0, 3 * x, y) = static_cast<std::uint8_t>(x * 7 + y * 3);
        picture.Sample(0, 3 * x + 1, y) = static_cast<std::uint8_t>(x + y * 11);
        picture.Sample(0, 3 * x + 2, y) = static_cast<std::uint8_t>(255 - x - y);
      }
    }
    ASSERT_TRUE(Convert(picture, AV_PIX_FMT_BGR24, c.width, c.height));
    const Bitmap& bitmap = converter_.Result();
    ASSERT_EQ(bitmap.Stride(), (c.width * 3 + 3) & ~3);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width * 3; ++x)
        ASSERT_EQ(bitmap.ScanLine(y)[x], picture.Sample(0, x, y)) << "byte " << x << " of row " << y;
    }
    ExpectZeroPadding(bitmap);
  }
}

TEST_F(PictureConverterTest, UnusableSourcesAreRefused) {
  Picture picture(AV_PIX_FMT_YUV420P, 32, 18);
  picture.FillYuv(kRedYuv);
  EXPECT_FALSE(Convert(picture, AV_PIX_FMT_NONE, 40, 20));
  EXPECT_EQ(converter_.Result().Width(), 40);
  EXPECT_EQ(converter_.Result().Height(), 20);
  EXPECT_FALSE(Convert(picture, AV_PIX_FMT_NB, 32, 18));  // the count of formats, none of them

  EXPECT_FALSE(Convert(picture, AV_PIX_FMT_YUV420P, 0, 18));
  EXPECT_FALSE(Convert(picture, AV_PIX_FMT_YUV420P, 32, -2));
  EXPECT_FALSE(Convert(picture, AV_PIX_FMT_YUV420P, Bitmap::kMaxDimension + 1, 18));
  const std::uint8_t* const no_data[4] = {};
  EXPECT_FALSE(converter_.PictureToBitmap(no_data, picture.linesize, AV_PIX_FMT_YUV420P, 32, 18));
  EXPECT_EQ(converter_.Result().Width(), 32);
  EXPECT_EQ(converter_.Result().Height(), 18);

  // The converter still works after the refusals.
  ASSERT_TRUE(Convert(picture, AV_PIX_FMT_YUV420P, 32, 18));
  ExpectColour(converter_.Result(), 0, 32, kRed, 3);
}

TEST_F(PictureConverterTest, ChangingSizesAndFormatsKeepsConverting) {
  Picture red(AV_PIX_FMT_YUV420P, 32, 18);
  red.FillYuv(kRedYuv);
  Picture blue(AV_PIX_FMT_YUV420P, 48, 24);
  blue.FillYuv(kBlueYuv);
  // The same planes read as full-range YUV give another colour: the scaler is remade for the new format.
  Picture blue_full_range(AV_PIX_FMT_YUVJ420P, 16, 16);
  blue_full_range.FillYuv(kBlueYuv);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Convert(red, AV_PIX_FMT_YUV420P, 32, 18));
    ExpectColour(converter_.Result(), 0, 32, kRed, 3);
    ASSERT_TRUE(Convert(blue, AV_PIX_FMT_YUV420P, 48, 24));
    ExpectColour(converter_.Result(), 0, 48, kBlue, 3);
    ASSERT_TRUE(Convert(blue_full_range, AV_PIX_FMT_YUVJ420P, 16, 16));
    ExpectColour(converter_.Result(), 0, 16, Bgr{240, 15, 16}, 3);
  }
  converter_.Reset();
  EXPECT_TRUE(converter_.Result().Empty());
  ASSERT_TRUE(Convert(red, AV_PIX_FMT_YUV420P, 32, 18));
  ExpectColour(converter_.Result(), 0, 32, kRed, 3);
}

TEST_F(PictureConverterTest, DrawnBitmapGoesBackIntoThePicture) {
  Picture source(AV_PIX_FMT_YUV420P, 32, 18);
  source.FillYuv(kRedYuv);
  ASSERT_TRUE(Convert(source, AV_PIX_FMT_YUV420P, 32, 18));
  // A hook paints the left half blue.
  Bitmap& drawn = converter_.Bitmap();
  for (int y = 0; y < drawn.Height(); ++y) {
    for (int x = 0; x < 16; ++x) {
      drawn.ScanLine(y)[3 * x] = 255;
      drawn.ScanLine(y)[3 * x + 1] = 0;
      drawn.ScanLine(y)[3 * x + 2] = 0;
    }
  }
  const Bitmap expected = converter_.Result();

  Picture same_size(AV_PIX_FMT_YUV420P, 32, 18);
  ASSERT_TRUE(converter_.BitmapToPicture(same_size.data, same_size.linesize, AV_PIX_FMT_YUV420P, 32, 18));
  for (int y = 0; y < 18; ++y) {
    for (int x : {0, 8, 12}) {
      EXPECT_NEAR(same_size.Sample(0, x, y), kBlueYuv.y, 2) << x << "," << y;
      EXPECT_NEAR(same_size.Sample(1, x / 2, y / 2), kBlueYuv.u, 2) << x << "," << y;
    }
    for (int x : {20, 24, 31}) {
      EXPECT_NEAR(same_size.Sample(0, x, y), kRedYuv.y, 2) << x << "," << y;
      EXPECT_NEAR(same_size.Sample(2, x / 2, y / 2), kRedYuv.v, 2) << x << "," << y;
    }
  }

  Picture larger(AV_PIX_FMT_YUV420P, 64, 36);
  ASSERT_TRUE(converter_.BitmapToPicture(larger.data, larger.linesize, AV_PIX_FMT_YUV420P, 64, 36));
  EXPECT_NEAR(larger.Sample(0, 4, 30), kBlueYuv.y, 3);
  EXPECT_NEAR(larger.Sample(0, 60, 30), kRedYuv.y, 3);

  Picture rgb(AV_PIX_FMT_BGR24, 32, 18);
  ASSERT_TRUE(converter_.BitmapToPicture(rgb.data, rgb.linesize, AV_PIX_FMT_BGR24, 32, 18));
  for (int y = 0; y < 18; ++y) {
    for (int x = 0; x < 32 * 3; ++x)
      ASSERT_EQ(rgb.Sample(0, x, y), expected.ScanLine(y)[x]) << x << "," << y;
  }

  // And round again: the picture converts back to what was drawn, within the scaler's rounding of two
  // conversions.
  ASSERT_TRUE(Convert(same_size, AV_PIX_FMT_YUV420P, 32, 18));
  ExpectColour(converter_.Result(), 0, 12, kBlue, 8);
  ExpectColour(converter_.Result(), 20, 32, kRed, 8);

  EXPECT_FALSE(converter_.BitmapToPicture(same_size.data, same_size.linesize, AV_PIX_FMT_NONE, 32, 18));
  converter_.Reset();
  EXPECT_FALSE(converter_.BitmapToPicture(same_size.data, same_size.linesize, AV_PIX_FMT_YUV420P, 32, 18));
}

TEST(BitmapTest, RowsArePaddedToFourBytes) {
  const struct {
    int width, stride;
  } cases[] = {{0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {32, 96}, {33, 100}};
  for (const auto& c : cases) {
    const Bitmap bitmap(c.width, 3);
    EXPECT_EQ(bitmap.Stride(), c.stride) << c.width;
    EXPECT_EQ(bitmap.SizeInBytes(), static_cast<std::size_t>(c.stride) * 3) << c.width;
  }
  EXPECT_THROW(Bitmap(-1, 2), std::invalid_argument);
  EXPECT_THROW(Bitmap(2, Bitmap::kMaxDimension + 1), std::invalid_argument);

  Bitmap original(3, 2);
  original.ScanLine(1)[2] = 9;
  Bitmap copy = original;
  copy.ScanLine(1)[2] = 1;
  EXPECT_EQ(original.ScanLine(1)[2], 9);
  copy.SetSize(3, 2);
  EXPECT_EQ(copy.ScanLine(1)[2], 1);
  copy.SetSize(4, 2);
  EXPECT_EQ(copy.ScanLine(1)[2], 0);
}

TEST(BitmapTest, FillSetsEveryByteAndLeavesAnEmptyBitmapAlone) {
  Bitmap bitmap(3, 2);  // 9 bytes of pixels and 3 of padding per row
  bitmap.ScanLine(0)[4] = 7;
  bitmap.Fill(0xAB);
  EXPECT_EQ(std::count(bitmap.Pixels(), bitmap.Pixels() + bitmap.SizeInBytes(), 0xAB), 24);
  bitmap.Fill(0);
  EXPECT_EQ(std::count(bitmap.Pixels(), bitmap.Pixels() + bitmap.SizeInBytes(), 0), 24);

  for (const auto& [width, height] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 5}}) {
    Bitmap empty(width, height);
    empty.Fill(0);  // no pixels, nothing to write
    EXPECT_TRUE(empty.Empty());
  }
}

class BitmapFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(TARVELLO_TEST_BINARY_DIR) / "bitmap_files" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }

  static std::string Run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
      output += chunk;
    ::pclose(pipe);
    return output;
  }

  std::filesystem::path folder_;
};

TEST_F(BitmapFileTest, SavedBmpReadsBackAsTheSamePicture) {
  // Red on top, blue below and one green pixel in the top left corner: a file written top-down or with
  // wrong row padding reads back differently.
  Bitmap bitmap(33, 10);
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      std::uint8_t* pixel = bitmap.ScanLine(y) + 3 * x;
      pixel[0] = y < 5 ? 0 : 255;
      pixel[1] = static_cast<std::uint8_t>(x);
      pixel[2] = y < 5 ? 255 : 0;
    }
  }
  bitmap.ScanLine(0)[1] = 200;
  bitmap.ScanLine(9)[bitmap.Stride() - 1] = 0x55;  // padding the file must not carry

  const std::filesystem::path file = folder_ / "snapshot.bmp";
  std::string error;
  ASSERT_TRUE(bitmap.SaveBmp(file, &error)) << error;

  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  ASSERT_EQ(bytes.size(), 54u + 100u * 10u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(bytes[2] | bytes[3] << 8 | bytes[4] << 16 | bytes[5] << 24, static_cast<int>(bytes.size()));
  EXPECT_EQ(bytes[28], 24);

  EXPECT_EQ(Run("ffprobe -v error -show_entries stream=codec_name,width,height,pix_fmt -of csv=p=0 '" +
                file.string() + "'"),
            "bmp,33,10,bgr24\n");
  const std::filesystem::path raw = folder_ / "snapshot.raw";
  ASSERT_EQ(
      Run("ffmpeg -v error -y -i '" + file.string() + "' -f rawvideo -pix_fmt bgr24 '" + raw.string() + "'"),
      "");
  std::ifstream raw_in(raw, std::ios::binary);
  const std::vector<unsigned char> decoded{std::istreambuf_iterator<char>(raw_in),
                                           std::istreambuf_iterator<char>()};
  ASSERT_EQ(decoded.size(), 33u * 3u * 10u);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 33 * 3; ++x)
      ASSERT_EQ(decoded[static_cast<std::size_t>(y * 99 + x)], bitmap.ScanLine(y)[x]) << x << "," << y;
  }
}

TEST_F(BitmapFileTest, SaveFailuresSayWhy) {
  std::string error;
  EXPECT_FALSE(Bitmap().SaveBmp(folder_ / "empty.bmp", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(folder_ / "empty.bmp"));

  error.clear();
  const std::filesystem::path unreachable = folder_ / "missing folder" / "a.bmp";
  EXPECT_FALSE(Bitmap(4, 4).SaveBmp(unreachable, &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
