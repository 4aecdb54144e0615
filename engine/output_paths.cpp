#include "engine/ffmpeg_exception.h"
#include "engine/task.h"

namespace engine {

void TCustomFFmpeg::VideoOutput(TOutputStreamState&, TInputStreamState&, AVFrame*) {
  throw FFmpegException("Video re-encoding is not available yet");
}
void TCustomFFmpeg::AudioOutput(TOutputStreamState&, TInputStreamState&, AVFrame*) {
  throw FFmpegException("Audio re-encoding is not available yet");
}
void TCustomFFmpeg::FlushAudioOutput(TOutputStreamState&) {}

}  // namespace engine
