// The first free name of the series name.ext, name-1.ext, name-2.ext, ...
#pragma once

#include <string>

namespace profiles {

// path with its extension (if any) replaced by extension (".mp4"), then with "-1", "-2", ... before the
// extension: the first of these that names no existing file. Only the last component's extension is
// replaced ("a.b/clip" keeps its folder's dot).
std::string UniqueOutputName(const std::string& path, const std::string& extension);

// The last component of path: what follows its last "/".
std::string FileNameOf(const std::string& path);

// path with its extension replaced by extension.
std::string ReplaceExtension(const std::string& path, const std::string& extension);

}  // namespace profiles
