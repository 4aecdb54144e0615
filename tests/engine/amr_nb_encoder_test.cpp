#include "engine/amr_nb_encoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_test_support.h"
#include "runtime/file_io.h"
#include "runtime/library_loader.h"
#include "runtime/main_thread.h"
#include "runtime/media_owners.h"
#include "support/media_fixtures.h"
#include "support/test_files.h"

namespace engine {
namespace {

namespace fs = std::filesystem;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr int kSecondsOfSine = 2;
constexpr int kSineSamples = kSecondsOfSine * AmrNbEncoder::kSampleRate;

std::vector<std::int16_t> Sine(int sample_count, double frequency = 440.0, double amplitude = 10000.0) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(sample_count));
  for (std::size_t index = 0; index < samples.size(); ++index) {
    const double phase =
        2.0 * std::numbers::pi * frequency * static_cast<double>(index) / AmrNbEncoder::kSampleRate;
    samples[index] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
  }
  return samples;
}

Frames EncodeAll(AmrNbEncoder& encoder, const std::vector<std::int16_t>& samples) {
  Frames frames;
  for (std::size_t start = 0; start + AmrNbEncoder::kFrameSamples <= samples.size();
       start += AmrNbEncoder::kFrameSamples)
    frames.push_back(encoder.EncodeFrame(samples.data() + start));
  return frames;
}

// The frame type in a storage-format header byte: 0..7 speech modes, 8 SID, 15 no data.
int FrameType(const std::vector<std::uint8_t>& frame) {
  return (frame.at(0) >> 3) & 0x0F;
}

fs::path WriteAmrFile(const fs::path& path, const Frames& frames) {
  std::ofstream file(path, std::ios::binary);
  file << "#!AMR\n";
  for (const auto& frame : frames)
    file.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  return path;
}

// Muxes the frames as the single AMR-NB track of a 3GP file, one packet per frame.
void Write3gpFile(const fs::path& path, const Frames& frames) {
  AVFormatContext* allocated = nullptr;
  ASSERT_GE(runtime::avformat().avformat_alloc_output_context2(&allocated, nullptr, "3gp", path.c_str()), 0);
  const runtime::FormatContextPtr context(allocated);
  int error = 0;
  runtime::FileIoPtr io = runtime::OpenFileIo(path.string(), AVIO_FLAG_WRITE, &error);
  ASSERT_TRUE(io) << error;
  context->pb = io.get();
  AVStream* stream = runtime::avformat().avformat_new_stream(context.get(), nullptr);
  ASSERT_NE(stream, nullptr);
  const AVRational sample_time_base{1, AmrNbEncoder::kSampleRate};
  stream->time_base = sample_time_base;
  AVCodecParameters* parameters = stream->codecpar;
  parameters->codec_type = AVMEDIA_TYPE_AUDIO;
  parameters->codec_id = AV_CODEC_ID_AMR_NB;
  parameters->sample_rate = AmrNbEncoder::kSampleRate;
  runtime::avutil().av_channel_layout_default(&parameters->ch_layout, 1);
  parameters->frame_size = AmrNbEncoder::kFrameSamples;
  ASSERT_GE(runtime::avformat().avformat_write_header(context.get(), nullptr), 0);
  const runtime::PacketPtr packet(runtime::avcodec().av_packet_alloc());
  for (std::size_t index = 0; index < frames.size(); ++index) {
    ASSERT_EQ(runtime::avcodec().av_new_packet(packet.get(), static_cast<int>(frames[index].size())), 0);
    std::memcpy(packet->data, frames[index].data(), frames[index].size());
    packet->pts = packet->dts = static_cast<std::int64_t>(index) * AmrNbEncoder::kFrameSamples;
    packet->duration = AmrNbEncoder::kFrameSamples;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->stream_index = 0;
    runtime::avcodec().av_packet_rescale_ts(packet.get(), sample_time_base, stream->time_base);
    ASSERT_EQ(runtime::avformat().av_interleaved_write_frame(context.get(), packet.get()), 0);
  }
  ASSERT_EQ(runtime::avformat().av_write_trailer(context.get()), 0);
  io.reset();  // flushes and closes the file
  context->pb = nullptr;
}

// "key=value" lines of ffprobe about the first audio stream and the container.
std::string ProbeText(const fs::path& path) {
  return media_test::RunCommand(
             "ffprobe -v error -select_streams a:0 -show_entries "
             "stream=codec_name,codec_tag_string,sample_rate,channels:format=duration "
             "-of default=nw=1 " +
             media_test::Quoted(path) + " 2>&1")
      .Output;
}

// Decodes the file with the ffmpeg tool, which must report no error at all (-xerror stops at the first).
std::vector<std::int16_t> DecodeToSamples(const fs::path& path) {
  const fs::path errors = path.string() + ".errors";
  const media_test::CommandResult decoded =
      media_test::RunCommand("ffmpeg -nostdin -v error -xerror -i " + media_test::Quoted(path) +
                             " -f s16le -ac 1 -ar 8000 - 2>" + media_test::Quoted(errors));
  EXPECT_EQ(decoded.Status, 0) << path;
  EXPECT_EQ(fs::file_size(errors), 0U) << path << " does not decode cleanly";
  std::vector<std::int16_t> samples(decoded.Output.size() / sizeof(std::int16_t));
  std::memcpy(samples.data(), decoded.Output.data(), samples.size() * sizeof(std::int16_t));
  return samples;
}

// The steady part of the signal: the codec's start-up is left out.
constexpr std::size_t kCompareFrom = AmrNbEncoder::kSampleRate / 4;
constexpr std::size_t kCompareLength = AmrNbEncoder::kSampleRate;

double Rms(const std::vector<std::int16_t>& samples, std::size_t from) {
  double sum = 0;
  for (std::size_t index = from; index < from + kCompareLength; ++index)
    sum += static_cast<double>(samples.at(index)) * samples.at(index);
  return std::sqrt(sum / kCompareLength);
}

// Normalised correlation of the decoded signal with the input, at the best delay up to 40 ms.
double BestCorrelation(const std::vector<std::int16_t>& input, const std::vector<std::int16_t>& decoded) {
  double best = -1;
  for (std::size_t lag = 0; lag <= 320; ++lag) {
    double product = 0;
    double input_energy = 0;
    double decoded_energy = 0;
    for (std::size_t index = kCompareFrom; index < kCompareFrom + kCompareLength; ++index) {
      const double a = input.at(index);
      const double b = decoded.at(index + lag);
      product += a * b;
      input_energy += a * a;
      decoded_energy += b * b;
    }
    if (input_energy > 0 && decoded_energy > 0)
      best = std::max(best, product / std::sqrt(input_energy * decoded_energy));
  }
  return best;
}

class AmrNbEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
};

TEST_F(AmrNbEncoderTest, ModeIsTheHighestNotAboveTheBitRate) {
  const struct {
    std::int64_t BitRate;
    int Mode;
  } cases[] = {{-1, 0},    {0, 0},     {4749, 0},  {4750, 0},  {5149, 0},     {5150, 1},  {5900, 2},
               {6699, 2},  {6700, 3},  {7400, 4},  {7949, 4},  {7950, 5},     {10199, 5}, {10200, 6},
               {12199, 6}, {12200, 7}, {12201, 7}, {64000, 7}, {INT64_MAX, 7}};
  for (const auto& example : cases) {
    EXPECT_EQ(AmrNbEncoder::ModeForBitRate(example.BitRate), example.Mode) << example.BitRate;
  }
  const std::int64_t catalogue[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
  for (int mode = 0; mode < AmrNbEncoder::kModeCount; ++mode) {
    EXPECT_EQ(AmrNbEncoder::BitRateOfMode(mode), catalogue[mode]);
    EXPECT_EQ(AmrNbEncoder::ModeForBitRate(catalogue[mode]), mode);
  }
  EXPECT_THROW(AmrNbEncoder::BitRateOfMode(-1), std::out_of_range);
  EXPECT_THROW(AmrNbEncoder::BitRateOfMode(AmrNbEncoder::kModeCount), std::out_of_range);
}

TEST_F(AmrNbEncoderTest, EveryModeGivesAnAmrFileThatDecodesToTheSine) {
  const fs::path folder = engine_test::TestFolder();
  const std::vector<std::int16_t> sine = Sine(kSineSamples);
  const double input_rms = Rms(sine, kCompareFrom);
  double previous_bit_rate = 0;
  for (int mode = 0; mode < AmrNbEncoder::kModeCount; ++mode) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    AmrNbEncoder encoder;
    ASSERT_TRUE(encoder.Open(AmrNbEncoder::BitRateOfMode(mode))) << encoder.ErrorText();
    EXPECT_EQ(encoder.Mode(), mode);
    const Frames frames = EncodeAll(encoder, sine);
    ASSERT_EQ(frames.size(), 100U);
    ASSERT_EQ(sine, Sine(kSineSamples)) << "the caller's samples were changed";
    for (const auto& frame : frames) {
      ASSERT_EQ(FrameType(frame), mode);
      ASSERT_EQ(frame.size(), frames.front().size()) << "a speech mode has one frame size";
    }
    const fs::path file = WriteAmrFile(folder / ("sine_" + std::to_string(mode) + ".amr"), frames);

    const std::string probed = ProbeText(file);
    EXPECT_NE(probed.find("codec_name=amr_nb\n"), std::string::npos) << probed;
    EXPECT_NE(probed.find("sample_rate=8000\n"), std::string::npos) << probed;
    EXPECT_NE(probed.find("channels=1\n"), std::string::npos) << probed;
    // The raw format's container duration is a bit-rate estimate; the packets tell the real one.
    const std::vector<media_test::StreamFacts> streams = media_test::ProbeStreams(file);
    ASSERT_EQ(streams.size(), 1U);
    EXPECT_NEAR(streams[0].Duration, kSecondsOfSine, 0.02);

    const std::vector<std::int16_t> decoded = DecodeToSamples(file);
    ASSERT_EQ(decoded.size(), sine.size());
    EXPECT_NEAR(20 * std::log10(Rms(decoded, kCompareFrom) / input_rms), 0.0, 3.0);
    EXPECT_GT(BestCorrelation(sine, decoded), 0.9);

    const double bit_rate = static_cast<double>(fs::file_size(file)) * 8 / streams[0].Duration;
    EXPECT_GT(bit_rate, previous_bit_rate);
    EXPECT_NEAR(bit_rate, static_cast<double>(AmrNbEncoder::BitRateOfMode(mode)), 800.0)
        << "a frame is the mode's speech bits padded to whole bytes plus a header byte";
    previous_bit_rate = bit_rate;
  }
}

TEST_F(AmrNbEncoderTest, FramesMuxIntoA3gpSamrTrack) {
  const fs::path folder = engine_test::TestFolder();
  AmrNbEncoder encoder;
  ASSERT_TRUE(encoder.Open(7400)) << encoder.ErrorText();
  const Frames frames = EncodeAll(encoder, Sine(kSineSamples));
  const fs::path file = folder / "sine.3gp";
  Write3gpFile(file, frames);
  ASSERT_FALSE(HasFatalFailure());

  const std::string probed = ProbeText(file);
  EXPECT_NE(probed.find("codec_name=amr_nb\n"), std::string::npos) << probed;
  EXPECT_NE(probed.find("codec_tag_string=samr\n"), std::string::npos) << probed;
  EXPECT_NE(probed.find("sample_rate=8000\n"), std::string::npos) << probed;
  EXPECT_NE(probed.find("channels=1\n"), std::string::npos) << probed;
  EXPECT_NE(probed.find("duration=2.0"), std::string::npos) << probed;
  const std::vector<media_test::StreamFacts> streams = media_test::ProbeStreams(file);
  ASSERT_EQ(streams.size(), 1U);
  EXPECT_EQ(streams[0].Packets, 100);
  EXPECT_NEAR(streams[0].Duration, kSecondsOfSine, 0.02);
  // The track carries the frames untouched: it decodes exactly as the same frames in an .amr file.
  EXPECT_EQ(DecodeToSamples(file), DecodeToSamples(WriteAmrFile(folder / "sine.amr", frames)));
}

TEST_F(AmrNbEncoderTest, DtxSendsSilenceAsComfortNoiseFrames) {
  const std::vector<std::int16_t> silence(AmrNbEncoder::kSampleRate, 0);
  for (const bool dtx : {false, true}) {
    SCOPED_TRACE(dtx ? "dtx" : "no dtx");
    AmrNbEncoder encoder;
    ASSERT_TRUE(encoder.Open(12200, dtx)) << encoder.ErrorText();
    int speech_frames = 0;
    for (const auto& frame : EncodeAll(encoder, silence)) {
      const int type = FrameType(frame);
      speech_frames += type == 7 ? 1 : 0;
      if (type != 7) {
        EXPECT_TRUE(type == 8 || type == 15) << type;
        EXPECT_LT(frame.size(), 8U);
      }
    }
    if (dtx) {
      EXPECT_LT(speech_frames, 10) << "after a short hangover only SID and NO_DATA frames";
    } else {
      EXPECT_EQ(speech_frames, 50);
    }
  }
}

TEST_F(AmrNbEncoderTest, EncodingWithoutAnOpenEncoderIsRefused) {
  const std::vector<std::int16_t> samples(AmrNbEncoder::kFrameSamples, 0);
  AmrNbEncoder encoder;
  EXPECT_EQ(encoder.Mode(), -1);
  EXPECT_THROW(encoder.EncodeFrame(samples.data()), std::logic_error);
  ASSERT_TRUE(encoder.Open(5900)) << encoder.ErrorText();
  AmrNbEncoder moved = std::move(encoder);
  EXPECT_EQ(moved.Mode(), 2);
  EXPECT_EQ(FrameType(moved.EncodeFrame(samples.data())), 2);
  EXPECT_THROW(encoder.EncodeFrame(samples.data()), std::logic_error);  // NOLINT(bugprone-use-after-move)
}

TEST_F(AmrNbEncoderTest, UnusableLibraryFailsTheOpenWithTheLoadersTextAndLaterOpensStillWork) {
  runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
  const fs::path saved_path = loader.LibraryPath();
  loader.UnloadLibraries({runtime::lkOpenCoreAmrNb});
  // A folder file takes precedence over the system's copy, so a broken one makes the binding fail.
  const fs::path library = engine_test::MakeFile(engine_test::TestFolder() / "libopencore-amrnb.so.0",
                                                 "this is not a shared library\n");
  loader.SetLibraryPath(library.parent_path());

  AmrNbEncoder encoder;
  EXPECT_FALSE(encoder.Open(12200));
  EXPECT_EQ(encoder.ErrorText(),
            "Load library " + library.string() + " error: " + test_files::LibraryOpenError(library));
  EXPECT_EQ(encoder.Mode(), -1);
  EXPECT_FALSE(loader.LibraryLoaded(runtime::lkOpenCoreAmrNb));
  EXPECT_TRUE(loader.LibrariesLoaded(runtime::EngineLibraries)) << "the media libraries stay bound";

  fs::remove(library);
  EXPECT_TRUE(encoder.Open(12200)) << encoder.ErrorText();
  EXPECT_TRUE(encoder.ErrorText().empty());
  const std::vector<std::int16_t> samples(AmrNbEncoder::kFrameSamples, 0);
  EXPECT_EQ(encoder.EncodeFrame(samples.data()).size(), 32U);
  loader.SetLibraryPath(saved_path);
}

TEST_F(AmrNbEncoderTest, WorkersOpeningAtOnceBindTheLibraryOnce) {
  runtime::TFFmpegLoader& loader = runtime::FFmpegLoader();
  loader.UnloadLibraries({runtime::lkOpenCoreAmrNb});
  const int loads_before = loader.ModuleLoadCount();
  runtime::BindMainThread();
  const std::vector<std::int16_t> sine = Sine(AmrNbEncoder::kSampleRate);
  constexpr int kWorkers = 4;
  std::vector<Frames> results(kWorkers);
  std::vector<std::string> errors(kWorkers);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int worker = 0; worker < kWorkers; ++worker) {
    workers.emplace_back([&, worker] {
      AmrNbEncoder encoder;
      if (encoder.Open(10200)) {
        results[static_cast<std::size_t>(worker)] = EncodeAll(encoder, sine);
      } else {
        errors[static_cast<std::size_t>(worker)] = encoder.ErrorText();
      }
      ++finished;
    });
  }
  // The binding runs on this thread, so the workers wait for it to serve their calls.
  const bool all_finished = engine_test::WaitServing([&] { return finished == kWorkers; });
  for (auto& worker : workers)
    worker.join();
  ASSERT_TRUE(all_finished);

  EXPECT_EQ(loader.ModuleLoadCount(), loads_before + 1);
  for (std::size_t worker = 0; worker < kWorkers; ++worker) {
    EXPECT_EQ(errors[worker], "");
    EXPECT_EQ(results[worker].size(), 50U);
    EXPECT_EQ(results[worker], results[0]) << "encoders share no state";
  }
}

}  // namespace
}  // namespace engine
