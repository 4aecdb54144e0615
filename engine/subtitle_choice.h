// How an output takes a subtitle stream of its input when the task names no subtitle encoder: copied when
// the container takes the stream's codec as it is, converted into the container's own text format when the
// stream is text, or left out with the reason.
#pragma once

#include <string>

#include "runtime/library_entries.h"

namespace engine {

enum class SubtitleWay { kLeftOut, kCopy, kConvert };

struct SubtitleChoice {
  SubtitleWay Way = SubtitleWay::kLeftOut;
  const AVCodec* Encoder = nullptr;  // kConvert: the encoder of the container's text format
  std::string Reason;                // kLeftOut: why the container cannot carry the stream
};

// What an output of `format` does with a subtitle stream of codec `source`.
SubtitleChoice ChooseSubtitleWay(const AVOutputFormat& format, AVCodecID source);

// The input subtitle stream an output takes by itself, and how.
struct AutomaticSubtitle {
  int FileIndex = 0;
  int StreamIndex = 0;
  SubtitleChoice Choice;
};

}  // namespace engine
