// Names of the libraries' stream kinds (codec types) for messages and the probe's results.
#pragma once

namespace runtime {

// "Video", "Audio", "Data", "Subtitle", "Attachment"; "Unknown" for any other value.
const char* StreamKindName(int codec_type);

}  // namespace runtime
