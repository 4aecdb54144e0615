#include "runtime/codec_name_text.h"

#include <cstdio>

#include "runtime/library_loader.h"
#include "runtime/trim_blanks.h"

namespace runtime {
namespace {

// Codec id names are short; longer texts are cut like a fixed name field would cut them.
constexpr std::size_t kMaxIdNameLength = 32;

std::string CodecTagText(unsigned tag) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(tag & 0xFF), static_cast<unsigned char>((tag >> 8) & 0xFF),
      static_cast<unsigned char>((tag >> 16) & 0xFF), static_cast<unsigned char>((tag >> 24) & 0xFF)};
  bool printable = true;
  for (unsigned char byte : bytes)
    printable = printable && byte >= 32 && byte <= 126;
  char text[32];
  if (printable) {
    std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", bytes[0], bytes[1], bytes[2], bytes[3], tag);
  } else {
    std::snprintf(text, sizeof text, "0x%04x", tag);
  }
  return text;
}

}  // namespace

std::string CodecNameText(const AVCodecContext& context, bool encoder) {
  const AVCodec* codec = encoder ? avcodec().avcodec_find_encoder(context.codec_id)
                                 : avcodec().avcodec_find_decoder(context.codec_id);
  if (codec != nullptr && codec->name != nullptr) {
    std::string text = codec->name;
    const std::string_view long_name = TrimBlanks(codec->long_name != nullptr ? codec->long_name : "");
    if (!long_name.empty()) {
      text += '(';
      text += long_name;
      text += ')';
    }
    return text;
  }
  if (context.codec_id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // This library generation keeps no codec name in the context; the id's registered name says the same.
  if (const AVCodecDescriptor* descriptor = avcodec().avcodec_descriptor_get(context.codec_id);
      descriptor != nullptr && descriptor->name != nullptr) {
    const std::string_view name = TrimBlanks(std::string_view(descriptor->name).substr(0, kMaxIdNameLength));
    if (!name.empty()) return std::string(name);
  }
  return CodecTagText(context.codec_tag);
}

}  // namespace runtime
