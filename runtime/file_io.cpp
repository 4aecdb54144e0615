#include "runtime/file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/media_owners.h"

namespace runtime {
namespace {

constexpr int kBufferSize = 64 * 1024;
constexpr std::string_view kWrappedPrefix = "unicode:utf8:";
constexpr std::string_view kNeverWrappedProtocols = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

// What one of our AVIOContexts needs besides the context itself; its opaque pointer.
struct OpenFile {
  int descriptor = -1;
  std::string name;             // for messages
  AVIOInterruptCB interrupt{};  // with a callback: a pipe's or device's reads wait in slices
  bool waits_in_slices = false;
};

class FileLayerSource final : public LogSource {
 public:
  std::string LogSourceName() const override { return "FileIo"; }
};

const LogSource* FileLayer() {
  static const FileLayerSource source;
  return &source;
}

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  avutil().av_strerror(code, text, sizeof text);
  return text;
}

bool Interrupted(const OpenFile& file) {
  return file.interrupt.callback != nullptr && file.interrupt.callback(file.interrupt.opaque) != 0;
}

// Waits until the descriptor has data, its end, or an error (true), or the interrupt asks to stop (false).
// A named pipe whose writer has not come yet reports nothing, so this waits for the writer too.
bool WaitReadable(const OpenFile& file) {
  constexpr int kSliceMilliseconds = 100;
  for (;;) {
    if (Interrupted(file)) return false;
    pollfd waiting{file.descriptor, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, kSliceMilliseconds);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // the read reports what is wrong
  }
}

int ReadFile(void* opaque, std::uint8_t* buffer, int size) {
  const OpenFile& file = *static_cast<const OpenFile*>(opaque);
  for (;;) {
    if (file.waits_in_slices && !WaitReadable(file)) return AVERROR_EXIT;
    const ssize_t count = ::read(file.descriptor, buffer, static_cast<std::size_t>(size));
    if (count > 0) return static_cast<int>(count);
    // A 0 would be taken for "try again" by some readers; the library's end-of-file code ends them.
    if (count == 0) return AVERROR_EOF;
    if (errno == EAGAIN && file.waits_in_slices) continue;  // another reader took the data first
    if (errno != EINTR) return AVERROR(errno);
  }
}

int WriteFile(void* opaque, std::uint8_t* buffer, int size) {
  const OpenFile& file = *static_cast<const OpenFile*>(opaque);
  const std::uint8_t* next = buffer;
  std::size_t left = static_cast<std::size_t>(size);
  while (left > 0) {
    const ssize_t count = ::write(file.descriptor, next, left);
    if (count < 0) {
      if (errno == EINTR) continue;
      return AVERROR(errno);
    }
    if (count == 0) return AVERROR(EIO);  // no progress and no reason: retrying would spin forever
    next += count;
    left -= static_cast<std::size_t>(count);
  }
  return size;
}

std::int64_t SeekFile(void* opaque, std::int64_t offset, int whence) {
  const OpenFile& file = *static_cast<const OpenFile*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat status {};
    if (::fstat(file.descriptor, &status) != 0) return AVERROR(errno);
    // A device or pipe has no size; reporting st_size (0) would make readers believe the file is empty.
    if (!S_ISREG(status.st_mode)) return AVERROR(ENOSYS);
    return status.st_size;
  }
  const off_t position = ::lseek(file.descriptor, offset, whence);
  if (position < 0) return AVERROR(errno);
  return position;
}

bool IsFileLayerContext(const AVIOContext* io) {
  return io != nullptr && io->seek == &SeekFile;
}

// Closes one of our contexts; returns 0 or the first error (a write that never reached the file, or the
// close).
int CloseFileIo(AVIOContext* io) {
  int result = 0;
  std::unique_ptr<OpenFile> file(static_cast<OpenFile*>(io->opaque));
  const bool written = io->write_flag != 0;
  if (written) {
    avformat().avio_flush(io);
    if (io->error < 0) {
      result = io->error;
      Log(FileLayer(), llError,
          "Writing \"" + file->name + "\" failed: " + ErrorText(io->error) + "; the file is incomplete");
    }
  }
  // The library may have replaced the buffer it was given (seek-back, probing), so free what it holds now.
  avutil().av_freep(&io->buffer);
  avformat().avio_context_free(&io);
  // No retry on EINTR: Linux has released the descriptor whatever close returns.
  if (::close(file->descriptor) != 0) {
    const int close_error = AVERROR(errno);
    if (result == 0) result = close_error;
    Log(FileLayer(), llError,
        "Closing \"" + file->name + "\" failed: " + ErrorText(close_error) +
            (written ? "; data written to it may be lost" : ""));
  }
  return result;
}

using IoOpen = decltype(AVFormatContext::io_open);
using IoClose2 = decltype(AVFormatContext::io_close2);

// The library's own opener and closer, taken from the format contexts we are given.
std::atomic<IoOpen> library_io_open{nullptr};
std::atomic<IoClose2> library_io_close2{nullptr};

int OpenForLibrary(AVFormatContext* context, AVIOContext** pb, const char* url, int flags,
                   AVDictionary** options) {
  const std::string name = url != nullptr ? url : "";
  const std::string file_name = FileNameFromLibrary(name);
  const bool wrapped = file_name.size() != name.size();
  const IoOpen library_open = library_io_open.load();
  if (!wrapped && IsNeverWrappedUrl(name)) {
    if (library_open == nullptr) return AVERROR_PROTOCOL_NOT_FOUND;
    return library_open(context, pb, url, flags, options);
  }
  // avformat_open_input opens the main input here when the caller gave it no pb, and avformat_close_input
  // frees that one with avio_close, which would take our opaque data for a URLContext. So this file goes to
  // the library's file protocol; the "file:" scheme keeps the name from being read as any other protocol.
  if (pb == &context->pb && context->oformat == nullptr) {
    if (library_open == nullptr) return AVERROR_PROTOCOL_NOT_FOUND;
    return library_open(context, pb, ("file:" + file_name).c_str(), flags, options);
  }
  int error = 0;
  FileIoPtr io = OpenFileIo(file_name, flags, &error);
  if (!io) return error;
  *pb = io.release();
  return 0;
}

int CloseForLibrary(AVFormatContext* context, AVIOContext* io) {
  if (io == nullptr) return 0;
  if (IsFileLayerContext(io)) return CloseFileIo(io);
  const IoClose2 library_close = library_io_close2.load();
  if (library_close == nullptr) return AVERROR_BUG;
  return library_close(context, io);
}

bool IsValidUtf8(std::string_view text) {
  std::size_t index = 0;
  while (index < text.size()) {
    const auto lead = static_cast<unsigned char>(text[index]);
    if (lead < 0x80) {
      ++index;
      continue;
    }
    std::size_t length = 0;
    char32_t code = 0;
    char32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1Fu;
      smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0Fu;
      smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07u;
      smallest = 0x10000;
    } else {
      return false;
    }
    if (text.size() - index < length) return false;
    for (std::size_t offset = 1; offset < length; ++offset) {
      const auto follower = static_cast<unsigned char>(text[index + offset]);
      if ((follower & 0xC0) != 0x80) return false;
      code = (code << 6) | (follower & 0x3Fu);
    }
    // Overlong forms, UTF-16 surrogates and code points beyond Unicode are not UTF-8.
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    index += length;
  }
  return true;
}

}  // namespace

void FileIoDeleter::operator()(AVIOContext* io) const {
  if (io != nullptr) CloseFileIo(io);
}

FileIoPtr OpenFileIo(const std::string& file_name, int avio_flags, int* error,
                     const AVIOInterruptCB* interrupt) {
  int ignored_error = 0;
  if (error == nullptr) error = &ignored_error;
  *error = 0;

  int open_flags = O_CLOEXEC;
  switch (avio_flags & AVIO_FLAG_READ_WRITE) {
    case AVIO_FLAG_READ:
      open_flags |= O_RDONLY;
      break;
    case AVIO_FLAG_WRITE:
      open_flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case AVIO_FLAG_READ_WRITE:
      open_flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    default:
      *error = AVERROR(EINVAL);
      return nullptr;
  }

  const bool interruptible = interrupt != nullptr && interrupt->callback != nullptr;
  // A named pipe's open would wait for a writer; non-blocking it returns at once (reads then wait in slices).
  if (interruptible && (avio_flags & AVIO_FLAG_READ_WRITE) == AVIO_FLAG_READ) open_flags |= O_NONBLOCK;

  auto file = std::make_unique<OpenFile>();
  file->name = FileNameFromLibrary(file_name);
  if (interruptible) file->interrupt = *interrupt;
  do {
    file->descriptor = ::open(file->name.c_str(), open_flags, 0666);
  } while (file->descriptor < 0 && errno == EINTR);
  if (file->descriptor < 0) {
    *error = AVERROR(errno);
    return nullptr;
  }
  // From here on the descriptor is closed on every path that does not hand it to a context.
  auto close_descriptor = [&file, error](int code) {
    ::close(file->descriptor);
    *error = code;
    return nullptr;
  };

  struct stat status {};
  if (::fstat(file->descriptor, &status) != 0) return close_descriptor(AVERROR(errno));
  if (S_ISDIR(status.st_mode)) return close_descriptor(AVERROR(EISDIR));
  if ((open_flags & O_NONBLOCK) != 0) {
    file->waits_in_slices = !S_ISREG(status.st_mode);
    // A regular file reads as before; a pipe or device stays non-blocking, its reads wait in poll.
    if (!file->waits_in_slices) {
      const int status_flags = ::fcntl(file->descriptor, F_GETFL);
      if (status_flags < 0 || ::fcntl(file->descriptor, F_SETFL, status_flags & ~O_NONBLOCK) != 0)
        return close_descriptor(AVERROR(errno));
    }
  }

  LibraryMemoryPtr<unsigned char> buffer(static_cast<unsigned char*>(avutil().av_malloc(kBufferSize)));
  if (!buffer) return close_descriptor(AVERROR(ENOMEM));
  const bool writing = (avio_flags & AVIO_FLAG_WRITE) != 0;
  AVIOContext* io = avformat().avio_alloc_context(buffer.get(), kBufferSize, writing ? 1 : 0, file.get(),
                                                  (avio_flags & AVIO_FLAG_READ) != 0 ? &ReadFile : nullptr,
                                                  writing ? &WriteFile : nullptr, &SeekFile);
  if (io == nullptr) return close_descriptor(AVERROR(ENOMEM));
  buffer.release();  // now io->buffer
  // Muxers rewrite headers and demuxers seek for indexes only where seeking works.
  io->seekable = S_ISREG(status.st_mode) ? AVIO_SEEKABLE_NORMAL : 0;
  file.release();  // now io->opaque, reclaimed by CloseFileIo
  return FileIoPtr(io);
}

void InstallFileLayer(AVFormatContext* context) {
  // Taken from every context that still has the library's own functions, not only the first: should the
  // libraries be unloaded and loaded again, the saved addresses follow them.
  if (context->io_open != nullptr && context->io_open != &OpenForLibrary) {
    library_io_open.store(context->io_open);
    if (context->io_close2 != nullptr && context->io_close2 != &CloseForLibrary)
      library_io_close2.store(context->io_close2);
  }
  context->io_open = &OpenForLibrary;
  context->io_close2 = &CloseForLibrary;
}

bool IsNeverWrappedUrl(const std::string& name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string protocol = ":" + name.substr(0, colon) + ":";
  return kNeverWrappedProtocols.find(protocol) != std::string_view::npos;
}

std::string LibraryFileName(const std::string& file_name) {
  if (IsNeverWrappedUrl(file_name) || IsValidUtf8(file_name)) return file_name;
  return std::string(kWrappedPrefix) + file_name;
}

std::string FileNameFromLibrary(const std::string& library_name) {
  if (library_name.size() >= kWrappedPrefix.size() + 1 && library_name.starts_with(kWrappedPrefix))
    return library_name.substr(kWrappedPrefix.size());
  return library_name;
}

}  // namespace runtime
