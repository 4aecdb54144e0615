#include "engine/subtitle_choice.h"

#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/text_format.h"

namespace engine {
namespace {

int PropertiesOf(AVCodecID id) {
  const AVCodecDescriptor* descriptor = runtime::avcodec().avcodec_descriptor_get(id);
  return descriptor != nullptr ? descriptor->props : 0;
}

bool IsTextSubtitle(AVCodecID id) {
  return (PropertiesOf(id) & AV_CODEC_PROP_TEXT_SUB) != 0;
}

// 1: the container takes the codec, 0: it does not, negative: it lists no codecs, so nobody can tell.
int Answer(const AVOutputFormat& format, AVCodecID id) {
  return runtime::avformat().avformat_query_codec(&format, id, FF_COMPLIANCE_NORMAL);
}

// Only a definite yes counts.
bool Takes(const AVOutputFormat& format, AVCodecID id) {
  return Answer(format, id) == 1;
}

// The text subtitle encoder of the container: the one its format names, else the first the library has
// whose codec the container takes.
const AVCodec* ContainerTextEncoder(const AVOutputFormat& format) {
  if (IsTextSubtitle(format.subtitle_codec)) {
    if (const AVCodec* named = runtime::avcodec().avcodec_find_encoder(format.subtitle_codec)) return named;
  }
  void* position = nullptr;
  while (const AVCodec* codec = runtime::avcodec().av_codec_iterate(&position)) {
    if (codec->type == AVMEDIA_TYPE_SUBTITLE && runtime::avcodec().av_codec_is_encoder(codec) != 0 &&
        IsTextSubtitle(codec->id) && Takes(format, codec->id)) {
      return codec;
    }
  }
  return nullptr;
}

}  // namespace

SubtitleChoice ChooseSubtitleWay(const AVOutputFormat& format, AVCodecID source) {
  SubtitleChoice choice;
  const char* codec_name = runtime::avcodec().avcodec_get_name(source);
  if (source != AV_CODEC_ID_NONE && Takes(format, source)) {
    choice.Way = SubtitleWay::kCopy;
    return choice;
  }
  if (!IsTextSubtitle(source)) {
    // Picture subtitles are carried only as they are; drawing them again in another picture codec is left
    // to an explicit "scodec".
    const char* carry = Answer(format, source) < 0 ? "does not say it carries" : "does not carry";
    choice.Reason = runtime::TextFormat("the %s format %s %s subtitles", format.name, carry, codec_name);
    if ((PropertiesOf(source) & AV_CODEC_PROP_BITMAP_SUB) != 0) {
      choice.Reason += ", and picture subtitles are not converted";
    }
    return choice;
  }
  if (runtime::avcodec().avcodec_find_decoder(source) == nullptr) {
    choice.Reason = runtime::TextFormat("no decoder reads %s subtitles", codec_name);
    return choice;
  }
  choice.Encoder = ContainerTextEncoder(format);
  if (choice.Encoder == nullptr) {
    choice.Reason = runtime::TextFormat("the %s format carries no text subtitles", format.name);
    return choice;
  }
  choice.Way = SubtitleWay::kConvert;
  return choice;
}

std::optional<AutomaticSubtitle> TCustomFFmpeg::ChooseAutomaticSubtitle(const AVOutputFormat& format,
                                                                        std::size_t examined_files,
                                                                        const std::string& output_name) {
  const std::vector<TStreamMap>& maps = pending_.StreamMaps;
  for (std::size_t file = 0; file < examined_files; ++file) {
    const AVFormatContext* input = input_files_[file].Format.get();
    for (unsigned index = 0; index < input->nb_streams; ++index) {
      const AVStream* stream = input->streams[index];
      if (stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE || stream->discard == AVDISCARD_ALL) continue;
      // With stream maps the output is fed from the mapped streams only.
      if (!maps.empty() && !MapsInputStream(maps, static_cast<int>(file), static_cast<int>(index))) continue;
      AutomaticSubtitle found{static_cast<int>(file), static_cast<int>(index),
                              ChooseSubtitleWay(format, stream->codecpar->codec_id)};
      if (found.Choice.Way != SubtitleWay::kLeftOut) return found;
      runtime::Log(this, runtime::llWarning,
                   runtime::TextFormat("Subtitle stream #%d.%d (%s) is left out of '%s': %s", found.FileIndex,
                                       found.StreamIndex,
                                       runtime::avcodec().avcodec_get_name(stream->codecpar->codec_id),
                                       output_name.c_str(), found.Choice.Reason.c_str()));
    }
  }
  return std::nullopt;
}

}  // namespace engine
