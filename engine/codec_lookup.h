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

}  // namespace engine
