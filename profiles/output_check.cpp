#include "profiles/output_check.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "engine/codec_lookup.h"
#include "runtime/file_io.h"
#include "runtime/library_loader.h"

namespace profiles {
namespace {

// Lengths may differ by this much before an output counts as too short: more than a second and more than
// this share of the converted length (a container's last frame and the encoders' delays make up a little).
constexpr std::int64_t kLengthSlack = 1000000;
constexpr double kLengthShareSlack = 0.05;

// Writers whose files are read by a reader of another name.
constexpr std::pair<std::string_view, std::string_view> kReaderOfWriter[] = {
    {"adts", "aac"}, {"mp2", "mp3"},       {"mpeg", "mpeg"},     {"vob", "mpeg"},
    {"dvd", "mpeg"}, {"svcd", "mpeg"},     {"vcd", "mpeg"},      {"ipod", "mov"},
    {"psp", "mov"},  {"webm", "matroska"}, {"asf_stream", "asf"}};

std::string ReaderFor(const std::string& output_path) {
  const std::string library_name = runtime::LibraryFileName(output_path);
  const AVOutputFormat* writer = runtime::avformat().av_guess_format(nullptr, library_name.c_str(), nullptr);
  if (writer == nullptr || writer->name == nullptr) return {};
  std::string_view reader_name = writer->name;
  for (const auto& [writer_name, reader] : kReaderOfWriter) {
    if (writer_name == reader_name) reader_name = reader;
  }
  const AVInputFormat* reader = runtime::avformat().av_find_input_format(std::string(reader_name).c_str());
  return reader != nullptr && reader->name != nullptr ? reader->name : std::string();
}

std::string CodecNameOf(const std::string& encoder, AVMediaType kind) {
  if (encoder.empty() || encoder == "copy") return {};
  const AVCodecID codec = engine::EncodedCodec(encoder, kind);
  const AVCodecDescriptor* descriptor = runtime::avcodec().avcodec_descriptor_get(codec);
  return descriptor != nullptr ? descriptor->name : std::string();
}

std::string Seconds(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(microseconds) / 1e6);
  return text;
}

// The first stream of the kind in the open output (a cover picture is no picture stream), or false.
bool FirstStream(probe::TCustomAVProbe& probe, bool picture, probe::TStreamSummary& summary) {
  const int index = picture ? probe.FirstNonCoverVideoStream() : probe.FirstAudioStream();
  return index >= 0 && probe.GetStreamSummary(index, summary);
}

}  // namespace

OutputExpectation ExpectedOutput(const std::string& output_path, const engine::TOutputOptions& options,
                                 const SourceContents& source) {
  OutputExpectation expected;
  expected.Path = output_path;
  expected.Container = ReaderFor(output_path);
  if (!source.Read) return expected;
  expected.WantsPicture = source.HasPicture && !options.DisableVideo;
  expected.WantsSound = source.HasSound && !options.DisableAudio;
  if (expected.WantsPicture) expected.PictureCodec = CodecNameOf(options.VideoCodec, AVMEDIA_TYPE_VIDEO);
  if (expected.WantsSound) expected.SoundCodec = CodecNameOf(options.AudioCodec, AVMEDIA_TYPE_AUDIO);
  // The longest of the streams converted; a stream of unknown length leaves the container's length.
  const bool picture_known = !expected.WantsPicture || source.PictureLength >= 0;
  const bool sound_known = !expected.WantsSound || source.SoundLength >= 0;
  if (picture_known && sound_known && (expected.WantsPicture || expected.WantsSound)) {
    expected.Length = std::max(expected.WantsPicture ? source.PictureLength : -1,
                               expected.WantsSound ? source.SoundLength : -1);
  } else {
    expected.Length = source.Length;
  }
  return expected;
}

std::string CheckOutput(probe::TCustomAVProbe& probe, const OutputExpectation& expected) {
  const probe::ProbeCloser close_after_reading(probe);
  if (!probe.Open(expected.Path)) return "the output cannot be read back: " + probe.LastError();
  if (!expected.Container.empty() && probe.ContainerFormatName() != expected.Container) {
    return "the output is a '" + probe.ContainerFormatName() + "' file, not '" + expected.Container + "'";
  }
  struct Kind {
    bool Wanted;
    bool Picture;
    const std::string& Codec;
    const char* Name;
  };
  for (const Kind& kind : {Kind{expected.WantsPicture, true, expected.PictureCodec, "video"},
                           Kind{expected.WantsSound, false, expected.SoundCodec, "audio"}}) {
    if (!kind.Wanted) continue;
    probe::TStreamSummary stream;
    if (!FirstStream(probe, kind.Picture, stream)) return std::string("the output has no ") + kind.Name;
    if (!kind.Codec.empty() && stream.CodecId != kind.Codec) {
      return std::string("the output's ") + kind.Name + " is '" + stream.CodecId + "', not '" + kind.Codec +
             "'";
    }
  }
  if (expected.Length > 0) {
    // A length that cannot be measured in time is not held against the output.
    const std::optional<std::int64_t> length = probe.MeasureDuration(kLengthReadingBudget);
    const std::int64_t missing = length ? expected.Length - *length : 0;
    if (missing > kLengthSlack &&
        static_cast<double>(missing) > kLengthShareSlack * static_cast<double>(expected.Length)) {
      return "the output lasts " + Seconds(*length) + " of the source's " + Seconds(expected.Length);
    }
  }
  return {};
}

}  // namespace profiles
