// What the fuzzers share: a private folder on a memory file system for the files they write, and the media
// libraries bound once with every log line silenced (logging costs more than most inputs take).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "runtime/library_loader.h"

namespace fuzz_support {

// A folder of this process's own (under /dev/shm when it can be written, else $TMPDIR or /tmp), removed when
// the process ends normally.
const std::filesystem::path& PrivateFolder();

// Writes the bytes as the file `name` of the private folder (replacing it) and returns its path.
std::filesystem::path WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size);

// Binds the libraries of the set through the system's library search, quiets our logger and the libraries'
// own logging, and makes this thread the main thread. Ends the process when a library cannot be bound: a
// fuzzer without its libraries would test nothing.
void BindLibraries(runtime::TLibraryKinds kinds);

}  // namespace fuzz_support
