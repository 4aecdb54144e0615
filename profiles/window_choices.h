// A snapshot of every choice the main window offers for a conversion: the output-format list, the parameter
// lists of both settings tabs, the preferences, the output volume, the overwrite box and the output folder.
// The window keeps one and binds its controls to it; the command line front end fills one from its
// arguments; the job builder reads one.
#pragma once

#include <string>

#include "profiles/choice_list.h"
#include "profiles/output_formats.h"

namespace profiles {

struct WindowChoices {
  ChoiceList ComboOutputFormat;

  ChoiceList ComboVideoQuality;  // "Highest" .. "Lowest"
  ChoiceList ComboAudioQuality;
  ChoiceList ComboVideoSize1;  // the copy of ComboVideoSize on the first settings tab

  ChoiceList ComboVideoCodec;
  ChoiceList ComboVideoBitrate;
  ChoiceList ComboVideoSize;
  ChoiceList ComboVideoFrameRate;
  ChoiceList ComboAudioCodec;
  ChoiceList ComboAudioBitrate;
  ChoiceList ComboSamplingRate;
  ChoiceList ComboAudioChannels;

  ChoiceList ComboBoxLetterbox;    // "None", "Add LetterBox"
  ChoiceList ComboBoxAspectRatio;  // "Auto", "4:3", "16:9"; shown, never read

  // The output-format row chosen last that was a profile; a header or separator choice returns to it.
  int LastFormatIndex = kInitialFormatRow;
  // The quality positions chosen last (0..4, -1 when a bit-rate choice left a quality list without a
  // selection). They survive format changes and are stored with the settings.
  int SavedVideoQuality = 2;
  int SavedAudioQuality = 2;
  // The FormatCode of the profile whose lists were filled last.
  std::string CurrentFormatCode;

  int OutputVolume = 100;  // the "Video Output Volume" spin box: 0 to 200 in steps of 20
  bool Overwrite = false;
  std::string OutputFolder;

  // IsAudioOnlyFormat of CurrentFormatCode.
  bool IsAudioOnlyFormat() const;
};

}  // namespace profiles
