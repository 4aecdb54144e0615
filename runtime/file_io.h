// The file layer: local files reach the media libraries only as AVIOContexts that we open with POSIX calls,
// never as names the libraries would parse as URLs ("data:x.mp4" or "a|b.avi" are files here, not protocols).
#pragma once

#include <memory>
#include <string>

#include "runtime/library_entries.h"

namespace runtime {

// Owner of an AVIOContext made by OpenFileIo: flushes it when writing, closes the file, frees buffer and
// context.
struct FileIoDeleter {
  void operator()(AVIOContext* io) const;
};
using FileIoPtr = std::unique_ptr<AVIOContext, FileIoDeleter>;

// Opens a local file for the libraries. avio_flags: AVIO_FLAG_READ, AVIO_FLAG_WRITE (create or truncate, mode
// 0666) or AVIO_FLAG_READ_WRITE (create or truncate, read and write). The name may be a plain path or the
// "unicode:utf8:" form. Returns null on failure with *error set to a negative AVERROR code (AVERROR(errno) of
// the failing call; a directory gives AVERROR(EISDIR)). Reads return AVERROR_EOF at the end of the file;
// seeking supports AVSEEK_SIZE; a regular file's context is seekable (AVIO_SEEKABLE_NORMAL), a device's or
// pipe's is not. Write errors reach the library as AVERROR(errno) (so the muxer sees them).
//
// With an interrupt callback, reading never waits in the kernel for data that may never come: opening a
// named pipe does not wait for a writer, and reads of a pipe or device wait in slices of 100 ms, returning
// AVERROR_EXIT once the callback asks to stop. (A regular file's reads cannot wait that way.)
FileIoPtr OpenFileIo(const std::string& file_name, int avio_flags, int* error,
                     const AVIOInterruptCB* interrupt = nullptr);

// Makes every file the library opens by itself through this format context (image sequences, playlists,
// segment lists, two-pass side files) go through OpenFileIo, by setting context->io_open and
// context->io_close2. Names whose scheme is one of the never-wrapped protocols go to the library's own opener
// (the context's default io_open, saved when seen) and are closed by the library's own io_close2. Call it
// right after avformat_alloc_context (or avformat_alloc_output_context2).
//
// An input opened by avformat_open_input without a pb of ours is the one exception: avformat_close_input
// frees that context with avio_close, which only works on contexts the library made, so that one file is
// handed to the library's own opener as "file:" + name (still never parsed as another protocol).
void InstallFileLayer(AVFormatContext* context);

// True when the text before the first ':' is one of the protocols that are never wrapped:
// ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:" (case-sensitive, as the list says).
bool IsNeverWrappedUrl(const std::string& name);
// URL conversion: the name to hand to the library. Names that need no wrapping are returned unchanged (on
// Linux, every valid UTF-8 name round-trips); a name that is not valid UTF-8 (Linux allows any bytes) becomes
// "unicode:utf8:" + name.
std::string LibraryFileName(const std::string& file_name);
// Reverse conversion: a text of at least 14 characters beginning with "unicode:utf8:" (exact case) loses that
// prefix; anything else is returned as it is.
std::string FileNameFromLibrary(const std::string& library_name);

}  // namespace runtime
