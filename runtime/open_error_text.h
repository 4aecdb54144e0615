// Texts for the media libraries' error codes: the fixed messages for a file that cannot be opened, and the
// libraries' own description of any code.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// The message for a file the format library could not open, chosen by the library's result code.
std::string OpenErrorText(const std::string& file_name, int code);

// The library's description of an error code ("No such file or directory", "Invalid data found when
// processing input"); a text naming the number for codes the library does not know.
std::string LibraryErrorText(int code);

// "<operation> '<file>': <the library's description of code>", for messages about a failed library call.
std::string DescribeLibraryError(std::string_view operation, std::string_view file, int code);

}  // namespace runtime
