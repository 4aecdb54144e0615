#include "runtime/generic_options.h"

#include <algorithm>
#include <optional>

#include "runtime/logger.h"
#include "runtime/trim_blanks.h"

namespace runtime {
namespace {

// The option flags an option must carry to be looked up in each kind's codec context: only options meant
// for video parameters in the video context, and so on; data and attachment contexts take any option.
constexpr int kKindFlags[GenericOptions::kKindCount] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                                        AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// Private options of an encoder or muxer live in a child object (priv_data).
constexpr int kSearchChildren = AV_OPT_SEARCH_CHILDREN;

enum class SetOutcome { kNotFound, kSet, kRefused };

struct FoundOption {
  const AVOption* option = nullptr;
  void* owner = nullptr;  // the object the option is stored in: the context itself or its private data
};

FoundOption FindOption(const void* object, const char* name, int required_flags) {
  FoundOption found;
  if (object == nullptr || *name == '\0') return found;
  found.option = avutil().av_opt_find2(const_cast<void*>(object), name, nullptr, required_flags,
                                       kSearchChildren, &found.owner);
  if (found.owner == nullptr) found.option = nullptr;
  return found;
}

SetOutcome SetOption(void* object, const char* name, const std::string& value, int required_flags,
                     std::string& found_name) {
  const FoundOption found = FindOption(object, name, required_flags);
  if (found.option == nullptr) return SetOutcome::kNotFound;
  found_name = found.option->name;
  return avutil().av_opt_set(found.owner, found.option->name, value.c_str(), 0) < 0 ? SetOutcome::kRefused
                                                                                    : SetOutcome::kSet;
}

// The option's value as text, as the library writes it for setting it again.
std::optional<std::string> OptionText(const FoundOption& found) {
  std::uint8_t* raw = nullptr;
  if (avutil().av_opt_get(found.owner, found.option->name, 0, &raw) < 0) return std::nullopt;
  const LibraryMemoryPtr<std::uint8_t> text(raw);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text.get()));
}

void Remember(std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

bool ValidKind(AVMediaType kind) {
  return kind >= AVMEDIA_TYPE_VIDEO && kind < GenericOptions::kKindCount;
}

CodecContextPtr NewCodecContext(AVMediaType kind, const AVCodec* encoder) {
  CodecContextPtr context(avcodec().avcodec_alloc_context3(encoder));
  if (context == nullptr || encoder != nullptr) return context;
  // Without a codec the context gets every option's default whatever its kind; applying the kind's own
  // defaults again gives options shared by several kinds (the bit rate) the value meant for this kind.
  context->codec_type = kind;
  const int kind_flags = kKindFlags[kind];
  if (kind_flags != 0) avutil().av_opt_set_defaults2(context.get(), kind_flags, kind_flags);
  return context;
}

}  // namespace

bool GenericOptions::Allocate(int scaler_flags) {
  Release();
  for (int index = 0; index < kKindCount; ++index) {
    codecs_[index].context = NewCodecContext(static_cast<AVMediaType>(index), nullptr);
    if (codecs_[index].context == nullptr) {
      Release();
      return false;
    }
  }
  format_.context.reset(avformat().avformat_alloc_context());
  scaler_.context.reset(swscale().sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                                 scaler_flags, nullptr, nullptr, nullptr));
  if (format_.context == nullptr || scaler_.context == nullptr) {
    Release();
    return false;
  }
  return true;
}

void GenericOptions::Release() {
  for (auto& slot : codecs_) {
    slot.context.reset();
    slot.names_set.clear();
  }
  format_.context.reset();
  format_.names_set.clear();
  scaler_.context.reset();
  scaler_.names_set.clear();
  names_.clear();
}

bool GenericOptions::Set(const std::string& name, const std::string& value) {
  if (TrimBlanks(name).empty() || TrimBlanks(value).empty()) return false;
  if (!Allocated()) return false;

  bool found = false;
  bool refused = false;
  std::string found_name;
  auto attempt = [&](auto& slot, const char* option_name, int required_flags) {
    const SetOutcome outcome = SetOption(slot.context.get(), option_name, value, required_flags, found_name);
    if (outcome == SetOutcome::kNotFound) return;
    found = true;
    if (outcome == SetOutcome::kRefused) {
      refused = true;
    } else {
      Remember(slot.names_set, found_name);
    }
  };

  // Every kind that has the option gets it, so that one "b" reaches the video and the audio encoder alike.
  for (int index = 0; index < kKindCount && !refused; ++index)
    attempt(codecs_[index], name.c_str(), kKindFlags[index]);
  if (!found) attempt(format_, name.c_str(), 0);
  if (!found) attempt(scaler_, name.c_str(), 0);
  if (!found && name.size() > 1) {
    const char* rest = name.c_str() + 1;
    switch (name.front()) {
      case 'a':
        attempt(codecs_[AVMEDIA_TYPE_AUDIO], rest, 0);
        break;
      case 'v':
        attempt(codecs_[AVMEDIA_TYPE_VIDEO], rest, 0);
        break;
      case 's':
        attempt(codecs_[AVMEDIA_TYPE_SUBTITLE], rest, 0);
        break;
      default:
        break;
    }
  }

  if (refused) {
    avutil().av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", value.c_str(),
                    name.c_str());
    return false;
  }
  if (!found) return false;
  Remember(names_, found_name);
  if (Video()->debug != 0 || Format()->debug != 0) Logger().SetLogLevel(llDebug);
  return true;
}

void GenericOptions::ApplyTo(void* destination, const void* source, int required_flags) const {
  if (destination == nullptr || source == nullptr) return;
  const std::vector<std::string>* own_names = NamesSetOn(source);
  for (const std::string& name : own_names != nullptr ? *own_names : names_) {
    const FoundOption found = FindOption(source, name.c_str(), 0);
    if (found.option == nullptr || (found.option->flags & required_flags) != required_flags) continue;
    if (const std::optional<std::string> text = OptionText(found)) {
      // A destination without the option (another encoder's private one) simply keeps its own settings.
      avutil().av_opt_set(destination, name.c_str(), text->c_str(), kSearchChildren);
    }
  }
}

bool GenericOptions::SetEncoder(AVMediaType kind, const AVCodec* encoder) {
  if (!Allocated() || !ValidKind(kind)) return false;
  if (encoder != nullptr && encoder->type != kind) return false;
  Slot<CodecContextPtr>& slot = codecs_[kind];
  CodecContextPtr replacement = NewCodecContext(kind, encoder);
  if (replacement == nullptr) return false;

  std::vector<std::string> carried;
  for (const std::string& name : slot.names_set) {
    const FoundOption found = FindOption(slot.context.get(), name.c_str(), 0);
    if (found.option == nullptr) continue;
    const std::optional<std::string> text = OptionText(found);
    if (text && avutil().av_opt_set(replacement.get(), name.c_str(), text->c_str(), kSearchChildren) >= 0) {
      carried.push_back(name);
    }
  }
  slot.context = std::move(replacement);
  slot.names_set = std::move(carried);
  return true;
}

AVCodecContext* GenericOptions::Codec(AVMediaType kind) const {
  return ValidKind(kind) ? codecs_[kind].context.get() : nullptr;
}

const std::vector<std::string>* GenericOptions::NamesSetOn(const void* context) const {
  for (const auto& slot : codecs_) {
    if (slot.context.get() == context) return &slot.names_set;
  }
  if (format_.context.get() == context) return &format_.names_set;
  if (scaler_.context.get() == context) return &scaler_.names_set;
  return nullptr;
}

}  // namespace runtime
