// Option texts of arbitrary bytes through the parser and the whole option vocabulary of a task: each line
// given to SetOption on its own, then the text applied group by group as the engine component applies an
// output's options. A refused option raises the engine's own errors and nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ffmpeg_exception.h"
#include "engine/number_syntax.h"
#include "engine/option_groups.h"
#include "engine/option_text.h"
#include "engine/task.h"
#include "fuzz/fuzz_support.h"
#include "runtime/logger.h"

namespace {

// Runs an option call; the errors that refuse an option are expected, every other exception escapes and
// ends the fuzzer with its message.
template <class Call>
void Refusable(Call call) {
  try {
    call();
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
  const std::string text(reinterpret_cast<const char*>(data), size);
  {
    engine::TFFmpeg task;
    task.Reset();
    for (const auto& [name, value] : engine::SplitOptionText(text))
      Refusable([&, &n = name, &v = value] { task.SetOption(n, v); });
  }
  {
    engine::TFFmpeg task;
    task.Reset();
    for (const int group : {engine::ogCodecNames, engine::ogPresets, engine::ogGeneral, engine::ogFrameSize,
                            engine::ogVideoFilters, engine::ogNewStreams})
      Refusable([&] { task.ApplyOptionText(text, group); });
  }
  // "loglevel" is one of the options: the next input starts quiet again.
  runtime::Logger().SetLogLevel(runtime::llQuiet);
  return 0;
}
