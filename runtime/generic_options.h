// The generic option contexts of one conversion task: a codec context per stream kind, a format context and
// a scaler context on which option names of the libraries ("b", "ar", "probesize", "sws_flags", an encoder's
// "crf") are set by name before the real contexts exist. The engine later copies the options that were set
// into the codec, format and scaler contexts it creates.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "runtime/media_owners.h"

namespace runtime {

class GenericOptions {
 public:
  // The stream kinds in the order the option lookup walks them; the index is the library's AVMediaType.
  static constexpr int kKindCount = AVMEDIA_TYPE_ATTACHMENT + 1;

  GenericOptions() = default;
  GenericOptions(const GenericOptions&) = delete;
  GenericOptions& operator=(const GenericOptions&) = delete;
  GenericOptions(GenericOptions&&) = default;
  GenericOptions& operator=(GenericOptions&&) = default;

  // Creates the contexts (releasing earlier ones): a codec context per kind with that kind's defaults, a
  // format context and a scaler context made with scaler_flags. False, with nothing allocated, when the
  // libraries refuse one of them (for example scaler flags naming two scaling methods).
  bool Allocate(int scaler_flags);
  void Release();
  bool Allocated() const { return format_.context != nullptr; }

  // Sets the option wherever it belongs: in every kind's codec context that has it for that kind, else in the
  // format context, else in the scaler context, else, for a name starting with 'a', 'v' or 's', the rest of
  // the name in the audio, video or subtitle codec context. False for a blank name or value, a name no
  // context has (nothing logged) and a value the option refuses (logged as a library error). A "debug"
  // setting that turns on the video codec's or the format's debug output raises the logger to llDebug.
  bool Set(const std::string& name, const std::string& value);

  // Copies the options set so far from source into destination, each where the option's flags contain all of
  // required_flags. When source is one of these contexts only the options set on it are copied, so another
  // context's setting never carries this context's default value over a destination's own default.
  // Options the destination lacks are skipped.
  void ApplyTo(void* destination, const void* source, int required_flags) const;

  // Re-creates kind's codec context for the encoder, so that the encoder's private options ("crf", "preset")
  // can be set; the options already set on that context are carried over. A null encoder returns to a plain
  // context of the kind. False when nothing is allocated, the kind is not one of the five or the encoder
  // encodes another kind; the context is then unchanged.
  bool SetEncoder(AVMediaType kind, const AVCodec* encoder);

  // The contexts, owned here; null before Allocate.
  AVCodecContext* Codec(AVMediaType kind) const;
  AVCodecContext* Video() const { return Codec(AVMEDIA_TYPE_VIDEO); }
  AVCodecContext* Audio() const { return Codec(AVMEDIA_TYPE_AUDIO); }
  AVCodecContext* Data() const { return Codec(AVMEDIA_TYPE_DATA); }
  AVCodecContext* Subtitle() const { return Codec(AVMEDIA_TYPE_SUBTITLE); }
  AVCodecContext* Attachment() const { return Codec(AVMEDIA_TYPE_ATTACHMENT); }
  AVFormatContext* Format() const { return format_.context.get(); }
  SwsContext* Scaler() const { return scaler_.context.get(); }

  // The option names set so far, in the order they were first set; an option reached through a kind prefix
  // ("ab" set as "b" in the audio context) appears under the option's own name.
  const std::vector<std::string>& Names() const { return names_; }

 private:
  template <class Ptr>
  struct Slot {
    Ptr context;
    std::vector<std::string> names_set;  // the options set on this context, for copying them elsewhere
  };

  const std::vector<std::string>* NamesSetOn(const void* context) const;

  std::array<Slot<CodecContextPtr>, kKindCount> codecs_;
  Slot<FormatContextPtr> format_;
  Slot<ScalerPtr> scaler_;
  std::vector<std::string> names_;
};

}  // namespace runtime
