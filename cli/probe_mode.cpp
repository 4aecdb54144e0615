#include "cli/probe_mode.h"

#include <cstdio>

#include "engine/vidrel.h"
#include "probe/av_probe.h"
#include "profiles/source_facts.h"
#include "runtime/program_folder.h"

namespace cli {
namespace {

std::string StreamLine(int index, const probe::TStreamSummary& stream) {
  std::string line = "  stream " + std::to_string(index) + ": " + stream.Kind + " " + stream.CodecName;
  if (stream.Width > 0 && stream.Height > 0) {
    line += " " + std::to_string(stream.Width) + "x" + std::to_string(stream.Height);
  }
  if (stream.FrameRateNum > 0 && stream.FrameRateDen > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, " %.5g fps",
                  static_cast<double>(stream.FrameRateNum) / static_cast<double>(stream.FrameRateDen));
    line += rate;
  }
  if (stream.SampleRate > 0) line += " " + std::to_string(stream.SampleRate) + " Hz";
  if (stream.Channels > 0) line += " " + std::to_string(stream.Channels) + " channels";
  if (stream.BitRate > 0) line += " " + std::to_string(stream.BitRate / 1000) + " kb/s";
  return line;
}

}  // namespace

int RunProbeMode(const std::vector<std::string>& files) {
  engine::TVidrel vidrel;
  if (!vidrel.LoadMediaLibraries(runtime::ProgramFolder())) {
    std::fprintf(stderr, "tarvello-convert: the media libraries cannot be bound: %s\n",
                 vidrel.LastErrorText().c_str());
    return 1;
  }
  probe::TAVProbe& probe = vidrel.Probe();
  int status = 0;
  for (const std::string& file : files) {
    if (!probe.Open(file)) {
      // The probe's text names the file already.
      std::fprintf(stderr, "tarvello-convert: %s\n", probe.LastError().c_str());
      status = 1;
      continue;
    }
    const profiles::SourceFacts facts = profiles::ReadOpenedSourceFacts(probe);
    std::printf("%s: %s, %s, %s\n", file.c_str(), probe.ContainerFormatName().c_str(),
                facts.DurationColumn.c_str(),
                facts.SizeColumn == " " ? "no video" : facts.SizeColumn.c_str());
    for (int index = 0; index < probe.StreamCount(); ++index) {
      probe::TStreamSummary stream;
      if (probe.GetStreamSummary(index, stream)) std::printf("%s\n", StreamLine(index, stream).c_str());
    }
    probe.Close();
  }
  std::fflush(stdout);
  return status;
}

}  // namespace cli
