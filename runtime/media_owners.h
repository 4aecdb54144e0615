// One owner type per kind of media-library object. Each frees its object through the entry table.
#pragma once

#include <memory>

#include "runtime/library_loader.h"

namespace runtime {

struct CodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec().avcodec_free_context(&context); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct CodecParametersDeleter {
  void operator()(AVCodecParameters* parameters) const { avcodec().avcodec_parameters_free(&parameters); }
};
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;

struct FrameDeleter {
  void operator()(AVFrame* frame) const { avutil().av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
  void operator()(AVPacket* packet) const { avcodec().av_packet_free(&packet); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct BitstreamFilterDeleter {
  void operator()(AVBSFContext* context) const { avcodec().av_bsf_free(&context); }
};
using BitstreamFilterPtr = std::unique_ptr<AVBSFContext, BitstreamFilterDeleter>;

// An opened input (avformat_open_input): closed with avformat_close_input.
struct InputFormatDeleter {
  void operator()(AVFormatContext* context) const { avformat().avformat_close_input(&context); }
};
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;

// An allocated (output or option) format context: freed with avformat_free_context.
struct FormatContextDeleter {
  void operator()(AVFormatContext* context) const { avformat().avformat_free_context(context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;

struct IoContextDeleter {
  void operator()(AVIOContext* context) const { avformat().avio_context_free(&context); }
};
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;

struct ScalerDeleter {
  void operator()(SwsContext* context) const { swscale().sws_freeContext(context); }
};
using ScalerPtr = std::unique_ptr<SwsContext, ScalerDeleter>;

struct ResamplerDeleter {
  void operator()(SwrContext* context) const { swresample().swr_free(&context); }
};
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerDeleter>;

struct FilterGraphDeleter {
  void operator()(AVFilterGraph* graph) const { avfilter().avfilter_graph_free(&graph); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct FilterInOutDeleter {
  void operator()(AVFilterInOut* inout) const { avfilter().avfilter_inout_free(&inout); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;

struct AudioFifoDeleter {
  void operator()(AVAudioFifo* fifo) const { avutil().av_audio_fifo_free(fifo); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// Memory from av_malloc.
struct LibraryMemoryDeleter {
  void operator()(void* memory) const { avutil().av_free(memory); }
};
template <class T>
using LibraryMemoryPtr = std::unique_ptr<T, LibraryMemoryDeleter>;

// An AVDictionary* is owned through its address: the library reallocates it as entries are set.
class Dictionary {
 public:
  Dictionary() = default;
  ~Dictionary() { Reset(); }
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  Dictionary(Dictionary&& other) noexcept : dictionary_(other.dictionary_) { other.dictionary_ = nullptr; }
  Dictionary& operator=(Dictionary&& other) noexcept {
    if (this != &other) {
      Reset();
      dictionary_ = other.dictionary_;
      other.dictionary_ = nullptr;
    }
    return *this;
  }

  AVDictionary* Get() const { return dictionary_; }
  AVDictionary** Address() { return &dictionary_; }
  void Reset() {
    if (dictionary_ != nullptr) avutil().av_dict_free(&dictionary_);
  }

 private:
  AVDictionary* dictionary_ = nullptr;
};

}  // namespace runtime
