// Handlers of the options whose values need more than a plain conversion.
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "engine/ffmpeg_exception.h"
#include "engine/frame_hook_modules.h"
#include "engine/number_syntax.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/program_folder.h"

namespace engine {
namespace {

// Reads an integer the way strtol does (blanks, sign, base 0: "0x" hexadecimal, leading "0" octal) from the
// position on; the position moves past what was read. No digits: 0 and the position stays.
long ReadLong(const std::string& text, std::size_t& position) {
  if (position >= text.size()) return 0;
  const char* start = text.c_str() + position;
  char* end = nullptr;
  const long value = std::strtol(start, &end, 0);
  position += static_cast<std::size_t>(end - start);
  return value;
}

// Reads a decimal number with "." as the decimal point from the position on (leading blanks allowed).
double ReadDouble(const std::string& text, std::size_t position) {
  while (position < text.size() && std::isspace(static_cast<unsigned char>(text[position])))
    ++position;
  std::string_view rest(text);
  rest.remove_prefix(std::min(position, text.size()));
  if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
  double value = 0;
  std::from_chars(rest.data(), rest.data() + rest.size(), value);
  return value;
}

// An integer, or 0 when the text is not one.
int IntegerOrZero(const std::string& text) {
  try {
    return ParseInteger(text);
  } catch (const ConversionError&) {
    return 0;
  }
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

void TCustomFFmpeg::SetGeneric(const std::string& name, const std::string& value) {
  // "b" is the video bit rate; in this library generation the name also exists for audio, which "ab" sets.
  if (generic_options_.Set(name == "b" ? "vb" : name, value)) return;
  // The muxing rate belongs to the MPEG muxers in this library generation: it waits for the output's muxer.
  if (name == "muxrate") pending_.MuxerOptions[name] = value;
}

void TCustomFFmpeg::SetFormatName(const std::string& value) {
  if (value.empty()) return;
  std::string format = value;
  if (format == "pgmyuv") {
    pending_.PgmYuvCompat = true;
    format = "image2";
    runtime::Log(this, runtime::llInfo, "pgmyuv format is deprecated, use image2");
  }
  pending_.FileFormat = format;
}

void TCustomFFmpeg::SetFrameRate(const std::string& value) {
  if (value.empty()) return;
  AVRational rate{0, 0};
  if (runtime::avutil().av_parse_video_rate(&rate, value.c_str()) < 0) {
    throw FFmpegException("Incorrect frame rate");
  }
  pending_.FrameRate = rate;
}

void TCustomFFmpeg::SetFrameSize(const std::string& value) {
  if (value.empty()) return;
  int width = 0;
  int height = 0;
  if (runtime::avutil().av_parse_video_size(&width, &height, value.c_str()) < 0) {
    throw FFmpegException("Incorrect frame size");
  }
  pending_.FrameWidth = width;
  pending_.FrameHeight = height;
}

void TCustomFFmpeg::SetAspectRatio(const std::string& value) {
  if (value.empty()) return;
  double ratio = 0;
  if (const auto colon = value.find(':'); colon != std::string::npos) {
    const int x = IntegerOrZero(value.substr(0, colon));
    const int y = IntegerOrZero(value.substr(colon + 1));
    ratio = y <= 0 ? 0.0 : static_cast<double>(x) / y;
  } else {
    try {
      ratio = ParseDecimal(value);
    } catch (const ConversionError&) {
      ratio = 0;
    }
  }
  if (ratio == 0 || !std::isfinite(ratio)) throw FFmpegException("Incorrect aspect ratio specification.");
  pending_.FrameAspectRatio = static_cast<float>(ratio);
}

void TCustomFFmpeg::SetPixelFormat(const std::string& value) {
  if (value == "list") {
    char line[128];
    runtime::Log(this, runtime::llInfo,
                 Trimmed(runtime::avutil().av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE)));
    for (int format = 0; runtime::avutil().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format)) != nullptr;
         ++format) {
      runtime::avutil().av_get_pix_fmt_string(line, sizeof line, static_cast<AVPixelFormat>(format));
      runtime::Log(this, runtime::llInfo, Trimmed(line));
    }
    return;
  }
  const AVPixelFormat format = runtime::avutil().av_get_pix_fmt(value.c_str());
  if (format == AV_PIX_FMT_NONE) throw FFmpegException("Unknown pixel format requested: " + value);
  pending_.FramePixFmt = format;
}

void TCustomFFmpeg::SetSampleFormat(const std::string& value) {
  if (value == "list") {
    char line[128];
    for (int format = -1; format < AV_SAMPLE_FMT_NB; ++format) {
      runtime::avutil().av_get_sample_fmt_string(line, sizeof line, static_cast<AVSampleFormat>(format));
      runtime::Log(this, runtime::llInfo, Trimmed(line));
    }
    return;
  }
  pending_.AudioSampleFmt = runtime::avutil().av_get_sample_fmt(value.c_str());
}

void TCustomFFmpeg::SetCrop(const std::string& name, const std::string& value) {
  const int amount = ParseInteger(value);
  if (amount < 0) return;
  const bool vertical = name == "croptop" || name == "cropbottom";
  int& size = vertical ? pending_.FrameHeight : pending_.FrameWidth;
  // Cropping nothing needs no picture to crop from (an input without video may get a crop of 0).
  if (amount > 0 && amount >= size) {
    throw FFmpegException(std::string(vertical ? "Vertical" : "Horizontal") +
                          " crop dimensions are outside the range of the original image.\n"
                          "Remember to crop first and scale second.");
  }
  int& stored = name == "croptop"      ? pending_.CropTop
                : name == "cropbottom" ? pending_.CropBottom
                : name == "cropleft"   ? pending_.CropLeft
                                       : pending_.CropRight;
  stored = amount;
  size -= amount;
}

void TCustomFFmpeg::SetPad(const std::string& name, const std::string& value) {
  const int amount = ParseInteger(value);
  if (amount < 0) return;
  int& stored = name == "padtop"      ? pending_.PadTop
                : name == "padbottom" ? pending_.PadBottom
                : name == "padleft"   ? pending_.PadLeft
                                      : pending_.PadRight;
  stored = amount;
}

void TCustomFFmpeg::SetPadColor(const std::string& value) {
  const auto rgb = static_cast<std::uint32_t>(ParseInteger(value));
  const int r = static_cast<int>(rgb & 0xFF);
  const int g = static_cast<int>((rgb >> 8) & 0xFF);
  const int b = static_cast<int>((rgb >> 16) & 0xFF);
  // Fixed-point BT.601 with 10 fractional bits; ">>" on a negative sum rounds down.
  pending_.PadColor.Y = (307 * r + 602 * g + 117 * b + 512) >> 10;
  pending_.PadColor.U = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;
  pending_.PadColor.V = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void TCustomFFmpeg::SetQScale(const std::string& value) {
  const double scale = ParseDecimal(value);
  if (scale <= 0 || scale > 255) throw FFmpegException("qscale must be > 0.0 and <= 255");
  pending_.VideoQScale = static_cast<float>(scale);
}

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
  if (!generic_options_.Set(name == "b" ? "vb" : name, value)) return;
  AVCodecContext* context = name == "ab" ? generic_options_.Audio() : generic_options_.Video();
  std::int64_t bit_rate = 0;
  if (runtime::avutil().av_opt_get_int(context, "b", 0, &bit_rate) >= 0 && bit_rate < 1000) {
    runtime::Log(this, runtime::llWarning,
                 "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
  }
}

void TCustomFFmpeg::SetCodecName(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  const AVMediaType kind = name == "vcodec"   ? AVMEDIA_TYPE_VIDEO
                           : name == "acodec" ? AVMEDIA_TYPE_AUDIO
                                              : AVMEDIA_TYPE_SUBTITLE;
  std::optional<std::string>& codec_name = kind == AVMEDIA_TYPE_VIDEO   ? pending_.VideoCodecName
                                           : kind == AVMEDIA_TYPE_AUDIO ? pending_.AudioCodecName
                                                                        : pending_.SubtitleCodecName;
  codec_name.reset();
  if (value == "copy") {
    (kind == AVMEDIA_TYPE_VIDEO   ? pending_.VideoStreamCopy
     : kind == AVMEDIA_TYPE_AUDIO ? pending_.AudioStreamCopy
                                  : pending_.SubtitleStreamCopy) = true;
    return;
  }
  codec_name = value;
  // Options of the encoder itself ("crf", "preset") become known once the encoder is named.
  if (const AVCodec* encoder = runtime::avcodec().avcodec_find_encoder_by_name(value.c_str());
      encoder != nullptr && encoder->type == kind) {
    generic_options_.SetEncoder(kind, encoder);
  }
}

void TCustomFFmpeg::SetCodecTag(const std::string& name, const std::string& value) {
  if (value.empty()) return;
  const char* kind = name == "vtag" ? "video" : name == "atag" ? "audio" : "subtitle";
  if (value.size() != 4) throw FFmpegException(std::string(kind) + " tag parameter must be 4 chars");
  const std::uint32_t tag = static_cast<std::uint8_t>(value[0]) | static_cast<std::uint8_t>(value[1]) << 8 |
                            static_cast<std::uint8_t>(value[2]) << 16 |
                            static_cast<std::uint32_t>(static_cast<std::uint8_t>(value[3])) << 24;
  (name == "vtag"   ? pending_.VideoCodecTag
   : name == "atag" ? pending_.AudioCodecTag
                    : pending_.SubtitleCodecTag) = tag;
}

void TCustomFFmpeg::SetMatrix(const std::string& name, const std::string& value) {
  std::optional<TQuantizerMatrix>& matrix =
      name == "intra_matrix" ? pending_.IntraMatrix : pending_.InterMatrix;
  matrix = TQuantizerMatrix{};
  std::size_t position = 0;
  for (int coefficient = 0; coefficient < 64; ++coefficient) {
    (*matrix)[static_cast<std::size_t>(coefficient)] = static_cast<std::uint16_t>(ReadLong(value, position));
    if (coefficient == 63) break;
    const std::size_t comma = value.find(',', position);
    if (comma == std::string::npos) {
      throw FFmpegException("Syntax error in matrix \"" + value + "\" at coeff " +
                            std::to_string(coefficient));
    }
    position = comma + 1;
  }
}

void TCustomFFmpeg::AddStreamMap(const std::string& value) {
  if (pending_.StreamMaps.size() >= static_cast<std::size_t>(kMaxStreamMaps)) {
    throw FFmpegException("Too many stream maps: at most " + std::to_string(kMaxStreamMaps) + " are allowed");
  }
  std::size_t position = 0;
  TStreamMap map;
  map.FileIndex = static_cast<int>(ReadLong(value, position));
  if (position < value.size()) ++position;
  map.StreamIndex = static_cast<int>(ReadLong(value, position));
  if (position < value.size()) {
    ++position;
    map.SyncFileIndex = static_cast<int>(ReadLong(value, position));
    if (position < value.size()) ++position;
    map.SyncStreamIndex = static_cast<int>(ReadLong(value, position));
  } else {
    map.SyncFileIndex = map.FileIndex;
    map.SyncStreamIndex = map.StreamIndex;
  }
  pending_.StreamMaps.push_back(map);
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& value) {
  if (pending_.MetaDataMaps.size() >= static_cast<std::size_t>(kMaxMetaDataMaps)) {
    throw FFmpegException("Too many metadata maps: at most " + std::to_string(kMaxMetaDataMaps) +
                          " are allowed");
  }
  std::size_t position = 0;
  TMetaDataMap map;
  map.OutFile = static_cast<int>(ReadLong(value, position));
  if (position < value.size()) ++position;
  map.InFile = static_cast<int>(ReadLong(value, position));
  pending_.MetaDataMaps.push_back(map);
}

void TCustomFFmpeg::AddMetadata(const std::string& value) {
  const std::size_t equals = value.find('=');
  if (equals == std::string::npos) throw FFmpegException("Missing =");
  pending_.Metadata.emplace_back(value.substr(0, equals), value.substr(equals + 1));
}

void TCustomFFmpeg::SetTime(const std::string& name, const std::string& value) {
  const bool is_date = name == "timestamp";
  std::int64_t microseconds = 0;
  if (runtime::avutil().av_parse_time(&microseconds, value.c_str(), is_date ? 0 : 1) < 0) {
    throw FFmpegException("Invalid " + std::string(is_date ? "date" : "duration") + " specification for " +
                          name + ": " + value);
  }
  if (name == "t") {
    pending_.RecordingTime = microseconds;
    pending_.RecordingTimeSeconds = static_cast<double>(microseconds) / 1000000.0;
    total_duration_ = microseconds;
  } else if (name == "ss") {
    pending_.StartTime = microseconds;
  } else if (name == "itsoffset") {
    pending_.InputTsOffset = microseconds;
  } else {
    pending_.RecTimestamp =
        static_cast<std::int64_t>(std::nearbyint(static_cast<double>(microseconds) / 1e6));
  }
}

void TCustomFFmpeg::SetInputTsScale(const std::string& value) {
  std::size_t position = 0;
  const long stream = ReadLong(value, position);
  if (position < value.size()) ++position;
  const double scale = ReadDouble(value, position);
  if (stream < 0 || stream >= kMaxScaledStreams) {
    throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(kMaxScaledStreams) + ")");
  }
  pending_.InputTsScale[{static_cast<int>(input_files_.size()), static_cast<int>(stream)}] = scale;
}

void TCustomFFmpeg::SetPass(const std::string& value) {
  const int pass = ParseInteger(value);
  if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
  pending_.PassNumber = pass;
}

void TCustomFFmpeg::SetVstats(const std::string& name, const std::string& value) {
  if (name == "vstats_file") {
    pending_.VstatsFileName = value;
    return;
  }
  // Beside the program where it may write there, else in the temporary folder.
  std::filesystem::path folder = runtime::ProgramFolder();
  if (::access(folder.c_str(), W_OK) != 0) folder = std::filesystem::temp_directory_path();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char file_name[32];
  std::strftime(file_name, sizeof file_name, "vstats_%H%M%S.log", &local);
  pending_.VstatsFileName = (folder / file_name).string();
}

void TCustomFFmpeg::AddBitstreamFilter(const std::string& name, const std::string& value) {
  if (value.empty() || value.front() == '=') return;
  const std::string filter = value.substr(0, value.find('='));
  if (runtime::avcodec().av_bsf_get_by_name(filter.c_str()) == nullptr) {
    throw FFmpegException("Unknown bitstream filter " + Trimmed(value));
  }
  (name.front() == 'v'   ? pending_.VideoBitstreamFilters
   : name.front() == 'a' ? pending_.AudioBitstreamFilters
                         : pending_.SubtitleBitstreamFilters)
      .push_back(filter);
}

void TCustomFFmpeg::AddFrameHook(const std::string& value) {
  if (frame_hooks_.Add(SplitHookArguments(value)) != 0) {
    throw FFmpegException("Failed to add video hook function: " + value);
  }
  pending_.HookModulesLoaded = true;
}

}  // namespace engine
