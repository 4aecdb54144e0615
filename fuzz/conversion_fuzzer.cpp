// A whole conversion of arbitrary bytes by the engine component, as a queue runs one: the bytes are a file
// added as a task, converted into two outputs at once, one stream copy and one re-encoding. Both outputs are
// cut to a second or two and the re-encoding is tiny and uses fast encoders, so that every input ends
// quickly; whatever the input holds, the run must end, and cleanly.
#include <cstddef>
#include <cstdint>
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
  const std::filesystem::path input = fuzz_support::WriteInput("conversion-input", data, size);
  engine::TVidrel vidrel;
  vidrel.SetTriggerEventInMainThread(false);
  if (!vidrel.LoadMediaLibraries({})) std::abort();

  engine::TInputOptions in;
  engine::InitInputOptions(in);
  in.ExtOptions = "threads=1";
  const int task = vidrel.AddTask(input.string(), &in);
  if (task < 0) return 0;

  engine::TOutputOptions copy;
  engine::InitOutputOptions(copy);
  copy.ExtOptions = "vcodec=copy\nacodec=copy\nt=2\nfs=1000000";
  const bool copy_set = vidrel.SetOutputFile(task, (folder / CopyContainer(data, size)).string(), &copy);

  engine::TOutputOptions encoded;
  engine::InitOutputOptions(encoded);
  encoded.ExtOptions = "vcodec=mpeg4\ns=64x48\nr=10\nacodec=mp2\nar=22050\nac=1\nab=32000\nt=1\nfs=300000";
  const bool encoded_set = vidrel.SetOutputFile(task, (folder / "encoded.avi").string(), &encoded);

  if (copy_set || encoded_set) vidrel.StartTask(0);  // on this thread, until the all-done notification
  vidrel.ClearTasks();
  return 0;
}
