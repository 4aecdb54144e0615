// Builds one conversion job from the window's choices: the output name, the input and output option
// records, and the engine calls that start it.
#pragma once

#include <string>

#include "engine/engine_records.h"
#include "engine/vidrel.h"
#include "profiles/output_check.h"
#include "profiles/window_choices.h"
#include "probe/av_probe.h"

namespace profiles {

// One row of the file list, as the builder reads it.
struct JobSource {
  std::string Path;        // the row's caption: the input file's full path
  std::string SizeColumn;  // the first video stream's "<width>x<height>", " " without video
};

// The engine's AudioVolume for the output-volume spin value (0..200 in steps of 20; 256 is unchanged, the
// top value 600); a value not in the table gives 256.
int VolumeToEngine(int spin_value);

// The output file: the folder, "/", and the source's file name with the profile's extension; without
// Overwrite, the first free name of the series name, name-1, name-2, ...
std::string OutputPathFor(const WindowChoices& choices, const std::string& source_path);

// Fills the output record from the choices (the record is cleared first). probe reads the source's frame
// rate when the frame rate is "Auto". Throws JobChoiceError when a choice cannot be read (a list without a
// selection, a zero frame rate).
void FillOutputOptions(const WindowChoices& choices, const JobSource& source, probe::TCustomAVProbe& probe,
                       engine::TOutputOptions& options);

struct JobStart {
  bool Started = false;
  std::string OutputPath;      // empty when the job failed before the name was chosen
  std::string FailureText;     // why it did not start: the engine's LastErrorText or the unreadable choice
  OutputExpectation Expected;  // what the finished output must be (CheckOutput), when it started
};

// Clears the engine's tasks, adds the source as the one task, sets its output from the choices (into
// output_options, which the caller keeps for the job's lifetime) and starts it on a worker thread. When it
// does not start, nothing runs and the engine holds no task.
JobStart BuildAndStartJob(engine::TCustomVidrel& vidrel, const WindowChoices& choices,
                          const JobSource& source, engine::TOutputOptions& output_options);

}  // namespace profiles
