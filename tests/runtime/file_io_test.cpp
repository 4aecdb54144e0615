// The file layer: name conversion, and real files read and written by the libraries through our contexts.
#include "runtime/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/media_owners.h"

namespace runtime {
namespace {

namespace fs = std::filesystem;

TEST(FileNameConversion, LibraryFileNameWrapsOnlyNamesThatAreNotUtf8) {
  struct Case {
    std::string name;
    bool wrapped;
  };
  const Case cases[] = {
      {"/videos/clip.mp4", false},
      {"C:\\Videos\\clip.mp4", false},  // a drive letter is no protocol
      {"C:/Videos/clip.mp4", false},
      {"data:x.mp4", false},
      {"a|b.avi", false},
      {"/videos/na\xc3\xafve clip \xe6\x97\xa5\xf0\x9f\x8e\xac.mkv", false},
      {"http://example.com/\xff.mp4", false},  // listed protocols are never wrapped, whatever their bytes
      {"udp://239.0.0.1:1234", false},
      {"unicode:utf8:/videos/\xff.mp4", false},  // already wrapped
      {"/videos/caf\xe9.mp4", true},             // Latin-1 byte
      {"\xff.mp4", true},
      {"/videos/\xc0\xaf.mp4", true},          // overlong '/'
      {"/videos/\xed\xa0\x80.mp4", true},      // UTF-16 surrogate
      {"/videos/\xf4\x90\x80\x80.mp4", true},  // beyond U+10FFFF
      {"/videos/clip\xe2\x82", true},          // cut off in the middle of a character
      {"HTTP://example.com/\xff.mp4", true},   // the list is case-sensitive
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string library_name = LibraryFileName(test.name);
    EXPECT_EQ(library_name, test.wrapped ? "unicode:utf8:" + test.name : test.name);
    if (test.wrapped) {
      EXPECT_EQ(FileNameFromLibrary(library_name), test.name);
    }
  }
}

TEST(FileNameConversion, NeverWrappedProtocolsAndReverseConversion) {
  struct Case {
    std::string name;
    bool never_wrapped;
  };
  const Case cases[] = {
      {"http://x", true},   {"unicode:utf8:x", true}, {"stream:x", true},  {"gopher:x", true},
      {"pipe:1", true},     {"rtp://h:1", true},      {"tcp://h:1", true}, {"udp:", true},
      {"https://x", false}, {"HTTP://x", false},      {"ttp://x", false},  {"p:x", false},
      {"http", false},      {":http", false},         {"", false},         {"data:x.mp4", false},
  };
  for (const Case& test : cases)
    EXPECT_EQ(IsNeverWrappedUrl(test.name), test.never_wrapped) << test.name;

  const std::pair<std::string, std::string> reverse[] = {
      {"unicode:utf8:a", "a"},
      {"unicode:utf8:/videos/\xff.mp4", "/videos/\xff.mp4"},
      {"unicode:utf8:unicode:utf8:a", "unicode:utf8:a"},  // one prefix only
      {"unicode:utf8:", "unicode:utf8:"},                 // 13 characters: too short
      {"Unicode:utf8:abc", "Unicode:utf8:abc"},
      {"unicode:UTF8:abc", "unicode:UTF8:abc"},
      {"/videos/clip.mp4", "/videos/clip.mp4"},
  };
  for (const auto& [library_name, file_name] : reverse)
    EXPECT_EQ(FileNameFromLibrary(library_name), file_name) << library_name;
}

// Changes the current folder for the lifetime of the object, so relative names can be tried.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(previous_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path previous_;
};

// An input read through a context of ours. The format context goes first: it must not outlive its pb.
struct OpenedInput {
  FileIoPtr io;
  InputFormatPtr format;
};

struct PacketCount {
  int packets = 0;
  int end = 0;  // the code that ended reading
};

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(EngineLibraries)) << FFmpegLoader().LastError();
    folder_ = fs::path(TARVELLO_TEST_BINARY_DIR) / "file_io" /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }

  static std::string Quoted(const fs::path& path) {
    std::string quoted = "'";
    for (char c : path.string())
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }

  static std::string Run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
      output += chunk;
    ::pclose(pipe);
    return output;
  }

  // One second of 64x48 video at 10 frames per second: ten packets.
  fs::path MakeClip(const std::string& name, const std::string& encoder = "mpeg4",
                    const std::string& limit = "duration=1") {
    const fs::path file = folder_ / name;
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10:" + limit +
                                " -c:v " + encoder + " " + Quoted(file);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return file;
  }

  static int OpenInput(const std::string& name, OpenedInput& input) {
    int error = 0;
    input.io = OpenFileIo(name, AVIO_FLAG_READ, &error);
    if (!input.io) return error;
    AVFormatContext* context = avformat().avformat_alloc_context();
    InstallFileLayer(context);
    context->pb = input.io.get();
    error = avformat().avformat_open_input(&context, name.c_str(), nullptr, nullptr);  // frees on failure
    if (error < 0) return error;
    input.format.reset(context);
    EXPECT_NE(context->flags & AVFMT_FLAG_CUSTOM_IO, 0);
    return avformat().avformat_find_stream_info(context, nullptr);
  }

  static PacketCount ReadAll(AVFormatContext* context) {
    PacketCount count;
    PacketPtr packet(avcodec().av_packet_alloc());
    while ((count.end = avformat().av_read_frame(context, packet.get())) >= 0) {
      ++count.packets;
      avcodec().av_packet_unref(packet.get());
    }
    return count;
  }

  static FormatContextPtr NewOutput(const char* format_name, const std::string& name) {
    AVFormatContext* context = nullptr;
    avformat().avformat_alloc_output_context2(&context, nullptr, format_name, name.c_str());
    if (context != nullptr) InstallFileLayer(context);
    return FormatContextPtr(context);
  }

  // Copies every packet of the input into the output, header to trailer; the first error, or 0.
  static int Remux(const fs::path& input_name, AVFormatContext* output) {
    OpenedInput input;
    int error = OpenInput(input_name.string(), input);
    if (error < 0) return error;
    const AVFormatContext* source = input.format.get();
    for (unsigned index = 0; index < source->nb_streams; ++index) {
      AVStream* stream = avformat().avformat_new_stream(output, nullptr);
      if (stream == nullptr) return AVERROR(ENOMEM);
      avcodec().avcodec_parameters_copy(stream->codecpar, source->streams[index]->codecpar);
      stream->codecpar->codec_tag = 0;
      stream->time_base = source->streams[index]->time_base;
    }
    if ((error = avformat().avformat_write_header(output, nullptr)) < 0) return error;
    PacketPtr packet(avcodec().av_packet_alloc());
    while (avformat().av_read_frame(input.format.get(), packet.get()) >= 0) {
      const int stream = packet->stream_index;
      avcodec().av_packet_rescale_ts(packet.get(), source->streams[stream]->time_base,
                                     output->streams[stream]->time_base);
      error = avformat().av_interleaved_write_frame(output, packet.get());
      avcodec().av_packet_unref(packet.get());
      if (error < 0) return error;
    }
    return avformat().av_write_trailer(output);
  }

  fs::path folder_;
};

TEST_F(FileIoTest, AwkwardNamesOpenAsFiles) {
  const fs::path clip = MakeClip("clip.mp4");
  // Relative names, as the library would misread them: a data: URL, a concat list, an option.
  const std::string names[] = {
      "data:x.mp4",       "a|b.mp4", "-lead.mp4", "na\xc3\xafve clip.mp4", "subfile,,0,100,:x.mp4",
      "not utf8 \xff.mp4"};
  const CurrentFolder current(folder_);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    fs::copy_file(clip, name);
    OpenedInput input;
    ASSERT_GE(OpenInput(LibraryFileName(name), input), 0);
    ASSERT_EQ(input.format->nb_streams, 1u);
    EXPECT_EQ(input.format->streams[0]->codecpar->codec_id, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(input.format->streams[0]->codecpar->width, 64);
    const PacketCount count = ReadAll(input.format.get());
    EXPECT_EQ(count.packets, 10);
    EXPECT_EQ(count.end, AVERROR_EOF);
  }
}

TEST_F(FileIoTest, MainInputOpenedByTheLibraryIsStillAFile) {
  fs::rename(MakeClip("clip.mp4"), folder_ / "data:x.mp4");
  const CurrentFolder current(folder_);

  AVFormatContext* plain = nullptr;  // without the file layer the name is a data: URL
  EXPECT_LT(avformat().avformat_open_input(&plain, "data:x.mp4", nullptr, nullptr), 0);

  // No pb: avformat_open_input asks io_open for it and avformat_close_input frees it with avio_close, which
  // must get a context the library made (the sanitizers would catch anything else).
  for (const std::string name : {"data:x.mp4", "unicode:utf8:data:x.mp4"}) {
    SCOPED_TRACE(name);
    AVFormatContext* context = avformat().avformat_alloc_context();
    InstallFileLayer(context);
    ASSERT_EQ(avformat().avformat_open_input(&context, name.c_str(), nullptr, nullptr), 0);
    const InputFormatPtr input(context);
    EXPECT_EQ(context->flags & AVFMT_FLAG_CUSTOM_IO, 0);
    ASSERT_GE(avformat().avformat_find_stream_info(context, nullptr), 0);
    EXPECT_EQ(ReadAll(context).packets, 10);
  }
}

TEST_F(FileIoTest, RemuxedOutputIsValid) {
  const fs::path clip = MakeClip("clip.mp4");
  const std::string name = "out|put:1.mkv";
  const CurrentFolder current(folder_);
  int error = 0;
  FileIoPtr io = OpenFileIo(name, AVIO_FLAG_WRITE, &error);
  ASSERT_TRUE(io) << error;
  EXPECT_EQ(io->seekable, AVIO_SEEKABLE_NORMAL);
  FormatContextPtr output = NewOutput("matroska", name);
  ASSERT_TRUE(output);
  output->pb = io.get();
  EXPECT_EQ(Remux(clip, output.get()), 0);
  output.reset();
  io.reset();

  EXPECT_EQ(Run("ffprobe -v error -count_packets -show_entries stream=codec_name,width,nb_read_packets "
                "-of csv=p=0 " +
                Quoted(folder_ / name)),
            "mpeg4,64,10\n");
}

TEST_F(FileIoTest, WriteErrorsReachTheMuxerAndTheLog) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const fs::path clip = MakeClip("clip.mp4");
  std::mutex mutex;
  std::vector<std::string> errors;
  Logger().SetTriggerEventInMainThread(false);
  Logger().SetOnLog([&](const LogSource*, std::uint32_t, TLogLevel level, const std::string& message) {
    const std::lock_guard lock(mutex);
    if (level == llError) errors.push_back(message);
  });

  int error = 0;
  FileIoPtr io = OpenFileIo("/dev/full", AVIO_FLAG_WRITE, &error);
  ASSERT_TRUE(io) << error;
  EXPECT_EQ(io->seekable, 0);  // a device: the muxer must not plan on rewriting its header
  FormatContextPtr output = NewOutput("matroska", "/dev/full");
  output->pb = io.get();
  EXPECT_EQ(Remux(clip, output.get()), AVERROR(ENOSPC));
  output.reset();
  io.reset();

  Logger().SetOnLog(nullptr);
  Logger().SetTriggerEventInMainThread(true);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("\"/dev/full\""), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("No space left on device"), std::string::npos) << errors[0];
}

TEST_F(FileIoTest, ImageSequenceGoesThroughTheFileLayer) {
  const fs::path frames = MakeClip("frames.avi", "bmp", "duration=0.3");
  fs::create_directory(folder_ / "seq:1");
  const CurrentFolder current(folder_);
  const std::string pattern = "seq:1/frame%03d.bmp";  // the library alone reads "seq" as a protocol

  FormatContextPtr output = NewOutput("image2", pattern);
  ASSERT_TRUE(output);
  EXPECT_EQ(Remux(frames, output.get()), 0);
  output.reset();
  for (const char* name : {"frame001.bmp", "frame002.bmp", "frame003.bmp"}) {
    EXPECT_EQ(Run("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                  Quoted(folder_ / "seq:1" / name)),
              "bmp,64,48\n")
        << name;
  }
  EXPECT_FALSE(fs::exists(folder_ / "seq:1/frame004.bmp"));

  // Read back by the image2 demuxer, which opens each picture through io_open: the whole sequence (its range
  // is found with the library's own file check, so by absolute name), and one picture by a name only our
  // opener understands.
  struct Case {
    std::string name;
    const char* pattern_type;
    int packets;
  };
  const Case cases[] = {{(folder_ / pattern).string(), "sequence", 3},
                        {"unicode:utf8:seq:1/frame002.bmp", "none", 1}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Dictionary options;
    avutil().av_dict_set(options.Address(), "pattern_type", test.pattern_type, 0);
    AVFormatContext* context = avformat().avformat_alloc_context();
    InstallFileLayer(context);
    ASSERT_EQ(avformat().avformat_open_input(&context, test.name.c_str(),
                                             avformat().av_find_input_format("image2"), options.Address()),
              0);
    const InputFormatPtr input(context);
    ASSERT_GE(avformat().avformat_find_stream_info(context, nullptr), 0);
    EXPECT_EQ(context->streams[0]->codecpar->codec_id, AV_CODEC_ID_BMP);
    EXPECT_EQ(context->streams[0]->codecpar->width, 64);
    const PacketCount count = ReadAll(context);
    EXPECT_EQ(count.packets, test.packets);
    EXPECT_EQ(count.end, AVERROR_EOF);
  }
}

TEST_F(FileIoTest, NeverWrappedNamesGoToTheLibrary) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], "piped", 5), 5);
  ::close(ends[1]);

  FormatContextPtr context(avformat().avformat_alloc_context());
  InstallFileLayer(context.get());
  const std::string name = "pipe:" + std::to_string(ends[0]);
  context->url =
      avutil().av_strdup(name.c_str());  // the library's opener compares with it, as on any opened context
  AVIOContext* io = nullptr;
  ASSERT_EQ(context->io_open(context.get(), &io, name.c_str(), AVIO_FLAG_READ, nullptr), 0);
  unsigned char text[8] = {};
  EXPECT_EQ(avformat().avio_read(io, text, sizeof text), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 5), "piped");
  EXPECT_EQ(context->io_close2(context.get(), io), 0);  // the library's own close
  ::close(ends[0]);
}

TEST_F(FileIoTest, ReadsSeeksAndSizesLikeAFile) {
  std::vector<unsigned char> bytes(200'000);  // several buffers' worth
  for (std::size_t index = 0; index < bytes.size(); ++index)
    bytes[index] = static_cast<unsigned char>(index * 7 + index / 251);
  const fs::path file = folder_ / "bytes:1.bin";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  int error = 0;
  const FileIoPtr io = OpenFileIo("unicode:utf8:" + file.string(), AVIO_FLAG_READ, &error);
  ASSERT_TRUE(io) << error;
  EXPECT_EQ(io->seekable, AVIO_SEEKABLE_NORMAL);
  EXPECT_EQ(avformat().avio_size(io.get()), static_cast<std::int64_t>(bytes.size()));

  std::vector<unsigned char> read(bytes.size() + 100);
  EXPECT_EQ(avformat().avio_read(io.get(), read.data(), static_cast<int>(read.size())),
            static_cast<int>(bytes.size()));
  read.resize(bytes.size());
  EXPECT_TRUE(read == bytes);
  unsigned char more[16];
  EXPECT_EQ(avformat().avio_read(io.get(), more, sizeof more), AVERROR_EOF);

  EXPECT_EQ(avformat().avio_seek(io.get(), 150'000, SEEK_SET), 150'000);
  ASSERT_EQ(avformat().avio_read(io.get(), more, sizeof more), static_cast<int>(sizeof more));
  EXPECT_TRUE(std::equal(more, more + sizeof more, bytes.begin() + 150'000));
}

TEST_F(FileIoTest, WritingCreatesOrTruncates) {
  for (const int flags : {AVIO_FLAG_WRITE, AVIO_FLAG_READ_WRITE}) {
    SCOPED_TRACE(flags);
    const fs::path existing = folder_ / "existing.txt";
    std::ofstream(existing) << "an older and much longer content";
    const fs::path created = folder_ / ("created " + std::to_string(flags) + ".txt");
    for (const fs::path& file : {existing, created}) {
      int error = 0;
      FileIoPtr io = OpenFileIo(file.string(), flags, &error);
      ASSERT_TRUE(io) << error;
      const std::string text = "new";
      avformat().avio_write(io.get(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
      io.reset();
      std::ostringstream content;
      content << std::ifstream(file).rdbuf();
      EXPECT_EQ(content.str(), text) << file;
    }
  }
}

TEST_F(FileIoTest, OpenFailuresGiveTheSystemError) {
  const fs::path missing_folder = folder_ / "missing";
  struct Case {
    fs::path name;
    int flags;
    int error;
  };
  const Case cases[] = {
      {folder_ / "missing.mp4", AVIO_FLAG_READ, AVERROR(ENOENT)},
      {folder_, AVIO_FLAG_READ, AVERROR(EISDIR)},
      {folder_, AVIO_FLAG_WRITE, AVERROR(EISDIR)},
      {missing_folder / "out.mkv", AVIO_FLAG_WRITE, AVERROR(ENOENT)},
      {"unicode:utf8:" + (folder_ / "missing \xff.mp4").string(), AVIO_FLAG_READ, AVERROR(ENOENT)},
  };
  for (const Case& test : cases) {
    int error = 0;
    EXPECT_FALSE(OpenFileIo(test.name.string(), test.flags, &error)) << test.name;
    EXPECT_EQ(error, test.error) << test.name;
  }
  EXPECT_FALSE(fs::exists(missing_folder));
}

}  // namespace
}  // namespace runtime
