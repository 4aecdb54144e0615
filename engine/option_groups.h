#pragma once

namespace engine {

// The groups of an option text, applied at different points of a task's set-up.
enum TOptionGroup : int {
  ogNewStreams = 0,    // "newvideo", "newaudio", "newsubtitle": after the output exists
  ogPresets = 1,       // "apre", "vpre", "spre", "fpre"
  ogCodecNames = 2,    // "acodec", "vcodec", "scodec"
  ogFrameSize = 3,     // "s": after the crop values
  ogVideoFilters = 4,  // "vfilters"
  ogGeneral = 5,       // every other option
};

}  // namespace engine
