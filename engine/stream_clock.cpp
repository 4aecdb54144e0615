#include "engine/stream_clock.h"

#include "runtime/library_loader.h"

namespace engine {
namespace {

bool Usable(AVRational rate) {
  return rate.num > 0 && rate.den > 0;
}

}  // namespace

std::int64_t NominalDurationUs(const AVStream* stream, const AVCodecContext* decoder, std::int64_t duration,
                               int samples) {
  if (duration > 0 && stream->time_base.num > 0 && stream->time_base.den > 0) {
    return runtime::avutil().av_rescale_q(duration, stream->time_base, AVRational{1, 1000000});
  }
  const AVCodecParameters* parameters = stream->codecpar;
  if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
    const int rate = parameters->sample_rate;
    const int count = samples > 0 ? samples : parameters->frame_size;
    return rate > 0 && count > 0 ? std::int64_t{1000000} * count / rate : 0;
  }
  if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational rate = decoder != nullptr ? decoder->framerate : AVRational{0, 1};
    if (!Usable(rate)) rate = stream->avg_frame_rate;
    if (!Usable(rate)) rate = stream->r_frame_rate;
    if (!Usable(rate)) return 0;
    return std::int64_t{1000000} * rate.den / rate.num;
  }
  return 0;
}

}  // namespace engine
