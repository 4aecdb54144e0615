// Every outgoing packet: through the stream's bitstream filters, then into the muxer's interleaving.
#include <algorithm>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/open_error_text.h"
#include "runtime/text_format.h"

namespace engine {

void TCustomFFmpeg::WritePacket(TOutputStreamState& ost, AVPacket* packet, AVRational time_base) {
  if (ost.Filters.empty()) {
    runtime::avcodec().av_packet_rescale_ts(packet, time_base, ost.Stream->time_base);
    MuxPacket(ost, packet);
    return;
  }
  // The chain is fed from its first filter; whatever the last one gives goes to the muxer. A filter may hold
  // packets back or split one into several.
  const auto filter_failed = [&](std::size_t index, int code) {
    const std::string message = runtime::TextFormat(
        "%s failed for stream %d, codec %s: %s", ost.Filters[index]->filter->name, packet->stream_index,
        ost.StreamCopy ? "copy" : runtime::avcodec().avcodec_get_name(ost.Encoder->codec_id),
        runtime::LibraryErrorText(code).c_str());
    if (pending_.ExitOnError) throw FFmpegException(message);
    runtime::Log(this, runtime::llError, message);
  };
  runtime::avcodec().av_packet_rescale_ts(packet, time_base, ost.Filters.front()->time_base_in);
  const std::size_t count = ost.Filters.size();
  // Each filter's output is fed to the next; a recursive walk keeps the order of the packets.
  const auto pass = [&](auto&& self, std::size_t index, AVPacket* incoming) -> void {
    if (index == count) {
      runtime::avcodec().av_packet_rescale_ts(incoming, ost.Filters.back()->time_base_out,
                                              ost.Stream->time_base);
      MuxPacket(ost, incoming);
      return;
    }
    AVBSFContext* filter = ost.Filters[index].get();
    const int sent = runtime::avcodec().av_bsf_send_packet(filter, incoming);
    if (sent < 0) {
      runtime::avcodec().av_packet_unref(incoming);
      filter_failed(index, sent);
      return;
    }
    runtime::PacketPtr filtered(runtime::avcodec().av_packet_alloc());
    if (filtered == nullptr) throw FFmpegException("av_packet_alloc failed");
    for (;;) {
      const int received = runtime::avcodec().av_bsf_receive_packet(filter, filtered.get());
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
      if (received < 0) {
        filter_failed(index, received);
        break;
      }
      self(self, index + 1, filtered.get());
      runtime::avcodec().av_packet_unref(filtered.get());
    }
  };
  pass(pass, 0, packet);
}

void TCustomFFmpeg::MuxPacket(TOutputStreamState& ost, AVPacket* packet) {
  packet->stream_index = ost.StreamIndex;
  const std::int64_t begins = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (begins != AV_NOPTS_VALUE) {
    const double ends = static_cast<double>(begins + packet->duration) * av_q2d(ost.Stream->time_base);
    ost.OutputTime = std::max(ost.OutputTime.Get(), ends);
  }
  OutputFile& output = output_files_[static_cast<std::size_t>(ost.FileIndex)];
  ++ost.PacketsMuxed;
  const int written = runtime::avformat().av_interleaved_write_frame(output.Format.get(), packet);
  if (written < 0 && ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && !pending_.ExitOnError) {
    // The muxer refused this subtitle (a display time it cannot store): the conversion goes on without it.
    // A failed write of the file itself still shows in its I/O state when the run ends.
    runtime::Log(
        this, runtime::llWarning,
        runtime::DescribeLibraryError(runtime::TextFormat("Writing a subtitle of stream #%d.%d (left out) to",
                                                          ost.FileIndex, ost.StreamIndex),
                                      output.FileName, written));
    return;
  }
  if (written < 0) {
    throw FFmpegException("av_interleaved_write_frame(): " +
                          runtime::DescribeLibraryError("writing", output.FileName, written));
  }
}

}  // namespace engine
