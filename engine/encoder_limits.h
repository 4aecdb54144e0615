// What the encoders and muxers of this library generation refuse, and the nearest values they take instead:
// frame rates, picture sizes and the pixel formats a container can describe. A new output stream is set up
// with these, so a source with an awkward rate, size or format converts instead of failing when the encoder
// opens (or, worse, giving a file no reader can open).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace engine {

// The frame rates the encoder takes at the given compliance (AVCodecContext::strict_std_compliance), ending
// with {0, 0}; null when it takes any rate. Mostly the encoder's own list, but MPEG-1 video lists the
// unofficial rates as well (Xing's 15 fps, libmpeg3's 5, 10, 12 and 15) and refuses them unless the
// compliance is "unofficial" or lower: it gets the eight rates of the standard.
const AVRational* FrameRatesOf(const AVCodec* encoder, int compliance);

struct PictureSize {
  int Width = 0;
  int Height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The size nearest to the given one that the encoder takes in the pixel format: whole chroma samples for a
// format that subsamples them (rounded down, never below one sample), the multiples of 4 or 16 some encoders
// demand, and H.263's five picture sizes. An unknown format leaves the chroma rule out.
PictureSize AcceptedPictureSize(AVCodecID encoder, AVPixelFormat format, int width, int height);

// The pixel formats the muxer can describe for the codec, ending with AV_PIX_FMT_NONE; null when the table
// has no entry for the pair (the encoder's own list, when it has one, is what counts then).
const AVPixelFormat* ContainerPixelFormats(const AVOutputFormat* muxer, AVCodecID codec);

}  // namespace engine
