// The files of a task as its set-up leaves them for the conversion: opened inputs with a decoder context per
// stream, and created outputs with an encoder (or copy) context per stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/file_io.h"
#include "runtime/media_owners.h"

namespace engine {

struct InputStreamSetup {
  // The stream's decoder context: its parameters, packet time base and the task's decoding options. The
  // conversion opens it when the stream is decoded.
  runtime::CodecContextPtr Decoder;
  // Forced by "vcodec", "acodec" or "scodec" before the input was opened; null: the stream's own decoder.
  const AVCodec* ForcedDecoder = nullptr;
};

struct InputFile {
  std::string FileName;
  // Our file layer's reader; declared before Format so that it outlives the demuxer reading through it.
  runtime::FileIoPtr Io;
  runtime::InputFormatPtr Format;
  std::vector<InputStreamSetup> Streams;  // one per stream of Format, whatever its kind
  std::int64_t TsOffset = 0;              // microseconds added to the file's time stamps
  bool Seeked = false;                    // opened at a start time ("ss" before the input)
};

struct OutputStreamSetup {
  AVMediaType Kind = AVMEDIA_TYPE_UNKNOWN;
  // The first pass's statistics read for a second pass (the encoder's stats_in); declared before the encoder
  // so that it outlives it.
  runtime::LibraryMemoryPtr<char> PassStatistics;
  // Encoder settings, or for a copied stream the copied parameters; opened by the conversion.
  runtime::CodecContextPtr Encoder;
  // Forced by name ("vcodec" ...); null: the format's guess, looked up again when the encoder is opened.
  const AVCodec* ForcedEncoder = nullptr;
  bool StreamCopy = false;
  bool ExternalAmrNb = false;  // "libopencore_amrnb": encoded by the engine through libopencore-amrnb
  std::vector<std::string> BitstreamFilters;  // names, in order
  // The input stream (file and stream index) the mapping without stream maps feeds this stream from; -1:
  // the first unused input stream of its kind.
  int SourceFile = -1;
  int SourceStream = -1;
};

struct OutputFile {
  std::string FileName;
  bool WritesFile = true;  // false for formats that write no file of their own
  // Nothing was at the name before the task opened it; only such a file is ever removed again.
  bool CreatedByTask = false;
  // Our file layer's writer; declared before Format so that the muxer is gone before the file closes.
  runtime::FileIoPtr Io;
  runtime::FormatContextPtr Format;
  std::vector<OutputStreamSetup> Streams;  // index = the library stream's index
  runtime::Dictionary MuxerOptions;        // private options of the muxer, handed over with the header
  bool HeaderWritten = false;
};

}  // namespace engine
