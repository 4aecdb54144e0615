#include "engine/video_filter_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "runtime/library_loader.h"
#include "runtime/media_owners.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr AVRational kTimeBase{1, 25};
// A bright rectangle on a dark, uneven background: where it lands tells how the picture was cropped, scaled
// or mirrored, and the background's values never reach the rectangle's.
constexpr int kBoxLeft = 160;
constexpr int kBoxTop = 120;
constexpr int kBoxWidth = 80;
constexpr int kBoxHeight = 60;
constexpr int kBright = 235;
constexpr int kDarkest = 16;
constexpr int kDarkBelow = 90;

std::uint8_t LumaAt(int x, int y) {
  if (x >= kBoxLeft && x < kBoxLeft + kBoxWidth && y >= kBoxTop && y < kBoxTop + kBoxHeight) return kBright;
  return static_cast<std::uint8_t>(kDarkest + (x * 7 + y * 3) % 64);
}

runtime::FramePtr MakePicture(std::int64_t pts, int width = kWidth, int height = kHeight) {
  runtime::FramePtr frame(runtime::avutil().av_frame_alloc());
  frame->width = width;
  frame->height = height;
  frame->format = AV_PIX_FMT_YUV420P;
  frame->pts = pts;
  if (runtime::avutil().av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      frame->data[0][y * frame->linesize[0] + x] = LumaAt(x, y);
  for (int y = 0; y < height / 2; ++y) {
    for (int x = 0; x < width / 2; ++x) {
      frame->data[1][y * frame->linesize[1] + x] = static_cast<std::uint8_t>(64 + (x * 5 + y) % 128);
      frame->data[2][y * frame->linesize[2] + x] = static_cast<std::uint8_t>(64 + (x + y * 5) % 128);
    }
  }
  return frame;
}

std::uint8_t Sample(const AVFrame& frame, int plane, int x, int y) {
  return frame.data[plane][y * frame.linesize[plane] + x];
}

engine::VideoFilterSetup PlainSetup() {
  engine::VideoFilterSetup setup;
  setup.InputWidth = kWidth;
  setup.InputHeight = kHeight;
  setup.InputFormat = AV_PIX_FMT_YUV420P;
  setup.InputTimeBase = kTimeBase;
  setup.InputAspect = AVRational{1, 1};
  setup.OutputWidth = kWidth;
  setup.OutputHeight = kHeight;
  setup.OutputFormat = AV_PIX_FMT_YUV420P;
  setup.ScalerFlags = SWS_BICUBIC;
  return setup;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Adds one picture, ends the stream and returns the single picture that comes out.
runtime::FramePtr FilterOne(engine::VideoFilterGraph& graph, const AVFrame& picture) {
  runtime::FramePtr out(runtime::avutil().av_frame_alloc());
  EXPECT_TRUE(graph.Add(&picture)) << graph.ErrorText();
  EXPECT_TRUE(graph.AddEndOfStream()) << graph.ErrorText();
  EXPECT_EQ(graph.Fetch(out.get()), 1) << graph.ErrorText();
  runtime::FramePtr after(runtime::avutil().av_frame_alloc());
  EXPECT_EQ(graph.Fetch(after.get()), -1);
  return out;
}

class VideoFilterGraphTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(runtime::FFmpegLoader().LoadLibraries(runtime::EngineLibraries)); }
};

TEST_F(VideoFilterGraphTest, WithoutCropScaleOrChainPicturesPassUnchanged) {
  engine::VideoFilterGraph graph;
  ASSERT_TRUE(graph.Build(PlainSetup())) << graph.ErrorText();
  EXPECT_EQ(graph.FilterNames(), (std::vector<std::string>{"buffer", "buffersink"}));
  EXPECT_EQ(graph.OutputWidth(), kWidth);
  EXPECT_EQ(graph.OutputHeight(), kHeight);
  EXPECT_EQ(graph.OutputTimeBase().num, kTimeBase.num);
  EXPECT_EQ(graph.OutputTimeBase().den, kTimeBase.den);

  runtime::FramePtr out(runtime::avutil().av_frame_alloc());
  for (std::int64_t pts = 0; pts < 3; ++pts) {
    runtime::FramePtr in = MakePicture(pts * 7);
    ASSERT_TRUE(in);
    ASSERT_TRUE(graph.Add(in.get())) << graph.ErrorText();
    ASSERT_EQ(graph.Fetch(out.get()), 1) << graph.ErrorText();
    EXPECT_EQ(out->pts, pts * 7);
    ASSERT_EQ(out->width, kWidth);
    ASSERT_EQ(out->height, kHeight);
    ASSERT_EQ(out->format, AV_PIX_FMT_YUV420P);
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? kHeight : kHeight / 2;
      const int columns = plane == 0 ? kWidth : kWidth / 2;
      for (int y = 0; y < rows; ++y)
        ASSERT_TRUE(std::equal(in->data[plane] + y * in->linesize[plane],
                               in->data[plane] + y * in->linesize[plane] + columns,
                               out->data[plane] + y * out->linesize[plane]))
            << "plane " << plane << " row " << y;
    }
    EXPECT_EQ(graph.Fetch(out.get()), 0);
  }
  ASSERT_TRUE(graph.AddEndOfStream());
  EXPECT_EQ(graph.Fetch(out.get()), -1);
}

// The graph crops the input's bands and scales what is left to the area inside the pads, whatever the output
// size: the rectangle lands where the whole cropped picture, scaled, puts it.
TEST_F(VideoFilterGraphTest, CropsTheInputAndScalesToTheAreaInsideThePads) {
  struct Case {
    const char* Name;
    int Top, Bottom, Left, Right;
    int Pad;  // on every side
    int OutputWidth, OutputHeight;
    bool Crop, Scale;
    int DeliveredWidth, DeliveredHeight;
  };
  const Case cases[] = {
      {"crop only", 8, 8, 16, 16, 0, 288, 224, true, false, 288, 224},
      {"crop, pads around the cropped size", 8, 8, 16, 16, 8, 304, 240, true, false, 288, 224},
      {"pads around the input size", 0, 0, 0, 0, 8, 336, 256, false, false, 320, 240},
      {"larger output", 0, 0, 0, 0, 0, 640, 480, false, true, 640, 480},
      {"larger output with pads", 0, 0, 0, 0, 8, 640, 480, false, true, 624, 464},
      {"crop and scale down", 8, 8, 16, 16, 8, 176, 144, true, true, 160, 128},
      {"crop and scale up", 8, 8, 16, 16, 0, 640, 480, true, true, 640, 480},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    engine::VideoFilterSetup setup = PlainSetup();
    setup.CropTop = c.Top;
    setup.CropBottom = c.Bottom;
    setup.CropLeft = c.Left;
    setup.CropRight = c.Right;
    setup.PadTop = setup.PadBottom = setup.PadLeft = setup.PadRight = c.Pad;
    setup.OutputWidth = c.OutputWidth;
    setup.OutputHeight = c.OutputHeight;
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    const std::vector<std::string> names = graph.FilterNames();
    EXPECT_EQ(Contains(names, "crop"), c.Crop);
    EXPECT_EQ(std::count(names.begin(), names.end(), "scale"), c.Scale ? 1 : 0);
    EXPECT_EQ(graph.OutputWidth(), c.DeliveredWidth);
    EXPECT_EQ(graph.OutputHeight(), c.DeliveredHeight);

    runtime::FramePtr in = MakePicture(5);
    ASSERT_TRUE(in);
    runtime::FramePtr out = FilterOne(graph, *in);
    ASSERT_EQ(out->width, c.DeliveredWidth);
    ASSERT_EQ(out->height, c.DeliveredHeight);
    EXPECT_EQ(out->pts, 5);

    const int cropped_width = kWidth - c.Left - c.Right;
    const int cropped_height = kHeight - c.Top - c.Bottom;
    const auto to_output_x = [&](int x) { return (x - c.Left) * c.DeliveredWidth / cropped_width; };
    const auto to_output_y = [&](int y) { return (y - c.Top) * c.DeliveredHeight / cropped_height; };
    EXPECT_GT(Sample(*out, 0, to_output_x(kBoxLeft + kBoxWidth / 2), to_output_y(kBoxTop + kBoxHeight / 2)),
              200);
    EXPECT_LT(Sample(*out, 0, to_output_x(c.Left + 4), to_output_y(c.Top + 4)), kDarkBelow);
    EXPECT_LT(Sample(*out, 0, to_output_x(kWidth - c.Right - 5), to_output_y(kHeight - c.Bottom - 5)),
              kDarkBelow);
    if (!c.Scale) {
      for (int y = 0; y < c.DeliveredHeight; ++y)
        for (int x = 0; x < c.DeliveredWidth; ++x)
          ASSERT_EQ(Sample(*out, 0, x, y), LumaAt(x + c.Left, y + c.Top)) << x << "," << y;
    }
    // The display shape is kept: the scaler's change of shape goes into the sample aspect ratio.
    const AVRational aspect = graph.OutputAspect();
    EXPECT_EQ(std::int64_t{aspect.num} * c.DeliveredWidth * cropped_height,
              std::int64_t{aspect.den} * c.DeliveredHeight * cropped_width)
        << aspect.num << "/" << aspect.den;
  }
}

TEST_F(VideoFilterGraphTest, TheCallersChainRunsAfterCropAndScale) {
  {
    engine::VideoFilterSetup setup = PlainSetup();
    setup.Chain = "hflip";
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    EXPECT_TRUE(Contains(graph.FilterNames(), "hflip"));
    runtime::FramePtr in = MakePicture(0);
    runtime::FramePtr out = FilterOne(graph, *in);
    ASSERT_EQ(out->width, kWidth);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        ASSERT_EQ(Sample(*out, 0, x, y), LumaAt(kWidth - 1 - x, y)) << x << "," << y;
    for (int x = 0; x < kWidth / 2; ++x)
      ASSERT_EQ(Sample(*out, 1, x, 7), Sample(*in, 1, kWidth / 2 - 1 - x, 7)) << x;
  }
  {
    // A chain that changes the size: the caller takes the size the sink delivers, pads or not.
    engine::VideoFilterSetup setup = PlainSetup();
    setup.CropTop = setup.CropBottom = 8;
    setup.PadLeft = setup.PadRight = 16;
    setup.OutputWidth = 352;
    setup.OutputHeight = 224;
    setup.Chain = "scale=160:120";
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    EXPECT_EQ(graph.OutputWidth(), 160);
    EXPECT_EQ(graph.OutputHeight(), 120);
    runtime::FramePtr in = MakePicture(0);
    runtime::FramePtr out = FilterOne(graph, *in);
    EXPECT_EQ(out->width, 160);
    EXPECT_EQ(out->height, 120);
  }
}

TEST_F(VideoFilterGraphTest, PicturesLeaveInTheEncodersPixelFormat) {
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_RGB24};
  for (AVPixelFormat format : formats) {
    SCOPED_TRACE(runtime::avutil().av_get_pix_fmt_name(format));
    engine::VideoFilterSetup setup = PlainSetup();
    setup.OutputFormat = format;
    setup.OutputWidth = 160;
    setup.OutputHeight = 120;
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    // The graph's own scaler converts as it scales: no second pass over the picture.
    const std::vector<std::string> names = graph.FilterNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "scale"), 1);
    runtime::FramePtr in = MakePicture(3);
    runtime::FramePtr out = FilterOne(graph, *in);
    EXPECT_EQ(out->format, format);
    EXPECT_EQ(out->width, 160);
    EXPECT_EQ(out->height, 120);
    EXPECT_EQ(out->pts, 3);
  }
  {
    // No size change: the conversion alone, luma as it was.
    engine::VideoFilterSetup setup = PlainSetup();
    setup.OutputFormat = AV_PIX_FMT_YUV422P;
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    EXPECT_TRUE(Contains(graph.FilterNames(), "scale"));
    runtime::FramePtr in = MakePicture(0);
    runtime::FramePtr out = FilterOne(graph, *in);
    ASSERT_EQ(out->format, AV_PIX_FMT_YUV422P);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        ASSERT_NEAR(Sample(*out, 0, x, y), LumaAt(x, y), 1) << x << "," << y;
    // Full-height chroma: each source row serves two.
    EXPECT_NEAR(Sample(*out, 1, 10, 20), Sample(*in, 1, 10, 10), 2);
  }
}

// The task's scaler flags reach the graph's own scaler and any scaler of the caller's chain:
// nearest-neighbour enlarging makes no value between the background and the rectangle, interpolation does.
TEST_F(VideoFilterGraphTest, ScalerFlagsReachEveryScaler) {
  struct Case {
    const char* Name;
    int Flags;
    const char* Chain;
    bool Interpolated;
  };
  const Case cases[] = {
      {"own scaler, nearest", SWS_POINT, "", false},
      {"own scaler, bicubic", SWS_BICUBIC, "", true},
      {"chain's scaler, nearest", SWS_POINT, "scale=640:480", false},
      {"chain's scaler, bicubic", SWS_BICUBIC, "scale=640:480", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    engine::VideoFilterSetup setup = PlainSetup();
    setup.ScalerFlags = c.Flags;
    setup.Chain = c.Chain;
    if (setup.Chain.empty()) {
      setup.OutputWidth = 640;
      setup.OutputHeight = 480;
    }
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
    runtime::FramePtr in = MakePicture(0);
    runtime::FramePtr out = FilterOne(graph, *in);
    ASSERT_EQ(out->width, 640);
    int between = 0;
    for (int y = 0; y < out->height; ++y)
      for (int x = 0; x < out->width; ++x) {
        const int value = Sample(*out, 0, x, y);
        if (value > kDarkBelow && value < 220) ++between;
      }
    EXPECT_EQ(between > 0, c.Interpolated) << between;
  }
}

TEST_F(VideoFilterGraphTest, FailuresNameTheStepAndLeaveNoGraph) {
  struct Case {
    const char* Name;
    void (*Change)(engine::VideoFilterSetup&);
    const char* Expected;
  };
  const Case cases[] = {
      {"unknown filter", [](engine::VideoFilterSetup& s) { s.Chain = "nosuchfilter"; },
       "Parsing the filter chain 'nosuchfilter': Invalid argument"},
      {"bad filter option", [](engine::VideoFilterSetup& s) { s.Chain = "hflip=nosuchoption=1"; },
       "Parsing the filter chain 'hflip=nosuchoption=1'"},
      {"unconnected output", [](engine::VideoFilterSetup& s) { s.Chain = "split"; },
       "The filter chain 'split' leaves output 1 of Parsed_split_0 unconnected"},
      {"crop bands cover the picture", [](engine::VideoFilterSetup& s) { s.CropLeft = s.CropRight = 160; },
       "The crop bands leave nothing"},
      {"pads cover the output", [](engine::VideoFilterSetup& s) { s.PadTop = s.PadBottom = 120; },
       "The pad bands leave nothing"},
      {"negative band", [](engine::VideoFilterSetup& s) { s.CropTop = -2; }, "must not be negative"},
      {"no time base",
       [](engine::VideoFilterSetup& s) {
         s.InputTimeBase = AVRational{0, 0};
       },
       "time base 0/0 is not valid"},
      {"no output format", [](engine::VideoFilterSetup& s) { s.OutputFormat = AV_PIX_FMT_NONE; },
       "output picture format -1 is not known"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    engine::VideoFilterSetup setup = PlainSetup();
    c.Change(setup);
    engine::VideoFilterGraph graph;
    ASSERT_TRUE(graph.Build(PlainSetup())) << graph.ErrorText();
    EXPECT_FALSE(graph.Build(setup));
    EXPECT_NE(graph.ErrorText().find(c.Expected), std::string::npos) << graph.ErrorText();
    EXPECT_FALSE(graph.Built());
    EXPECT_TRUE(graph.FilterNames().empty());
    runtime::FramePtr in = MakePicture(0);
    EXPECT_FALSE(graph.Add(in.get()));
    runtime::FramePtr out(runtime::avutil().av_frame_alloc());
    EXPECT_EQ(graph.Fetch(out.get()), -2);
    // A failed build does not spoil the next one.
    ASSERT_TRUE(graph.Build(PlainSetup())) << graph.ErrorText();
    EXPECT_TRUE(graph.ErrorText().empty());
  }
}

TEST_F(VideoFilterGraphTest, RefusesPicturesThatDoNotFitTheBuiltGraph) {
  engine::VideoFilterGraph graph;
  ASSERT_TRUE(graph.Build(PlainSetup())) << graph.ErrorText();
  runtime::FramePtr smaller = MakePicture(0, 160, 120);
  EXPECT_FALSE(graph.Add(smaller.get()));
  EXPECT_NE(graph.ErrorText().find("changed from 320x240 yuv420p to 160x120 yuv420p"), std::string::npos)
      << graph.ErrorText();

  runtime::FramePtr fitting = MakePicture(0);
  ASSERT_TRUE(graph.AddEndOfStream());
  EXPECT_TRUE(graph.AddEndOfStream());
  EXPECT_FALSE(graph.Add(fitting.get()));
  EXPECT_NE(graph.ErrorText().find("after the end of the stream"), std::string::npos) << graph.ErrorText();
}

TEST_F(VideoFilterGraphTest, DeinterlacerDeliversEveryPictureAndFlushesAtTheEnd) {
  engine::VideoFilterSetup setup = PlainSetup();
  setup.Chain = "yadif=mode=send_frame:parity=auto:deint=all";
  engine::VideoFilterGraph graph;
  ASSERT_TRUE(graph.Build(setup)) << graph.ErrorText();
  EXPECT_TRUE(Contains(graph.FilterNames(), "yadif"));
  EXPECT_EQ(graph.OutputWidth(), kWidth);
  EXPECT_EQ(graph.OutputHeight(), kHeight);
  // The deinterlacer works in half the input's time base (room for field rates); times keep their value.
  const AVRational time_base = graph.OutputTimeBase();
  ASSERT_GT(time_base.num, 0);

  std::vector<std::int64_t> delivered;
  runtime::FramePtr out(runtime::avutil().av_frame_alloc());
  const auto take_ready = [&] {
    int result = 0;
    while ((result = graph.Fetch(out.get())) == 1) {
      delivered.push_back(out->pts);
      EXPECT_EQ(out->width, kWidth);
      EXPECT_EQ(out->format, AV_PIX_FMT_YUV420P);
    }
    return result;
  };
  for (std::int64_t pts = 0; pts < 10; ++pts) {
    runtime::FramePtr in = MakePicture(pts);
    ASSERT_TRUE(graph.Add(in.get())) << graph.ErrorText();
    ASSERT_EQ(take_ready(), 0) << graph.ErrorText();
  }
  // The deinterlacer looks one picture ahead, so the last one waits for the end of the stream.
  EXPECT_EQ(delivered.size(), 9U);
  ASSERT_TRUE(graph.AddEndOfStream()) << graph.ErrorText();
  EXPECT_EQ(take_ready(), -1);
  EXPECT_EQ(graph.Fetch(out.get()), -1);
  ASSERT_EQ(delivered.size(), 10U);
  for (std::size_t i = 0; i < delivered.size(); ++i)
    EXPECT_EQ(delivered[i] * time_base.num * kTimeBase.den,
              static_cast<std::int64_t>(i) * kTimeBase.num * time_base.den)
        << "picture " << i;
}

}  // namespace
