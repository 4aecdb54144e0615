#include "engine/encoder_limits.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/library_loader.h"

namespace engine {
namespace {

// The rates of the MPEG-1 video standard (frame_rate codes 1 to 8).
constexpr AVRational kMpeg1FrameRates[] = {{24000, 1001}, {24, 1},       {25, 1}, {30000, 1001}, {30, 1},
                                           {50, 1},       {60000, 1001}, {60, 1}, {0, 0}};

// H.263 (not H.263+) codes only these source formats: sub-QCIF, QCIF, CIF, 4CIF and 16CIF.
constexpr PictureSize kH263Sizes[] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};

// Rawvideo pixel formats that come back as themselves when the muxer's file is read, found by writing one
// picture of every format the scaler can produce (and of pal8) and reading it back with ffprobe and ffmpeg
// (FFmpeg 5.1). The AVI muxer has a FourCC (I420, YUY2, Y800, NV12, ...) or a bit depth of the bitmap header
// (pal8, bgr24, bgra, rgb555le) for these; anything else it writes with a tag that readers take for another
// format, or refuse ("Invalid pixel format"). Matroska refuses the others when the header is written;
// QuickTime writes them unreadable.
constexpr AVPixelFormat kAviRawFormats[] = {
    AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV411P,  AV_PIX_FMT_YUV410P,
    AV_PIX_FMT_YUYV422, AV_PIX_FMT_UYVY422, AV_PIX_FMT_YVYU422,  AV_PIX_FMT_NV12,
    AV_PIX_FMT_NV21,    AV_PIX_FMT_GRAY8,   AV_PIX_FMT_PAL8,     AV_PIX_FMT_BGR24,
    AV_PIX_FMT_BGRA,    AV_PIX_FMT_RGBA,    AV_PIX_FMT_RGB555LE, AV_PIX_FMT_NONE};
constexpr AVPixelFormat kMatroskaRawFormats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV411P,
                                                 AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUYV422, AV_PIX_FMT_UYVY422,
                                                 AV_PIX_FMT_YVYU422, AV_PIX_FMT_NV12,    AV_PIX_FMT_NV21,
                                                 AV_PIX_FMT_GRAY8,   AV_PIX_FMT_RGBA,    AV_PIX_FMT_NONE};
constexpr AVPixelFormat kQuickTimeRawFormats[] = {
    AV_PIX_FMT_YUYV422,  AV_PIX_FMT_UYVY422,  AV_PIX_FMT_RGB24,    AV_PIX_FMT_BGR24,    AV_PIX_FMT_ARGB,
    AV_PIX_FMT_RGBA,     AV_PIX_FMT_ABGR,     AV_PIX_FMT_BGRA,     AV_PIX_FMT_GRAY16BE, AV_PIX_FMT_RGB48BE,
    AV_PIX_FMT_RGB565BE, AV_PIX_FMT_RGB565LE, AV_PIX_FMT_RGB555BE, AV_PIX_FMT_RGB555LE, AV_PIX_FMT_NONE};

struct ContainerFormats {
  const char* Muxer;  // AVOutputFormat::name
  AVCodecID Codec;
  const AVPixelFormat* Formats;
};
constexpr ContainerFormats kContainerFormats[] = {
    {"avi", AV_CODEC_ID_RAWVIDEO, kAviRawFormats},
    {"matroska", AV_CODEC_ID_RAWVIDEO, kMatroskaRawFormats},
    {"mov", AV_CODEC_ID_RAWVIDEO, kQuickTimeRawFormats},
};

// Down to a multiple of `step`, but never below one step.
int RoundedDown(int value, int step) {
  return std::max(step, value / step * step);
}

PictureSize NearestH263Size(PictureSize size) {
  const auto distance = [size](const PictureSize& candidate) {
    return std::abs(candidate.Width - size.Width) + std::abs(candidate.Height - size.Height);
  };
  return *std::min_element(
      std::begin(kH263Sizes), std::end(kH263Sizes),
      [&](const PictureSize& a, const PictureSize& b) { return distance(a) < distance(b); });
}

}  // namespace

const AVRational* FrameRatesOf(const AVCodec* encoder, int compliance) {
  if (encoder == nullptr) return nullptr;
  if (encoder->id == AV_CODEC_ID_MPEG1VIDEO && compliance > FF_COMPLIANCE_UNOFFICIAL) return kMpeg1FrameRates;
  // MPEG-2 video's list holds only rates it codes (the standard's, and others through its frame rate
  // extension).
  return encoder->supported_framerates;
}

PictureSize AcceptedPictureSize(AVCodecID encoder, AVPixelFormat format, int width, int height) {
  PictureSize size{width, height};
  if (width <= 0 || height <= 0) return size;
  if (encoder == AV_CODEC_ID_H263) return NearestH263Size(size);
  if (const AVPixFmtDescriptor* descriptor = runtime::avutil().av_pix_fmt_desc_get(format)) {
    size.Width = RoundedDown(size.Width, 1 << descriptor->log2_chroma_w);
    size.Height = RoundedDown(size.Height, 1 << descriptor->log2_chroma_h);
  }
  switch (encoder) {
    case AV_CODEC_ID_H263P:
    case AV_CODEC_ID_RV20:
      size.Width = RoundedDown(size.Width, 4);
      size.Height = RoundedDown(size.Height, 4);
      break;
    case AV_CODEC_ID_RV10:
      size.Width = RoundedDown(size.Width, 16);
      size.Height = RoundedDown(size.Height, 16);
      break;
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
      size.Width = RoundedDown(size.Width, 2);
      break;
    default:
      break;
  }
  return size;
}

const AVPixelFormat* ContainerPixelFormats(const AVOutputFormat* muxer, AVCodecID codec) {
  if (muxer == nullptr || muxer->name == nullptr) return nullptr;
  for (const ContainerFormats& entry : kContainerFormats) {
    if (entry.Codec == codec && std::strcmp(entry.Muxer, muxer->name) == 0) return entry.Formats;
  }
  return nullptr;
}

}  // namespace engine
