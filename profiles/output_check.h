// Reading a finished job's output back, so that a conversion that wrote something unusable is never
// reported as done: the output must open, hold the streams the job asked for, in the container and codecs
// asked for, and last about as long as what was converted.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/engine_records.h"
#include "probe/av_probe.h"
#include "profiles/source_contents.h"

namespace profiles {

// What a job's output must be, decided when the job starts. Empty texts and -1 are not checked.
struct OutputExpectation {
  std::string Path;
  std::string Container;  // the reading side's format name ("avi", "mov,mp4,m4a,3gp,3g2,mj2")
  bool WantsPicture = false;
  bool WantsSound = false;
  std::string PictureCodec;  // the codec's registered name ("mpeg4", "h264", "amr_nb")
  std::string SoundCodec;
  std::int64_t Length = -1;  // microseconds of the source that the job converts
};

// The expectation for an output written with these options from a source with these contents.
OutputExpectation ExpectedOutput(const std::string& output_path, const engine::TOutputOptions& options,
                                 const SourceContents& source);

// How long reading the output back may take at most when its length must be measured from its packets;
// past it, the length is not checked.
constexpr std::chrono::milliseconds kLengthReadingBudget{2000};

// Why the output is not what the job asked for, or empty when it is. Opens the output with probe and
// closes it again.
std::string CheckOutput(probe::TCustomAVProbe& probe, const OutputExpectation& expected);

}  // namespace profiles
