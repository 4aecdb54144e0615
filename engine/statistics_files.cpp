// The files a run writes beside its outputs: the two-pass statistics and the per-frame video statistics.
#include <cmath>
#include <cstdio>

#include "engine/ffmpeg_exception.h"
#include "engine/task.h"
#include "runtime/library_loader.h"
#include "runtime/text_format.h"

namespace engine {

void TCustomFFmpeg::OpenTwoPassLog(TOutputStreamState& ost, int position) {
  std::string name = pending_.PassLogFile.empty() ? "ffmpeg2pass" : pending_.PassLogFile;
  name += "-" + std::to_string(position) + ".log";
  if (name.size() > 1023) name.resize(1023);
  AVCodecContext* encoder = ost.Encoder;
  if ((encoder->flags & AV_CODEC_FLAG_PASS1) != 0) {
    ost.PassLog.reset(std::fopen(name.c_str(), "w"));
    if (ost.PassLog == nullptr)
      throw FFmpegException("Cannot write log file " + name + " for pass-1 encoding");
    return;
  }
  FilePtr file(std::fopen(name.c_str(), "r"));
  if (file == nullptr) throw FFmpegException("Cannot read log file " + name + " for pass-2 encoding");
  std::fseek(file.get(), 0, SEEK_END);
  const long length = std::ftell(file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  if (length < 0) throw FFmpegException("Cannot read log file " + name + " for pass-2 encoding");
  runtime::LibraryMemoryPtr<char> buffer(
      static_cast<char*>(runtime::avutil().av_malloc(static_cast<std::size_t>(length) + 1)));
  if (buffer == nullptr) throw FFmpegException("Could not allocate log buffer");
  const std::size_t read = std::fread(buffer.get(), 1, static_cast<std::size_t>(length), file.get());
  buffer.get()[read] = '\0';
  encoder->stats_in = buffer.get();
  output_files_[static_cast<std::size_t>(ost.FileIndex)]
      .Streams[static_cast<std::size_t>(ost.StreamIndex)]
      .PassStatistics = std::move(buffer);
}

void TCustomFFmpeg::WriteVstatsLine(TOutputStreamState& ost, int frame_size) {
  if (vstats_file_ == nullptr) {
    vstats_file_.reset(std::fopen(pending_.VstatsFileName->c_str(), "w"));
    if (vstats_file_ == nullptr) throw FFmpegException("fopen fail: " + *pending_.VstatsFileName);
  }
  const AVCodecContext* encoder = ost.Encoder;
  std::FILE* file = vstats_file_.get();
  std::fprintf(file, "frame= %5d q= %2.1f ", ost.FrameNumber.Get(),
               static_cast<double>(ost.Quality) / FF_QP2LAMBDA);
  if ((encoder->flags & AV_CODEC_FLAG_PSNR) != 0 && encoder->width * encoder->height > 0) {
    const double error = static_cast<double>(ost.PictureError[0]);
    std::fprintf(file, "PSNR= %6.2f ",
                 -10.0 * std::log10(error / (encoder->width * encoder->height * 255.0 * 255.0)));
  }
  std::fprintf(file, "f_size= %6d ", frame_size);
  double time = static_cast<double>(ost.SyncOpts) * av_q2d(encoder->time_base);
  if (time < 0.01) time = 0.01;
  const double rate = av_q2d(encoder->time_base) > 0 ? frame_size * 8 / av_q2d(encoder->time_base) / 1000 : 0;
  std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               static_cast<double>(run_->VideoSize) / 1024, time, rate,
               static_cast<double>(run_->VideoSize) * 8 / time / 1000);
  std::fprintf(file, "type= %c\n", runtime::avutil().av_get_picture_type_char(ost.PictureType));
}

}  // namespace engine
