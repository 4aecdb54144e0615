// A whole conversion of arbitrary bytes by the engine component, as a queue runs one: the bytes are a file
// added as a task, converted into two outputs at once, one stream copy and one re-encoding. Both outputs are
// cut to a second or two and the re-encoding is tiny and uses fast encoders, so that every input ends
// quickly; whatever the input holds, the run must end, and cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "engine/vidrel.h"
#include "fuzz/fuzz_support.h"

namespace {

// The stream copy's container, picked by the input so that one input always meets the same muxer.
const char* CopyContainer(const std::uint8_t* data, std::size_t size) {
  static constexpr const char* kNames[] = {"copy.mkv", "copy.mp4", "copy.avi", "copy.ts"};
  const std::size_t hash =
      std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data), size));
  return kNames[hash % std::size(kNames)];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::BindLibraries(runtime::EngineLibraries);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path folder = fuzz_support::PrivateFolder();
  const std::string input = fuzz_support::WriteInput("conversion-input", data, size).string();
  engine::TVidrel vidrel;
  vidrel.SetTriggerEventInMainThread(false);
  if (!vidrel.LoadMediaLibraries({})) std::abort();
  // TARVELLO_FUZZ_VERBOSE=1 tells how each input's tasks ended, for looking into one input.
  static const bool verbose = std::getenv("TARVELLO_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    vidrel.SetOnTerminate([](engine::TCustomVidrel&, const engine::TTerminateInfo& info) {
      if (info.TaskIndex >= 0)
        std::fprintf(stderr, "task %d ended: finished %d %s\n", info.TaskIndex, info.Finished,
                     info.ExceptionMessage.c_str());
    });
  }

  // Two tasks on the file, so that a container refusing the copied streams leaves the re-encoding to run.
  const auto add_task = [&](const std::string& output, const char* output_options) {
    engine::TInputOptions in;
    engine::InitInputOptions(in);
    in.ExtOptions = "threads=1";
    const int task = vidrel.AddTask(input, &in);
    engine::TOutputOptions out;
    engine::InitOutputOptions(out);
    out.ExtOptions = output_options;
    if (task < 0 || !vidrel.SetOutputFile(task, (folder / output).string(), &out)) {
      if (verbose) std::fprintf(stderr, "%s: %s\n", output.c_str(), vidrel.LastErrorText().c_str());
      return false;
    }
    return true;
  };
  if (!add_task(CopyContainer(data, size), "vcodec=copy\nacodec=copy\nt=2\nfs=1000000")) return 0;
  add_task("encoded.avi",
           "vcodec=mpeg4\ns=64x48\nr=10\nacodec=mp2\nar=22050\nac=1\nab=32000\nt=1\nfs=300000");
  vidrel.StartTask(0);  // one task after the other on this thread, until the all-done notification
  vidrel.ClearTasks();
  return 0;
}
