#include "runtime/metadata_value.h"

#include "runtime/library_loader.h"

namespace runtime {

std::string MetadataValue(const AVDictionary* metadata, const char* key, std::string default_text) {
  if (metadata == nullptr || key == nullptr) return default_text;
  const AVDictionaryEntry* entry = avutil().av_dict_get(metadata, key, nullptr, 0);
  if (entry == nullptr || entry->value == nullptr) return default_text;
  return entry->value;
}

}  // namespace runtime
