// Presets of a task: every built-in preset drives a real libx264 encoder to the settings it names, preset
// names are composed with the pending encoder's name, and preset files are read and refused as they should
// be.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/builtin_presets.h"
#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "engine_test_support.h"
#include "runtime/library_loader.h"
#include "runtime/media_owners.h"

namespace engine_test {
namespace {

using engine::FFmpegException;

std::optional<std::string> OptionText(void* object, const std::string& name) {
  std::uint8_t* raw = nullptr;
  if (runtime::avutil().av_opt_get(object, name.c_str(), AV_OPT_SEARCH_CHILDREN, &raw) < 0)
    return std::nullopt;
  const runtime::LibraryMemoryPtr<std::uint8_t> text(raw);
  return std::string(reinterpret_cast<const char*>(text.get()));
}

const AVCodec* Libx264() {
  return runtime::avcodec().avcodec_find_encoder_by_name("libx264");
}

// The (name, value) option lines of a preset text.
std::vector<std::pair<std::string, std::string>> OptionLines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream stream{std::string(text)};
  for (std::string line; std::getline(stream, line);) {
    const std::size_t equals = line.find('=');
    lines.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  return lines;
}

// The settings x264 reports in the stream it writes ("options: cabac=1 ref=3 ..."), as it really used them.
std::map<std::string, std::string> X264Settings(const std::string& stream) {
  std::map<std::string, std::string> settings;
  const std::size_t start = stream.find("options: ");
  if (start == std::string::npos) return settings;
  std::size_t end = start + 9;
  while (end < stream.size() && static_cast<unsigned char>(stream[end]) >= ' ')
    ++end;
  std::istringstream words(stream.substr(start + 9, end - start - 9));
  for (std::string word; words >> word;) {
    const std::size_t equals = word.find('=');
    if (equals != std::string::npos) settings[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return settings;
}

// level_idc of the first sequence parameter set in an Annex B stream; -1 without one.
int SpsLevel(const std::string& stream) {
  for (std::size_t i = 0; i + 6 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && (stream[i + 3] & 0x1f) == 7) {
      return static_cast<unsigned char>(stream[i + 6]);
    }
  }
  return -1;
}

class PresetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries))
        << runtime::FFmpegLoader().LastError();
    ASSERT_NE(Libx264(), nullptr) << "these tests need the libx264 encoder";
    task_.Reset();
    folder_ = TestFolder();
  }

  // A libx264 encoder with the task's video options, opened; null (with a failure) when it does not open.
  runtime::CodecContextPtr OpenEncoder(bool first_pass = false) {
    runtime::CodecContextPtr context(runtime::avcodec().avcodec_alloc_context3(Libx264()));
    if (context == nullptr) return nullptr;
    task_.GenericOptions().ApplyTo(context.get(), task_.GenericOptions().Video(),
                                   AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    context->width = 64;
    context->height = 64;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, 25};
    context->thread_count = 1;
    if (first_pass) {
      context->flags |= AV_CODEC_FLAG_PASS1;
      const std::string stats = (folder_ / "pass.log").string();
      runtime::avutil().av_opt_set(context.get(), "stats", stats.c_str(), AV_OPT_SEARCH_CHILDREN);
    }
    std::lock_guard lock(runtime::CodecLock());
    const int result = runtime::avcodec().avcodec_open2(context.get(), nullptr, nullptr);
    EXPECT_GE(result, 0) << "avcodec_open2: " << result;
    return result < 0 ? nullptr : std::move(context);
  }

  // Encodes frames of a moving gradient and drains the encoder; the packets' bytes in order.
  static std::string Encode(AVCodecContext* context, int frame_count) {
    std::string stream;
    runtime::FramePtr frame(runtime::avutil().av_frame_alloc());
    runtime::PacketPtr packet(runtime::avcodec().av_packet_alloc());
    frame->width = context->width;
    frame->height = context->height;
    frame->format = context->pix_fmt;
    EXPECT_GE(runtime::avutil().av_frame_get_buffer(frame.get(), 0), 0);
    auto drain = [&] {
      while (runtime::avcodec().avcodec_receive_packet(context, packet.get()) >= 0) {
        stream.append(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
        runtime::avcodec().av_packet_unref(packet.get());
      }
    };
    for (int index = 0; index < frame_count; ++index) {
      EXPECT_GE(runtime::avutil().av_frame_make_writable(frame.get()), 0);
      for (int plane = 0; plane < 3; ++plane) {
        const int size = plane == 0 ? 64 : 32;
        for (int y = 0; y < size; ++y) {
          for (int x = 0; x < size; ++x)
            frame->data[plane][y * frame->linesize[plane] + x] =
                static_cast<std::uint8_t>(x * 3 + y + index * 5);
        }
      }
      frame->pts = index;
      EXPECT_GE(runtime::avcodec().avcodec_send_frame(context, frame.get()), 0);
      drain();
    }
    EXPECT_GE(runtime::avcodec().avcodec_send_frame(context, nullptr), 0);
    drain();
    return stream;
  }

  void ExpectVideoOption(const std::string& name, const std::string& value) {
    EXPECT_EQ(OptionText(task_.GenericOptions().Video(), name), value) << name;
  }

  engine::TFFmpeg task_;
  std::filesystem::path folder_;
};

struct BuiltinCase {
  const char* name;
  // Settings x264 reports having used, as "key=value".
  std::vector<const char*> settings;
  int level = -1;  // level_idc of the stream, when the preset sets one
  bool first_pass = false;
};

// What each preset means, as x264 states it: "analyse" lists intra:inter partitions (0x1 i4x4, 0x2 i8x8,
// 0x10 p8x8, 0x20 p4x4, 0x100 b8x8), ip_ratio is 1/i_qfactor. Without B-frames x264 writes no B-frame
// settings; lossless coding (qp=0) writes no rate control limits and turns B-frames and trellis off itself,
// and with CAVLC and subme below 6 also the 8x8 transform (so no i8x8 intra partitions).
const BuiltinCase kBuiltinCases[] = {
    {"libx264-baseline", {"cabac=0", "bframes=0", "8x8dct=0", "weightp=0", "mbtree=1"}},
    {"libx264-default",
     {"cabac=1",       "ref=3",        "deblock=1:0:0", "analyse=0x3:0x113", "me=hex",    "subme=7",
      "mixed_ref=1",   "me_range=16",  "chroma_me=1",   "trellis=1",         "8x8dct=1",  "fast_pskip=1",
      "bframes=3",     "b_adapt=1",    "direct=1",      "weightb=1",         "weightp=2", "keyint=250",
      "keyint_min=25", "scenecut=40",  "mbtree=1",      "qcomp=0.60",        "qpmin=10",  "qpmax=51",
      "qpstep=4",      "ip_ratio=1.41"}},
    {"libx264-fastfirstpass",
     {"cabac=1", "ref=1", "analyse=0x1:0", "me=dia", "subme=2", "trellis=0", "8x8dct=0", "fast_pskip=1",
      "bframes=3", "b_pyramid=0", "direct=3", "weightb=0", "weightp=2", "qpmin=10", "ip_ratio=1.41"}},
    {"libx264-hq",
     {"cabac=1", "ref=4", "analyse=0x3:0x113", "me=umh", "subme=8", "mixed_ref=1", "trellis=1", "8x8dct=1",
      "bframes=3", "b_adapt=2", "direct=3", "weightb=1", "weightp=2", "qpmax=51"}},
    {"libx264-ipod320",
     {"cabac=0", "bframes=0", "8x8dct=0", "weightp=0", "vbv_maxrate=768", "vbv_bufsize=3000"},
     13},
    {"libx264-ipod640",
     {"cabac=0", "ref=1", "bframes=0", "8x8dct=0", "weightp=0", "vbv_maxrate=10000", "vbv_bufsize=10000"},
     30},
    {"libx264-lossless_fast",
     {"rc=cqp", "qp=0", "cabac=0", "analyse=0x1:0x11", "me=hex", "subme=3", "weightp=0", "keyint=250",
      "scenecut=40"}},
    {"libx264-lossless_max",
     {"rc=cqp", "qp=0", "cabac=1", "ref=16", "analyse=0x3:0x33", "me=esa", "subme=8", "mixed_ref=1",
      "8x8dct=1", "weightp=2"}},
    {"libx264-lossless_medium",
     {"rc=cqp", "qp=0", "cabac=1", "analyse=0x3:0x31", "me=hex", "subme=5", "weightp=2"}},
    {"libx264-lossless_slow",
     {"rc=cqp", "qp=0", "cabac=1", "ref=2", "analyse=0x3:0x33", "me=umh", "subme=6", "8x8dct=1"}},
    {"libx264-lossless_slower",
     {"rc=cqp", "qp=0", "cabac=1", "ref=4", "analyse=0x3:0x33", "me=umh", "subme=8", "mixed_ref=1"}},
    {"libx264-lossless_ultrafast",
     {"rc=cqp", "qp=0", "cabac=0", "analyse=0x1:0", "me=dia", "subme=0", "keyint_min=25"}},
    {"libx264-main", {"8x8dct=0", "mbtree=1"}},
    {"libx264-max",
     {"cabac=1", "ref=16", "analyse=0x3:0x133", "me=tesa", "subme=10", "me_range=24", "trellis=2",
      "mixed_ref=1", "8x8dct=1", "fast_pskip=0", "bframes=3", "b_adapt=2", "direct=3", "weightb=1",
      "weightp=2"}},
    {"libx264-normal",
     {"cabac=1", "ref=2", "analyse=0x3:0x113", "me=hex", "subme=6", "trellis=0", "8x8dct=1", "bframes=3",
      "b_adapt=1", "direct=3", "weightb=1", "weightp=2"}},
    // A first pass keeps the preset's full settings rather than the encoder's reduced first-pass ones.
    {"libx264-slowfirstpass",
     {"cabac=1", "ref=1", "analyse=0x3:0x113", "me=hex", "subme=6", "trellis=0", "8x8dct=1", "bframes=3",
      "b_adapt=2", "direct=3", "weightb=1", "weightp=2"},
     -1,
     true},
};

TEST_F(PresetsTest, TableHoldsEveryPresetOnceAndEachIsCovered) {
  std::set<std::string> names;
  for (const engine::TOptionsPreset& preset : engine::BuiltinPresets())
    EXPECT_TRUE(names.insert(std::string(preset.Name)).second) << preset.Name;
  std::set<std::string> covered;
  for (const BuiltinCase& c : kBuiltinCases)
    covered.insert(c.name);
  EXPECT_EQ(names.size(), 16U);
  EXPECT_EQ(names, covered);
}

TEST_F(PresetsTest, EveryBuiltinPresetReachesALibx264EncoderAndTakesEffect) {
  for (const BuiltinCase& c : kBuiltinCases) {
    SCOPED_TRACE(c.name);
    task_.Reset();
    task_.SetOption("vcodec", "libx264");
    ASSERT_NO_THROW(task_.ApplyPreset("vpre", c.name));

    runtime::CodecContextPtr encoder = OpenEncoder(c.first_pass);
    ASSERT_NE(encoder, nullptr);
    // Every line of the preset arrived in the opened encoder with the value it gives, as the encoder's own
    // options spell it.
    runtime::CodecContextPtr reference(runtime::avcodec().avcodec_alloc_context3(Libx264()));
    for (const auto& [name, value] : OptionLines(*engine::FindBuiltinPreset(c.name))) {
      ASSERT_GE(
          runtime::avutil().av_opt_set(reference.get(), name.c_str(), value.c_str(), AV_OPT_SEARCH_CHILDREN),
          0)
          << name;
      EXPECT_EQ(OptionText(encoder.get(), name), OptionText(reference.get(), name)) << name << "=" << value;
    }

    const std::string stream = Encode(encoder.get(), 6);
    ASSERT_FALSE(stream.empty());
    const std::map<std::string, std::string> settings = X264Settings(stream);
    ASSERT_FALSE(settings.empty()) << "no x264 settings in the stream";
    for (std::string_view expected : c.settings) {
      const std::size_t equals = expected.find('=');
      const std::string key(expected.substr(0, equals));
      const auto found = settings.find(key);
      EXPECT_TRUE(found != settings.end() && found->second == expected.substr(equals + 1))
          << "expected " << expected << ", x264 used "
          << (found == settings.end() ? "nothing" : found->second);
    }
    if (c.level >= 0) {
      EXPECT_EQ(SpsLevel(stream), c.level);
    }
  }
}

TEST_F(PresetsTest, BuiltinLookupIgnoresCaseAndComposesWithThePendingVideoEncoder) {
  task_.SetOption("vcodec", "libx264");
  task_.ApplyPreset("vpre", "default");
  ExpectVideoOption("refs", "3");
  ExpectVideoOption("partitions", "i8x8,i4x4,p8x8,b8x8");

  task_.ApplyPreset("vpre", "LIBX264-Main");
  ExpectVideoOption("8x8dct", "false");
}

TEST_F(PresetsTest, NothingHappensWithoutANameOrAValue) {
  task_.SetOption("vcodec", "libx264");
  task_.ApplyPreset("vpre", "");
  task_.ApplyPreset("", "libx264-default");
  EXPECT_TRUE(task_.GenericOptions().Names().empty());
}

TEST_F(PresetsTest, ANameFoundNowhereIsNotFound) {
  struct Case {
    const char* option;
    const char* subtitle_encoder;  // pending subtitle encoder, or null
    const char* value;
  };
  const Case cases[] = {
      {"vpre", nullptr, "default"},
      // Composed as "mov_text-default", found nowhere; the message names the value as given.
      {"vpre", "mov_text", "default"},
      // "fpre" reads files only, even for a built-in name.
      {"fpre", nullptr, "libx264-main"},
  };
  for (const Case& c : cases) {
    task_.Reset();
    if (c.subtitle_encoder != nullptr) task_.Pending().SubtitleCodecName = c.subtitle_encoder;
    try {
      task_.ApplyPreset(c.option, c.value);
      ADD_FAILURE() << c.option << "=" << c.value << " was applied";
    } catch (const FFmpegException& error) {
      EXPECT_STREQ(error.what(), (std::string("Preset \"") + c.value + "\" not found").c_str());
    }
  }
}

// Which encoder name a preset name is composed with: the preset's own kind for video and audio, the pending
// subtitle encoder for any option, none for "fpre". The composed name shows in the messages about a preset
// file's lines.
TEST_F(PresetsTest, PresetNameIsComposedWithThePendingEncoderOfTheRightKind) {
  const std::string file = MakeFile(folder_ / "broken.preset", "qmin\n").string();
  struct Case {
    const char* option;
    const char* video;
    const char* audio;
    const char* subtitle;
    std::string preset_name;
  };
  const Case cases[] = {
      {"vpre", "libx264", "aac", "mov_text", "libx264-" + file},
      {"vpre", nullptr, "aac", nullptr, file},
      {"vpre", nullptr, "aac", "mov_text", "mov_text-" + file},
      {"apre", "libx264", "aac", "mov_text", "aac-" + file},
      {"apre", "libx264", nullptr, nullptr, file},
      {"spre", "libx264", "aac", "mov_text", "mov_text-" + file},
      {"spre", "libx264", "aac", nullptr, file},
      {"fpre", "libx264", "aac", "mov_text", file},
  };
  for (const Case& c : cases) {
    task_.Reset();
    engine::TPendingValues& pending = task_.Pending();
    if (c.video != nullptr) pending.VideoCodecName = c.video;
    if (c.audio != nullptr) pending.AudioCodecName = c.audio;
    if (c.subtitle != nullptr) pending.SubtitleCodecName = c.subtitle;
    try {
      task_.ApplyPreset(c.option, file);
      ADD_FAILURE() << c.option << " applied a broken file";
    } catch (const FFmpegException& error) {
      EXPECT_EQ(error.what(), c.preset_name + ": Invalid syntax: \"qmin\"") << c.option;
    }
  }
}

TEST_F(PresetsTest, PresetFileSetsEncoderAndOptionsWhateverItsLineBreaks) {
  // A codec line in any case names the encoder, whose private options ("weightp") later lines then set.
  const std::filesystem::path file = MakeFile(
      folder_ / "mine.preset", "  \r\n VCodec=libx264 \r\n\r\nqmin=12\rweightp=1\n\n  qmax=40  \n\n");
  task_.ApplyPreset("fpre", file.string());
  EXPECT_EQ(task_.Pending().VideoCodecName, "libx264");
  ExpectVideoOption("qmin", "12");
  ExpectVideoOption("weightp", "1");
  ExpectVideoOption("qmax", "40");

  // A relative name is taken from the current folder.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(file.parent_path());
  task_.Reset();
  EXPECT_NO_THROW(task_.ApplyPreset("vpre", "mine.preset"));
  std::filesystem::current_path(saved);
  EXPECT_EQ(task_.Pending().VideoCodecName, "libx264");
}

TEST_F(PresetsTest, BadPresetFilesAreRefusedNamingTheLine) {
  const std::filesystem::path& folder = folder_;
  struct Case {
    const char* content;
    std::string message;  // after "<file>: "
  };
  const Case cases[] = {
      {"qmin", "Invalid syntax: \"qmin\""},
      {"qmin=", "Invalid syntax: \"qmin=\""},
      {"  =12", "Invalid syntax: \"=12\""},
      {"nosuchoption=1",
       "Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\""},
      {"qmin=lots", "Invalid option or argument: \"qmin=lots\", parsed as \"qmin\" = \"lots\""},
      // Names are not trimmed around "=": "qmin " is no option.
      {"qmin = 12", "Invalid option or argument: \"qmin = 12\", parsed as \"qmin \" = \" 12\""},
      // Private options of an encoder that is not named yet are unknown.
      {"weightp=1", "Invalid option or argument: \"weightp=1\", parsed as \"weightp\" = \"1\""},
  };
  int index = 0;
  for (const Case& c : cases) {
    task_.Reset();
    const std::string file = MakeFile(folder / ("bad" + std::to_string(index++)), c.content).string();
    try {
      task_.ApplyPreset("fpre", file);
      ADD_FAILURE() << c.content << " was applied";
    } catch (const FFmpegException& error) {
      EXPECT_EQ(error.what(), file + ": " + c.message);
    }
  }
  // The lines before a refused one stay applied; those after it are not.
  task_.Reset();
  const std::string partial = MakeFile(folder / "partial", "qmin=12\nnosuchoption=1\nqmax=40").string();
  EXPECT_THROW(task_.ApplyPreset("fpre", partial), FFmpegException);
  ExpectVideoOption("qmin", "12");
  ExpectVideoOption("qmax", "31");

  // A folder is no preset file.
  try {
    task_.ApplyPreset("fpre", folder.string());
    ADD_FAILURE() << "a folder was read as a preset";
  } catch (const FFmpegException& error) {
    EXPECT_EQ(error.what(), "Preset \"" + folder.string() + "\" not found");
  }
}

}  // namespace
}  // namespace engine_test
