// The option vocabulary of a task: every name either stores its value in the pending values, runs a handler,
// or goes to the generic option contexts of the libraries.
#include <functional>
#include <string_view>
#include <unordered_map>

#include "engine/ffmpeg_exception.h"
#include "engine/number_syntax.h"
#include "engine/task.h"
#include "runtime/logger.h"

namespace engine {
namespace {

using Handler = std::function<void(TCustomFFmpeg& task, TPendingValues& pending, const std::string& name,
                                   const std::string& value)>;

// A Boolean value is true unless it is "0": a line with the name alone switches the option on.
bool BooleanValue(const std::string& value) {
  return value != "0";
}

Handler StoreBoolean(bool TPendingValues::*field) {
  return [field](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
    p.*field = BooleanValue(value);
  };
}

Handler StoreTrue(bool TPendingValues::*field) {
  return
      [field](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string&) { p.*field = true; };
}

Handler StoreInteger(int TPendingValues::*field) {
  return [field](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
    p.*field = ParseInteger(value);
  };
}

Handler StoreFloat(float TPendingValues::*field) {
  return [field](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
    p.*field = static_cast<float>(ParseDecimal(value));
  };
}

Handler StoreText(std::string TPendingValues::*field) {
  return [field](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
    p.*field = value;
  };
}

Handler StoreMaxFrames(TFrameLimitKind kind) {
  return [kind](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
    p.MaxFrames[kind] = ParseInteger(value);
  };
}

}  // namespace

void TCustomFFmpeg::SetOption(const std::string& option_name, const std::string& option_value) {
  // Built once: the handlers close over nothing but member pointers.
  static const std::unordered_map<std::string_view, Handler> kVocabulary = [] {
    std::unordered_map<std::string_view, Handler> v;
    const Handler informational = [](TCustomFFmpeg& task, TPendingValues&, const std::string& n,
                                     const std::string&) {
      runtime::Log(&task, runtime::llInfo, "Do nothing: option - " + n);
    };
    for (const char* n :
         {"h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"}) {
      v[n] = informational;
    }
    v["threads"] = StoreInteger(&TPendingValues::ThreadCount);
    v["loglevel"] = [](TCustomFFmpeg&, TPendingValues&, const std::string&, const std::string& value) {
      try {
        runtime::Logger().SetLogLevelByText(value);
      } catch (const std::invalid_argument& error) {
        throw ConversionError(error.what());
      }
    };
    v["timelimit"] = [](TCustomFFmpeg& task, TPendingValues&, const std::string&, const std::string&) {
      runtime::Log(&task, runtime::llWarning, "Warning: -timelimit is not supported");
    };
    v["v"] = StoreInteger(&TPendingValues::Verbosity);
    v["target"] = [](TCustomFFmpeg& task, TPendingValues&, const std::string&, const std::string& value) {
      task.ParseTarget(value);
    };
    v["f"] = [](TCustomFFmpeg& task, TPendingValues&, const std::string&, const std::string& value) {
      task.SetFormatName(value);
    };

    v["fs"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      p.LimitFileSize = ParseInteger64(value);
    };
    v["dframes"] = StoreMaxFrames(flData);
    v["vframes"] = StoreMaxFrames(flVideo);
    v["aframes"] = StoreMaxFrames(flAudio);
    v["dump"] = StoreBoolean(&TPendingValues::PacketDump);
    v["hex"] = StoreBoolean(&TPendingValues::HexDump);
    v["re"] = StoreBoolean(&TPendingValues::RateEmulation);
    v["loop_input"] = StoreBoolean(&TPendingValues::LoopInput);
    v["loop_output"] = StoreInteger(&TPendingValues::LoopOutput);
    v["vsync"] = StoreInteger(&TPendingValues::VideoSyncMethod);
    v["async"] = StoreInteger(&TPendingValues::AudioSyncMethod);
    v["adrift_threshold"] = StoreFloat(&TPendingValues::AudioDriftThreshold);
    v["vglobal"] = StoreInteger(&TPendingValues::VideoGlobalHeader);
    v["copyts"] = StoreTrue(&TPendingValues::CopyTs);
    v["shortest"] = StoreBoolean(&TPendingValues::Shortest);
    v["pipeline"] = StoreInteger(&TPendingValues::Pipeline);
    v["dts_delta_threshold"] = StoreFloat(&TPendingValues::DtsDeltaThreshold);
    v["programid"] = StoreInteger(&TPendingValues::ProgramID);
    v["xerror"] = StoreTrue(&TPendingValues::ExitOnError);
    v["copyinkf"] = StoreInteger(&TPendingValues::CopyInitialNonKeyframes);
    v["intra"] = StoreBoolean(&TPendingValues::IntraOnly);
    v["vn"] = StoreBoolean(&TPendingValues::DisableVideo);
    v["vdt"] = StoreInteger(&TPendingValues::VideoDiscard);
    v["sameq"] = StoreBoolean(&TPendingValues::SameQuality);
    v["deinterlace"] = StoreBoolean(&TPendingValues::Deinterlace);
    v["psnr"] = StoreBoolean(&TPendingValues::DoPsnr);
    v["dc"] = StoreInteger(&TPendingValues::IntraDcPrecision);
    v["qphist"] = StoreBoolean(&TPendingValues::QpHistogram);
    v["force_fps"] = StoreBoolean(&TPendingValues::ForceFps);
    v["aq"] = StoreFloat(&TPendingValues::AudioQScale);
    v["an"] = StoreBoolean(&TPendingValues::DisableAudio);
    v["vol"] = StoreInteger(&TPendingValues::AudioVolume);
    v["sn"] = StoreBoolean(&TPendingValues::DisableSubtitle);
    v["isync"] = StoreBoolean(&TPendingValues::InputSync);
    v["muxdelay"] = StoreFloat(&TPendingValues::MuxMaxDelay);
    v["muxpreload"] = StoreFloat(&TPendingValues::MuxPreload);
    v["passlogfile"] = StoreText(&TPendingValues::PassLogFile);
    v["vlang"] = StoreText(&TPendingValues::VideoLanguage);
    v["alang"] = StoreText(&TPendingValues::AudioLanguage);
    v["slang"] = StoreText(&TPendingValues::SubtitleLanguage);
    v["top"] = StoreInteger(&TPendingValues::TopFieldFirst);
    v["me_threshold"] = StoreInteger(&TPendingValues::MeThreshold);
    v["vc"] = StoreInteger(&TPendingValues::VideoChannel);
    v["tvstd"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      p.VideoStandard = value;
    };
    v["rc_override"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      p.RcOverride = value;
    };

    const auto member = [](void (TCustomFFmpeg::*handler)(const std::string&)) -> Handler {
      return [handler](TCustomFFmpeg& task, TPendingValues&, const std::string&, const std::string& value) {
        (task.*handler)(value);
      };
    };
    const auto named = [](void (TCustomFFmpeg::*handler)(const std::string&, const std::string&)) -> Handler {
      return [handler](TCustomFFmpeg& task, TPendingValues&, const std::string& n, const std::string& value) {
        (task.*handler)(n, value);
      };
    };
    v["map"] = member(&TCustomFFmpeg::AddStreamMap);
    v["map_meta_data"] = member(&TCustomFFmpeg::AddMetaDataMap);
    v["metadata"] = member(&TCustomFFmpeg::AddMetadata);
    for (const char* n : {"t", "ss", "itsoffset", "timestamp"})
      v[n] = named(&TCustomFFmpeg::SetTime);
    v["itsscale"] = member(&TCustomFFmpeg::SetInputTsScale);
    for (const char* n : {"b", "vb", "ab"})
      v[n] = named(&TCustomFFmpeg::SetBitRate);
    v["r"] = member(&TCustomFFmpeg::SetFrameRate);
    v["s"] = member(&TCustomFFmpeg::SetFrameSize);
    v["aspect"] = member(&TCustomFFmpeg::SetAspectRatio);
    v["pix_fmt"] = member(&TCustomFFmpeg::SetPixelFormat);
    v["sample_fmt"] = member(&TCustomFFmpeg::SetSampleFormat);
    for (const char* n : {"croptop", "cropbottom", "cropleft", "cropright"})
      v[n] = named(&TCustomFFmpeg::SetCrop);
    for (const char* n : {"padtop", "padbottom", "padleft", "padright"})
      v[n] = named(&TCustomFFmpeg::SetPad);
    v["padcolor"] = member(&TCustomFFmpeg::SetPadColor);
    v["qscale"] = member(&TCustomFFmpeg::SetQScale);
    for (const char* n : {"vcodec", "acodec", "scodec"})
      v[n] = named(&TCustomFFmpeg::SetCodecName);
    v["pass"] = member(&TCustomFFmpeg::SetPass);
    for (const char* n : {"vstats", "vstats_file"})
      v[n] = named(&TCustomFFmpeg::SetVstats);
    v["vhook"] = member(&TCustomFFmpeg::AddFrameHook);
    v["vfilters"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      if (!value.empty()) p.VideoFilters = value;
    };
    for (const char* n : {"intra_matrix", "inter_matrix"})
      v[n] = named(&TCustomFFmpeg::SetMatrix);
    for (const char* n : {"vtag", "atag", "stag"})
      v[n] = named(&TCustomFFmpeg::SetCodecTag);
    v["ar"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      if (const int rate = ParseInteger(value); rate > 0) p.AudioSampleRate = rate;
    };
    v["ac"] = [](TCustomFFmpeg&, TPendingValues& p, const std::string&, const std::string& value) {
      if (const int channels = ParseInteger(value); channels > 0) p.AudioChannels = channels;
    };
    for (const char* n : {"absf", "vbsf", "sbsf"})
      v[n] = named(&TCustomFFmpeg::AddBitstreamFilter);
    for (const char* n : {"apre", "vpre", "spre", "fpre"})
      v[n] = named(&TCustomFFmpeg::ApplyPreset);
    for (const char* n : {"newvideo", "newaudio", "newsubtitle"})
      v[n] = named(&TCustomFFmpeg::AddNewStream);
    return v;
  }();

  if (const auto entry = kVocabulary.find(option_name); entry != kVocabulary.end()) {
    entry->second(*this, pending_, option_name, option_value);
    return;
  }
  SetGeneric(option_name, option_value);
}

}  // namespace engine
