// Finding an encoder or decoder by the name an option gave.
#pragma once

#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace engine {

struct CodecLookup {
  bool Found = true;               // false: ErrorText says why
  const AVCodec* Codec = nullptr;  // null when no name was given
  std::string ErrorText;
};

// No name gives no codec and success. An unknown name gives "Unknown encoder 'x'" (or decoder); a codec of
// another kind gives "Invalid encoder type 'x'".
CodecLookup LookupCodec(const std::optional<std::string>& name, AVMediaType kind, bool encoder);

// Whether an audio encoder name asks for the AMR-NB encoder the engine brings itself: this library
// generation has no encoder of that name.
bool UsesOwnAmrNbEncoder(const std::string& name);

// The codec that the named encoder of kind writes, the engine's own AMR-NB encoder included;
// AV_CODEC_ID_NONE when the name names no such encoder.
AVCodecID EncodedCodec(const std::string& name, AVMediaType kind);

}  // namespace engine
