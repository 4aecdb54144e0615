#include "engine/codec_lookup.h"

#include "runtime/library_loader.h"

namespace engine {

CodecLookup LookupCodec(const std::optional<std::string>& name, AVMediaType kind, bool encoder) {
  CodecLookup result;
  if (!name) return result;
  const char* role = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? runtime::avcodec().avcodec_find_encoder_by_name(name->c_str())
                                 : runtime::avcodec().avcodec_find_decoder_by_name(name->c_str());
  if (codec == nullptr) {
    result.Found = false;
    result.ErrorText = std::string("Unknown ") + role + " '" + *name + "'";
  } else if (codec->type != kind) {
    result.Found = false;
    result.ErrorText = std::string("Invalid ") + role + " type '" + *name + "'";
  } else {
    result.Codec = codec;
  }
  return result;
}

}  // namespace engine
