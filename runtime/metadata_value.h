// Reading one metadata tag.
#pragma once

#include <string>

#include "runtime/library_entries.h"

namespace runtime {

// The value of the tag named key (matched the library's default way: case-insensitive, whole key), or
// default_text when the set is empty, the key is null or no tag has that name.
std::string MetadataValue(const AVDictionary* metadata, const char* key, std::string default_text);

}  // namespace runtime
