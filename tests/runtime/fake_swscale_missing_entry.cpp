// Stands in for a scaling library that lacks an entry point the program binds: the first two entries of the
// scaling library's list resolve, the third (sws_getContext) does not. The loader must reject it and leave no
// slot of the library bound.
#include "runtime/library_entries.h"

extern "C" unsigned swscale_version() {
  return LIBSWSCALE_VERSION_INT;
}

extern "C" const AVClass* sws_get_class() {
  return nullptr;
}
