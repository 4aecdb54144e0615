#include "runtime/open_error_text.h"

#include <cerrno>

#include "runtime/library_loader.h"

namespace runtime {

// The messages were written for an earlier library generation whose open call reported its own set of codes
// ("no format", "number expected", "invalid data", ...). This generation reports other codes for the same
// conditions, so each message is chosen by what the code means:
// - AVERROR(EILSEQ) is the code the earlier generation used for "no suitable format";
// - AVERROR(EDOM) still means an image sequence name without a usable number pattern;
// - AVERROR_INVALIDDATA is how this generation reports an unreadable header, and AVERROR(EINVAL) was the
//   earlier generation's "invalid data" code, so both are a header that could not be parsed;
// - AVERROR_EOF is what this generation reports when a file ends before its header does, which is the same
//   truncated or damaged file that AVERROR(EIO) reports.
std::string OpenErrorText(const std::string& file_name, int code) {
  switch (code) {
    case AVERROR(EILSEQ):
      return file_name + ": Unknown format";
    case AVERROR(EDOM):
      return file_name +
             ": Incorrect image filename syntax.\r\n"
             "Use '%d' to specify the image number:\r\n"
             "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
             "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";
    case AVERROR_INVALIDDATA:
    case AVERROR(EINVAL):
      return file_name + ": Error while parsing header";
    case AVERROR(ENOMEM):
      return file_name + ": memory allocation error occurred";
    case AVERROR(EIO):
    case AVERROR_EOF:
      return file_name +
             ": I/O error occurred\r\n"
             "Usually that means that input file is truncated and/or corrupted.";
    case AVERROR(ENOENT):
      return file_name + ": no such file or directory";
    default:
      return file_name + ": Error while opening file";
  }
}

std::string LibraryErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE * 2] = {};
  // On an unknown code av_strerror still writes a text naming the number, which is what we want to show.
  avutil().av_strerror(code, text, sizeof text);
  return text;
}

std::string DescribeLibraryError(std::string_view operation, std::string_view file, int code) {
  std::string message(operation);
  message += " '";
  message += file;
  message += "': ";
  message += LibraryErrorText(code);
  return message;
}

}  // namespace runtime
