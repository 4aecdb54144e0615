#include "engine/video_filter_graph.h"

#include <cerrno>
#include <cstdint>

#include "runtime/library_loader.h"
#include "runtime/open_error_text.h"
#include "runtime/text_format.h"
#include "runtime/trim_blanks.h"

namespace engine {

namespace {

bool KnownPixelFormat(AVPixelFormat format) {
  return format != AV_PIX_FMT_NONE && runtime::avutil().av_pix_fmt_desc_get(format) != nullptr;
}

std::string PixelFormatText(AVPixelFormat format) {
  const char* name = runtime::avutil().av_get_pix_fmt_name(format);
  return name != nullptr ? name : std::to_string(static_cast<int>(format));
}

// The setup's sizes, checked before any filter exists so that a nonsensical request gets a message that
// names it rather than the library's "Invalid argument" from somewhere inside the graph.
std::string SetupFault(const VideoFilterSetup& setup) {
  if (setup.InputWidth <= 0 || setup.InputHeight <= 0)
    return runtime::TextFormat("The picture size %dx%d is not valid", setup.InputWidth, setup.InputHeight);
  if (!KnownPixelFormat(setup.InputFormat))
    return runtime::TextFormat("The picture format %d is not known", static_cast<int>(setup.InputFormat));
  if (setup.InputTimeBase.num <= 0 || setup.InputTimeBase.den <= 0)
    return runtime::TextFormat("The picture time base %d/%d is not valid", setup.InputTimeBase.num,
                               setup.InputTimeBase.den);
  if (setup.CropTop < 0 || setup.CropBottom < 0 || setup.CropLeft < 0 || setup.CropRight < 0)
    return "The crop bands must not be negative";
  if (setup.PadTop < 0 || setup.PadBottom < 0 || setup.PadLeft < 0 || setup.PadRight < 0)
    return "The pad bands must not be negative";
  const long long cropped_width = 0LL + setup.InputWidth - setup.CropLeft - setup.CropRight;
  const long long cropped_height = 0LL + setup.InputHeight - setup.CropTop - setup.CropBottom;
  if (cropped_width <= 0 || cropped_height <= 0)
    return runtime::TextFormat("The crop bands leave nothing of the %dx%d picture", setup.InputWidth,
                               setup.InputHeight);
  const long long inner_width = 0LL + setup.OutputWidth - setup.PadLeft - setup.PadRight;
  const long long inner_height = 0LL + setup.OutputHeight - setup.PadTop - setup.PadBottom;
  if (inner_width <= 0 || inner_height <= 0)
    return runtime::TextFormat("The pad bands leave nothing of the %dx%d output picture", setup.OutputWidth,
                               setup.OutputHeight);
  if (!KnownPixelFormat(setup.OutputFormat))
    return runtime::TextFormat("The output picture format %d is not known",
                               static_cast<int>(setup.OutputFormat));
  return {};
}

}  // namespace

bool VideoFilterGraph::Build(const VideoFilterSetup& setup) {
  Clear();
  error_text_.clear();
  if (std::string fault = SetupFault(setup); !fault.empty()) return Fail(std::move(fault));

  graph_.reset(runtime::avfilter().avfilter_graph_alloc());
  if (!graph_) return Fail("Allocating the filter graph", AVERROR(ENOMEM));
  if (!Assemble(setup)) {
    Clear();
    return false;
  }
  input_width_ = setup.InputWidth;
  input_height_ = setup.InputHeight;
  input_format_ = setup.InputFormat;
  output_width_ = runtime::avfilter().av_buffersink_get_w(sink_);
  output_height_ = runtime::avfilter().av_buffersink_get_h(sink_);
  output_time_base_ = runtime::avfilter().av_buffersink_get_time_base(sink_);
  output_aspect_ = runtime::avfilter().av_buffersink_get_sample_aspect_ratio(sink_);
  return true;
}

bool VideoFilterGraph::Assemble(const VideoFilterSetup& setup) {
  const auto& filters = runtime::avfilter();
  // The scalers that the graph inserts itself (format conversions, a "scale" in the caller's chain) take
  // their options from here, so every scaler of the graph uses the task's flags.
  if (setup.ScalerFlags > 0) {
    const std::string scaler_options = runtime::TextFormat("flags=%d", setup.ScalerFlags);
    const int code = runtime::avutil().av_opt_set(graph_.get(), "scale_sws_opts", scaler_options.c_str(), 0);
    if (code < 0)
      return Fail(runtime::DescribeLibraryError("Setting the scaler options", scaler_options, code));
  }

  // An unknown or nonsensical aspect ratio is passed on as unknown rather than failing the build.
  const AVRational aspect =
      setup.InputAspect.num > 0 && setup.InputAspect.den > 0 ? setup.InputAspect : AVRational{0, 1};
  const std::string source_args =
      runtime::TextFormat("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", setup.InputWidth,
                          setup.InputHeight, static_cast<int>(setup.InputFormat), setup.InputTimeBase.num,
                          setup.InputTimeBase.den, aspect.num, aspect.den);
  if (!CreateFilter(source_, "buffer", "source", source_args, "Creating the picture source")) return false;
  if (!CreateFilter(sink_, "buffersink", "sink", {}, "Creating the picture sink")) return false;
  // The sink accepts the encoder's format alone; the graph converts to it where the negotiation puts the
  // converter (often folded into the scaler below, so a picture is not converted twice).
  const AVPixelFormat sink_formats[] = {setup.OutputFormat};
  int code =
      runtime::avutil().av_opt_set_bin(sink_, "pix_fmts", reinterpret_cast<const std::uint8_t*>(sink_formats),
                                       sizeof sink_formats, AV_OPT_SEARCH_CHILDREN);
  if (code < 0)
    return Fail(runtime::DescribeLibraryError("Limiting the picture sink to",
                                              PixelFormatText(setup.OutputFormat), code));

  AVFilterContext* last = source_;
  const int cropped_width = setup.InputWidth - setup.CropLeft - setup.CropRight;
  const int cropped_height = setup.InputHeight - setup.CropTop - setup.CropBottom;
  if (setup.CropTop != 0 || setup.CropBottom != 0 || setup.CropLeft != 0 || setup.CropRight != 0) {
    const std::string crop_args = runtime::TextFormat("w=%d:h=%d:x=%d:y=%d", cropped_width, cropped_height,
                                                      setup.CropLeft, setup.CropTop);
    if (!AppendFilter(last, "crop", "crop", crop_args, "Creating the crop filter")) return false;
  }

  const int inner_width = setup.OutputWidth - setup.PadLeft - setup.PadRight;
  const int inner_height = setup.OutputHeight - setup.PadTop - setup.PadBottom;
  if (cropped_width != inner_width || cropped_height != inner_height) {
    std::string scale_args = runtime::TextFormat("w=%d:h=%d", inner_width, inner_height);
    if (setup.ScalerFlags > 0) scale_args += runtime::TextFormat(":flags=%d", setup.ScalerFlags);
    if (!AppendFilter(last, "scale", "scale", scale_args, "Creating the scale filter")) return false;
  }

  if (runtime::TrimBlanks(setup.Chain).empty()) {
    code = filters.avfilter_link(last, 0, sink_, 0);
    if (code < 0) return Fail("Linking the picture sink", code);
  } else if (!AttachChain(last, setup.Chain)) {
    return false;
  }

  code = filters.avfilter_graph_config(graph_.get(), nullptr);
  if (code < 0) return Fail("Configuring the filter graph", code);
  return true;
}

bool VideoFilterGraph::CreateFilter(AVFilterContext*& context, const char* kind, const char* instance,
                                    const std::string& args, std::string_view step) {
  const AVFilter* filter = runtime::avfilter().avfilter_get_by_name(kind);
  if (filter == nullptr) return Fail(runtime::TextFormat("The filter library has no \"%s\" filter", kind));
  const int code = runtime::avfilter().avfilter_graph_create_filter(
      &context, filter, instance, args.empty() ? nullptr : args.c_str(), nullptr, graph_.get());
  if (code < 0) {
    context = nullptr;
    return Fail(args.empty() ? std::string(step) + ": " + runtime::LibraryErrorText(code)
                             : runtime::DescribeLibraryError(step, args, code));
  }
  return true;
}

bool VideoFilterGraph::AppendFilter(AVFilterContext*& last, const char* kind, const char* instance,
                                    const std::string& args, std::string_view step) {
  AVFilterContext* next = nullptr;
  if (!CreateFilter(next, kind, instance, args, step)) return false;
  const int code = runtime::avfilter().avfilter_link(last, 0, next, 0);
  if (code < 0) return Fail(runtime::TextFormat("Linking the %s filter", kind), code);
  last = next;
  return true;
}

bool VideoFilterGraph::AttachChain(AVFilterContext* last, const std::string& chain) {
  const auto& filters = runtime::avfilter();
  // The chain's first input is fed by `last` (the open output "in"), its last output feeds the sink (the open
  // input "out").
  runtime::FilterInOutPtr open_output(filters.avfilter_inout_alloc());
  runtime::FilterInOutPtr open_input(filters.avfilter_inout_alloc());
  if (!open_output || !open_input) return Fail("Preparing the filter chain", AVERROR(ENOMEM));
  open_output->name = runtime::avutil().av_strdup("in");
  open_output->filter_ctx = last;
  open_output->pad_idx = 0;
  open_input->name = runtime::avutil().av_strdup("out");
  open_input->filter_ctx = sink_;
  open_input->pad_idx = 0;
  if (open_output->name == nullptr || open_input->name == nullptr)
    return Fail("Preparing the filter chain", AVERROR(ENOMEM));

  // The parser consumes the lists it links and hands back the ones left open; either way they are ours again.
  AVFilterInOut* inputs = open_input.release();
  AVFilterInOut* outputs = open_output.release();
  const int code = filters.avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &inputs, &outputs, nullptr);
  open_input.reset(inputs);
  open_output.reset(outputs);
  if (code < 0) {
    // A failed parse frees every filter of the graph, the source and the sink included.
    source_ = nullptr;
    sink_ = nullptr;
    return Fail(runtime::DescribeLibraryError("Parsing the filter chain", chain, code));
  }
  // The library would only say "Invalid argument" when configuring; the caller's chain is named here.
  if (open_input || open_output)
    return Fail(
        runtime::TextFormat("The filter chain '%s' leaves inputs or outputs unconnected", chain.c_str()));
  for (unsigned i = 0; i < graph_->nb_filters; ++i) {
    const AVFilterContext* filter = graph_->filters[i];
    for (unsigned pad = 0; pad < filter->nb_inputs; ++pad) {
      if (filter->inputs[pad] == nullptr)
        return Fail(runtime::TextFormat("The filter chain '%s' leaves input %u of %s unconnected",
                                        chain.c_str(), pad, filter->name));
    }
    for (unsigned pad = 0; pad < filter->nb_outputs; ++pad) {
      if (filter->outputs[pad] == nullptr)
        return Fail(runtime::TextFormat("The filter chain '%s' leaves output %u of %s unconnected",
                                        chain.c_str(), pad, filter->name));
    }
  }
  return true;
}

bool VideoFilterGraph::Add(const AVFrame* frame) {
  if (!Built()) return Fail("No filter graph is built");
  if (frame == nullptr) return Fail("No picture to filter");
  if (frame->width != input_width_ || frame->height != input_height_ || frame->format != input_format_) {
    return Fail(runtime::TextFormat(
        "The picture changed from %dx%d %s to %dx%d %s; the filter graph must be built again", input_width_,
        input_height_, PixelFormatText(input_format_).c_str(), frame->width, frame->height,
        PixelFormatText(static_cast<AVPixelFormat>(frame->format)).c_str()));
  }
  if (end_of_stream_added_) return Fail("A picture was added after the end of the stream");
  // KEEP_REF: the graph takes its own reference, the caller's frame stays as it is.
  const int code = runtime::avfilter().av_buffersrc_add_frame_flags(source_, const_cast<AVFrame*>(frame),
                                                                    AV_BUFFERSRC_FLAG_KEEP_REF);
  if (code < 0) return Fail("Adding a picture to the filter graph", code);
  return true;
}

bool VideoFilterGraph::AddEndOfStream() {
  if (!Built()) return Fail("No filter graph is built");
  if (end_of_stream_added_) return true;
  const int code = runtime::avfilter().av_buffersrc_add_frame_flags(source_, nullptr, 0);
  if (code < 0) return Fail("Ending the filter graph's input", code);
  end_of_stream_added_ = true;
  return true;
}

int VideoFilterGraph::Fetch(AVFrame* out) {
  if (out == nullptr) {
    Fail("No picture to fetch into");
    return -2;
  }
  runtime::avutil().av_frame_unref(out);
  if (!Built()) {
    Fail("No filter graph is built");
    return -2;
  }
  const int code = runtime::avfilter().av_buffersink_get_frame(sink_, out);
  if (code >= 0) return 1;
  if (code == AVERROR(EAGAIN)) return 0;
  if (code == AVERROR_EOF) return -1;
  Fail("Fetching a filtered picture", code);
  return -2;
}

std::vector<std::string> VideoFilterGraph::FilterNames() const {
  std::vector<std::string> names;
  if (!graph_) return names;
  for (unsigned i = 0; i < graph_->nb_filters; ++i)
    names.emplace_back(graph_->filters[i]->filter->name);
  return names;
}

bool VideoFilterGraph::Fail(std::string_view step, int code) {
  return Fail(std::string(step) + ": " + runtime::LibraryErrorText(code));
}

bool VideoFilterGraph::Fail(std::string text) {
  error_text_ = std::move(text);
  return false;
}

void VideoFilterGraph::Clear() {
  // The filters belong to the graph: their pointers go with it.
  source_ = nullptr;
  sink_ = nullptr;
  graph_.reset();
  input_width_ = 0;
  input_height_ = 0;
  input_format_ = AV_PIX_FMT_NONE;
  output_width_ = 0;
  output_height_ = 0;
  output_time_base_ = AVRational{0, 1};
  output_aspect_ = AVRational{0, 1};
  end_of_stream_added_ = false;
}

}  // namespace engine
