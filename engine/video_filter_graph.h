// The filter graph that a transcoded video stream passes when the task asks for a filter chain, and that the
// deinterlacer of the video path uses: buffer source -> [crop] -> [scale] -> the caller's chain -> buffer
// sink.
#pragma once

#include <string>
#include <string_view>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include "runtime/media_owners.h"

namespace engine {

struct VideoFilterSetup {
  // The decoded pictures.
  int InputWidth = 0;
  int InputHeight = 0;
  AVPixelFormat InputFormat = AV_PIX_FMT_NONE;
  AVRational InputTimeBase{0, 1};
  AVRational InputAspect{0, 1};  // sample aspect ratio; 0/1 when unknown
  int CropTop = 0;
  int CropBottom = 0;
  int CropLeft = 0;
  int CropRight = 0;
  // Added after the graph by the video path; the graph delivers the area inside them.
  int PadTop = 0;
  int PadBottom = 0;
  int PadLeft = 0;
  int PadRight = 0;
  // The encoder's picture, pads included.
  int OutputWidth = 0;
  int OutputHeight = 0;
  AVPixelFormat OutputFormat = AV_PIX_FMT_NONE;
  int ScalerFlags = 0;  // the scaler's flags (SWS_BICUBIC ...); 0 leaves the choice to the scaler
  std::string Chain;    // the caller's filter chain text; empty: none
};

// Runs on one thread at a time (the task's worker). Neither copied nor moved: its filters point into its
// graph.
class VideoFilterGraph {
 public:
  VideoFilterGraph() = default;
  VideoFilterGraph(const VideoFilterGraph&) = delete;
  VideoFilterGraph& operator=(const VideoFilterGraph&) = delete;
  ~VideoFilterGraph() = default;

  // Builds buffer -> [crop] -> [scale] -> chain -> sink, replacing any graph built before. The sink delivers
  // only setup.OutputFormat. False with ErrorText() naming the step that failed and the library's text.
  bool Build(const VideoFilterSetup& setup);
  // Hands a decoded picture (pts in the input time base) to the graph; the caller keeps its frame. A picture
  // whose size or format differs from the built ones is refused: the crop and scale were derived from them,
  // so the caller rebuilds the graph.
  bool Add(const AVFrame* frame);
  // Ends the input; the pictures the graph still holds become available to Fetch.
  bool AddEndOfStream();
  // 1: `out` holds the next filtered picture (pts in OutputTimeBase()); 0: none ready until more is added;
  // -1: end of stream; -2: error (ErrorText()). `out` is unreferenced first.
  int Fetch(AVFrame* out);

  // What the sink delivers: the area inside the pads, or what the caller's chain made of it.
  int OutputWidth() const { return output_width_; }
  int OutputHeight() const { return output_height_; }
  AVRational OutputTimeBase() const { return output_time_base_; }
  AVRational OutputAspect() const { return output_aspect_; }
  // The kinds of the graph's filters ("buffer", "crop", ...) in the graph's order, converters the library
  // inserted included.
  std::vector<std::string> FilterNames() const;

  const std::string& ErrorText() const { return error_text_; }
  bool Built() const { return source_ != nullptr; }

 private:
  bool Assemble(const VideoFilterSetup& setup);
  bool Fail(std::string_view step, int code);
  bool Fail(std::string text);
  bool CreateFilter(AVFilterContext*& context, const char* kind, const char* instance,
                    const std::string& args, std::string_view step);
  bool AppendFilter(AVFilterContext*& last, const char* kind, const char* instance, const std::string& args,
                    std::string_view step);
  bool AttachChain(AVFilterContext* last, const std::string& chain);
  void Clear();

  runtime::FilterGraphPtr graph_;
  AVFilterContext* source_ = nullptr;  // belongs to graph_
  AVFilterContext* sink_ = nullptr;    // belongs to graph_
  int input_width_ = 0;
  int input_height_ = 0;
  AVPixelFormat input_format_ = AV_PIX_FMT_NONE;
  int output_width_ = 0;
  int output_height_ = 0;
  AVRational output_time_base_{0, 1};
  AVRational output_aspect_{0, 1};
  bool end_of_stream_added_ = false;
  std::string error_text_;
};

}  // namespace engine
