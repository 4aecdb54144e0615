#include "profiles/window_choices.h"

namespace profiles {

bool WindowChoices::IsAudioOnlyFormat() const {
  return profiles::IsAudioOnlyFormat(CurrentFormatCode);
}

}  // namespace profiles
