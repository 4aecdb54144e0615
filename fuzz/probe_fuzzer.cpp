// The media probe opening arbitrary bytes by file name, as the window's intake does: through our file layer
// and the library's demuxers, then every read-out of the container and of each stream.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "probe/av_probe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::BindLibraries(runtime::EngineLibraries);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzz_support::WriteInput("probe-input", data, size);
  probe::TAVProbe probe;
  if (!probe.Open(file.string())) return 0;
  probe::TFileStreamInfo file_info;
  probe.GetFileStreamInfo(file_info);
  probe::TVideoStreamInfo video;
  probe.GetVideoStreamInfo(-1, video);
  for (int index = 0; index < probe.StreamCount(); ++index) {
    probe::TStreamSummary summary;
    probe.GetStreamSummary(index, summary);
    probe.GetVideoStreamInfo(index, video);
    probe.IsAttachedPicture(index);
  }
  // One past the end, and a negative index other than -1, name no stream.
  probe::TStreamSummary none;
  probe.GetStreamSummary(probe.StreamCount(), none);
  probe.GetVideoStreamInfo(-2, video);
  probe.ContainerFormatName();
  probe.Close();
  return 0;
}
