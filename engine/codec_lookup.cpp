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

bool UsesOwnAmrNbEncoder(const std::string& name) {
  return (name == "libopencore_amrnb" || name == "libamr_nb") &&
         runtime::avcodec().avcodec_find_encoder_by_name(name.c_str()) == nullptr;
}

AVCodecID EncodedCodec(const std::string& name, AVMediaType kind) {
  if (kind == AVMEDIA_TYPE_AUDIO && UsesOwnAmrNbEncoder(name)) return AV_CODEC_ID_AMR_NB;
  const CodecLookup lookup = LookupCodec(name, kind, true);
  return lookup.Codec != nullptr ? lookup.Codec->id : AV_CODEC_ID_NONE;
}

}  // namespace engine
