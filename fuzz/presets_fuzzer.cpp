// Preset files of arbitrary bytes: read and applied by "fpre", and by "vpre" and "apre" composed with a
// pending encoder, to tasks as the engine component sets them up. A refused preset raises the engine's own
// error and nothing else.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "engine/ffmpeg_exception.h"
#include "engine/number_syntax.h"
#include "engine/task.h"
#include "fuzz/fuzz_support.h"

namespace {

// Applies the preset option to a fresh task after the options before it.
void ApplyPreset(const std::string& option, const std::string& file,
                 std::initializer_list<std::pair<const char*, const char*>> before) {
  engine::TFFmpeg task;
  task.Reset();
  try {
    for (const auto& [name, value] : before)
      task.SetOption(name, value);
    task.SetOption(option, file);
  } catch (const engine::FFmpegException&) {
  } catch (const engine::ConversionError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::BindLibraries(runtime::EngineLibraries);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file = fuzz_support::WriteInput("fuzz.ffpreset", data, size).string();
  ApplyPreset("fpre", file, {});
  ApplyPreset("vpre", file, {{"vcodec", "libx264"}});
  ApplyPreset("apre", file, {{"acodec", "aac"}, {"ab", "96000"}});
  return 0;
}
