// Names of the libraries' stream kinds (codec types) for messages and the probe's results.
#pragma once

struct AVStream;

namespace runtime {

// "Video", "Audio", "Data", "Subtitle", "Attachment"; "Unknown" for any other value.
const char* StreamKindName(int codec_type);

// A video stream that holds one still picture attached to the file (an album's cover art,
// AV_DISPOSITION_ATTACHED_PIC): no video to convert, and its frame rate (90000/1) means nothing.
bool IsAttachedPicture(const AVStream& stream);

}  // namespace runtime
