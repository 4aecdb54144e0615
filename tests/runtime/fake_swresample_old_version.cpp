// Stands in for a resampling library of an older major version (3.9.100): it exports every entry point the
// program binds from the resampling library, so only the version check can refuse it.
//
// Every name of the resampling library's list becomes a function that reports that version. The names are
// given as assembler labels because the library's header already declares them with other types; only
// swresample_version is ever called.
#include "runtime/library_entries.h"

#define TARVELLO_FAKE_OLD_VERSION_ENTRY(name)                 \
  extern "C" unsigned FakeOldVersion_##name() __asm__(#name); \
  extern "C" unsigned FakeOldVersion_##name() {               \
    return AV_VERSION_INT(3, 9, 100);                         \
  }

TARVELLO_SWRESAMPLE_ENTRIES(TARVELLO_FAKE_OLD_VERSION_ENTRY)
