#include "engine/audio_volume.h"

#include <algorithm>
#include <cstring>

namespace engine {
namespace {

template <class Sample, class Wide>
void ScaleIntegers(std::uint8_t* data, int count, int volume, Wide low, Wide high, Wide offset) {
  for (int index = 0; index < count; ++index) {
    Sample sample;
    std::memcpy(&sample, data + static_cast<std::ptrdiff_t>(index) * sizeof(Sample), sizeof(Sample));
    // Unsigned 8-bit samples are centred on 128.
    const Wide centred = static_cast<Wide>(sample) - offset;
    const Wide scaled = (centred * volume + 128) >> 8;
    const auto result = static_cast<Sample>(std::clamp<Wide>(scaled, low, high) + offset);
    std::memcpy(data + static_cast<std::ptrdiff_t>(index) * sizeof(Sample), &result, sizeof(Sample));
  }
}

template <class Sample>
void ScaleFloats(std::uint8_t* data, int count, int volume) {
  const Sample factor = static_cast<Sample>(volume) / static_cast<Sample>(256);
  for (int index = 0; index < count; ++index) {
    Sample sample;
    std::memcpy(&sample, data + static_cast<std::ptrdiff_t>(index) * sizeof(Sample), sizeof(Sample));
    sample = std::clamp<Sample>(sample * factor, -1, 1);
    std::memcpy(data + static_cast<std::ptrdiff_t>(index) * sizeof(Sample), &sample, sizeof(Sample));
  }
}

}  // namespace

void ApplyVolume(std::uint8_t* const* planes, AVSampleFormat format, int channels, int samples, int volume) {
  const bool planar = format >= AV_SAMPLE_FMT_U8P && format <= AV_SAMPLE_FMT_DBLP;
  const int plane_count = planar ? channels : 1;
  const int per_plane = planar ? samples : samples * channels;
  for (int plane = 0; plane < plane_count; ++plane) {
    std::uint8_t* data = planes[plane];
    switch (format) {
      case AV_SAMPLE_FMT_U8:
      case AV_SAMPLE_FMT_U8P:
        ScaleIntegers<std::uint8_t, int>(data, per_plane, volume, -128, 127, 128);
        break;
      case AV_SAMPLE_FMT_S16:
      case AV_SAMPLE_FMT_S16P:
        ScaleIntegers<std::int16_t, int>(data, per_plane, volume, -32768, 32767, 0);
        break;
      case AV_SAMPLE_FMT_S32:
      case AV_SAMPLE_FMT_S32P:
        ScaleIntegers<std::int32_t, std::int64_t>(data, per_plane, volume, INT32_MIN, INT32_MAX, 0);
        break;
      case AV_SAMPLE_FMT_S64:
      case AV_SAMPLE_FMT_S64P:
        // Wider than any product we could form exactly; scaled in floating point instead.
        for (int index = 0; index < per_plane; ++index) {
          std::int64_t sample;
          std::memcpy(&sample, data + static_cast<std::ptrdiff_t>(index) * 8, 8);
          const long double scaled = static_cast<long double>(sample) * volume / 256;
          sample = scaled > static_cast<long double>(INT64_MAX)   ? INT64_MAX
                   : scaled < static_cast<long double>(INT64_MIN) ? INT64_MIN
                                                                  : static_cast<std::int64_t>(scaled);
          std::memcpy(data + static_cast<std::ptrdiff_t>(index) * 8, &sample, 8);
        }
        break;
      case AV_SAMPLE_FMT_FLT:
      case AV_SAMPLE_FMT_FLTP:
        ScaleFloats<float>(data, per_plane, volume);
        break;
      case AV_SAMPLE_FMT_DBL:
      case AV_SAMPLE_FMT_DBLP:
        ScaleFloats<double>(data, per_plane, volume);
        break;
      default:
        break;
    }
  }
}

}  // namespace engine
