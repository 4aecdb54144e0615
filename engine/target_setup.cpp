// Disc targets: a bundle of options chosen by disc type and television norm.
#include <cmath>
#include <string_view>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/logger.h"
#include "runtime/stream_kind.h"

namespace engine {
namespace {

enum class Norm { Pal, Ntsc, Film };

// A frame rate in thousandths of a frame per second, rounded (ties to even); 0 when unknown.
long RateMilli(AVRational rate) {
  if (rate.num <= 0 || rate.den <= 0) return 0;
  return std::lrint(static_cast<double>(rate.num) * 1000.0 / rate.den);
}

std::optional<Norm> NormOfRate(long rate_milli) {
  if (rate_milli == 25000) return Norm::Pal;
  if (rate_milli == 29970 || rate_milli == 23976) return Norm::Ntsc;
  return std::nullopt;
}

bool IsKnownTarget(std::string_view type) {
  return type == "vcd" || type == "svcd" || type == "dvd" || type == "dv" || type == "dv50";
}

}  // namespace

void TCustomFFmpeg::ParseTarget(const std::string& value) {
  const auto first = value.find_first_not_of(" \t\r\n");
  const std::string trimmed = first == std::string::npos
                                  ? std::string()
                                  : value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
  for (const char* norm : {"pal", "ntsc", "film"}) {
    const std::string prefix = std::string(norm) + "-";
    if (trimmed.rfind(prefix, 0) == 0) {
      SetTarget(trimmed.substr(prefix.size()), norm, "ntsc");
      return;
    }
  }
  SetTarget(trimmed, "auto", "ntsc");
}

std::string TCustomFFmpeg::DetectNorm(const std::string& norm, const std::string& fallback_norm) {
  if (norm == "pal" || norm == "ntsc" || norm == "film") return norm;
  if (pending_.FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");

  std::optional<Norm> detected = NormOfRate(RateMilli(pending_.FrameRate));
  for (const InputFile& input : input_files_) {
    if (detected || input.Format == nullptr) continue;
    for (unsigned index = 0; index < input.Format->nb_streams && !detected; ++index) {
      const AVStream* stream = input.Format->streams[index];
      // A cover picture's rate (90000/1) and a stream without a known rate tell nothing about the norm.
      if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || runtime::IsAttachedPicture(*stream)) continue;
      const AVRational rate = stream->r_frame_rate.den != 0 ? stream->r_frame_rate : stream->avg_frame_rate;
      detected = NormOfRate(RateMilli(rate));
    }
  }
  if (!detected) {
    detected = fallback_norm == "film" ? Norm::Film : fallback_norm == "ntsc" ? Norm::Ntsc : Norm::Pal;
  }
  if (pending_.Verbosity > 0) {
    runtime::Log(this, runtime::llVerbose,
                 std::string("Assuming ") + (*detected == Norm::Pal ? "PAL" : "NTSC") + " for target.");
  }
  return *detected == Norm::Pal ? "pal" : *detected == Norm::Ntsc ? "ntsc" : "film";
}

void TCustomFFmpeg::SetTarget(const std::string& type, const std::string& norm_text,
                              const std::string& fallback_norm) {
  if (!IsKnownTarget(type)) throw FFmpegException("Unknown target type");
  const std::string norm = DetectNorm(norm_text, fallback_norm);
  const bool pal = norm == "pal";
  const char* frame_rate = pal ? "25" : norm == "ntsc" ? "30000/1001" : "24000/1001";

  if (type == "dv" || type == "dv50") {
    SetOption("f", "dv");
    SetOption("s", pal ? "720x576" : "720x480");
    SetOption("pix_fmt", type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
    SetOption("r", frame_rate);
    pending_.AudioSampleRate = 48000;
    pending_.AudioChannels = 2;
    return;
  }

  const bool vcd = type == "vcd";
  const bool svcd = type == "svcd";
  SetOption("vcodec", vcd ? "mpeg1video" : "mpeg2video");
  SetOption("acodec", type == "dvd" ? "ac3" : "mp2");
  SetOption("f", type);
  SetOption("s", vcd    ? (pal ? "352x288" : "352x240")
                 : svcd ? (pal ? "480x576" : "480x480")
                        : (pal ? "720x576" : "720x480"));
  SetOption("r", frame_rate);
  // The codec and muxer settings go to the generic option contexts; a name they lack is no error.
  SetGeneric("g", pal ? "15" : "18");
  SetGeneric("b", vcd ? "1150000" : svcd ? "2040000" : "6000000");
  SetGeneric("maxrate", vcd ? "1150000" : svcd ? "2516000" : "9000000");
  SetGeneric("minrate", vcd ? "1150000" : "0");
  SetGeneric("bufsize", vcd ? "327680" : "1835008");
  // The scan offset for VCD players is a private option of the MPEG-2 encoder in this library generation.
  if (svcd) SetGeneric("scan_offset", "1");
  SetGeneric("ab", type == "dvd" ? "448000" : "224000");
  pending_.AudioSampleRate = type == "dvd" ? 48000 : 44100;
  if (vcd || pending_.AudioChannels == 1) pending_.AudioChannels = 2;
  SetGeneric("packetsize", type == "dvd" ? "2048" : "2324");
  if (vcd) SetGeneric("muxrate", "1411200");
  if (type == "dvd") SetGeneric("muxrate", "10080000");
  if (vcd) pending_.MuxPreload = 0.44F;
  if (pending_.FrameAspectRatio == 0) {
    const bool wide = type == "dvd";
    runtime::Log(this, runtime::llInfo,
                 std::string("Assuming ") + (wide ? "16:9" : "4:3") + " for aspect ratio");
    SetOption("aspect", wide ? "16:9" : "4:3");
  }
}

}  // namespace engine
