// The video decode thread: packets to pictures (send/receive, drained at the end of the file), their time
// stamps, the frame hook, and the hand-over into the one-picture queue.
#include <chrono>
#include <exception>

#include "player/playback.h"
#include "runtime/logger.h"

namespace player {

namespace {

// Converts the decoded frame into a YUV420P picture of even size, through the frame hook when one is set.
runtime::FramePtr ConvertPicture(TPlayback& playback, const AVFrame& frame, double pts) {
  const int width = frame.width & ~1;
  const int height = frame.height & ~1;
  if (width <= 0 || height <= 0) return nullptr;
  runtime::FramePtr picture(runtime::avutil().av_frame_alloc());
  if (picture == nullptr) return nullptr;
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = width;
  picture->height = height;
  if (runtime::avutil().av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
  const AVPixelFormat source = static_cast<AVPixelFormat>(frame.format);

  TPlayerShared& shared = *playback.Shared;
  THookEvent hook;
  if (shared.Hook) {
    std::lock_guard lock(shared.HandlerMutex);
    hook = shared.OnHook;
  }
  if (hook) {
    runtime::PictureConverter& converter = playback.HookConverter;
    if (!converter.PictureToBitmap(frame.data, frame.linesize, source, width, height)) {
      PlayerLog(playback, runtime::llError, "Cannot initialize the toRGB conversion context");
    } else {
      bool hooked = true;
      try {
        hook(*shared.Owner, converter.Bitmap(),
             static_cast<std::int64_t>(std::nearbyint(pts * 1000000.0)) - playback.StartOffset);
      } catch (const std::exception& error) {
        PlayerLog(playback, runtime::llError, std::string("Error occurs OnHook: ") + error.what());
        hooked = false;
      }
      if (hooked) {
        if (converter.BitmapToPicture(picture->data, picture->linesize, AV_PIX_FMT_YUV420P, width, height))
          return picture;
        PlayerLog(playback, runtime::llError, "Cannot initialize the fromRGB conversion context");
      }
    }
  }
  SwsContext* scaler = runtime::swscale().sws_getCachedContext(
      playback.DecodeScaler.release(), frame.width, frame.height, source, width, height, AV_PIX_FMT_YUV420P,
      SWS_BICUBIC, nullptr, nullptr, nullptr);
  playback.DecodeScaler.reset(scaler);
  if (scaler == nullptr) {
    PlayerLog(playback, runtime::llError, "Cannot initialize the conversion context.");
    return nullptr;
  }
  // Only the even part of the frame reaches the picture: the last odd row or column is left out.
  runtime::swscale().sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, picture->data,
                               picture->linesize);
  return picture;
}

bool QueuePicture(TPlayback& playback, const AVFrame& frame, double pts) {
  {
    std::unique_lock lock(playback.PictureMutex);
    playback.PictureChanged.wait(lock,
                                 [&] { return playback.PictureCount == 0 || playback.VideoQueue.Aborted(); });
    if (playback.VideoQueue.Aborted()) return false;
  }
  runtime::FramePtr picture = ConvertPicture(playback, frame, pts);
  if (picture == nullptr) return false;
  std::lock_guard lock(playback.PictureMutex);
  playback.Picture.Frame = std::move(picture);
  playback.Picture.Pts = pts;
  playback.Picture.AfterSeek = playback.FlushedAfterSeek;
  playback.FlushedAfterSeek = false;
  playback.PictureCount = 1;
  return true;
}

// Hands every picture the decoder has ready to the queue. False when the thread must end.
bool ReceivePictures(TPlayback& playback, AVFrame* frame) {
  AVCodecContext* codec = playback.VideoCodec.get();
  for (;;) {
    // Paused (and no step to make): the pictures wait in the decoder.
    if (playback.Paused && !playback.StepMode) return true;
    const int received = runtime::avcodec().avcodec_receive_frame(codec, frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;  // wants input / drained
    if (received < 0) return true;  // a damaged picture: go on with the next packet
    std::int64_t stamp = frame->pkt_dts != AV_NOPTS_VALUE ? frame->pkt_dts : frame->pts;
    if (stamp == AV_NOPTS_VALUE) stamp = 0;
    double pts = static_cast<double>(stamp) * av_q2d(playback.VideoStream->time_base);
    if (pts != 0) {
      playback.VideoClock = pts;
    } else {
      pts = playback.VideoClock;
    }
    const AVRational rate =
        runtime::avformat().av_guess_frame_rate(playback.Format.get(), playback.VideoStream, frame);
    const double frame_delay = rate.num > 0 && rate.den > 0 ? av_q2d(AVRational{rate.den, rate.num}) : 0.04;
    playback.VideoClock += frame_delay + frame->repeat_pict * frame_delay * 0.5;
    const bool queued = QueuePicture(playback, *frame, pts);
    runtime::avutil().av_frame_unref(frame);
    if (!queued) return false;
    playback.Shared->FrameDecodedEvent.Set();
    if (playback.StepMode && !playback.StepAfterSeek) playback.StepMode = false;  // the step's picture
  }
}

// While paused, a step decodes; one after a seek only once the seek is done (its flush marker is queued
// first), so that no picture of the old place is shown.
bool StepMayDecode(TPlayback& playback) {
  if (!playback.StepMode) return false;
  if (!playback.StepAfterSeek) return true;
  std::lock_guard lock(playback.SeekMutex);
  return !playback.SeekRequest;
}

}  // namespace

void VideoThreadMain(TPlayback& playback) {
  runtime::FramePtr frame(runtime::avutil().av_frame_alloc());
  if (frame == nullptr) return;
  AVCodecContext* codec = playback.VideoCodec.get();
  bool drained = false;  // the end-of-file packet has been sent
  for (;;) {
    while (playback.Paused && !StepMayDecode(playback) && !playback.VideoQueue.Aborted())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    TQueuedPacket entry;
    if (playback.VideoQueue.Get(entry, true) < 0) break;
    if (entry.IsFlush()) {
      runtime::avcodec().avcodec_flush_buffers(codec);
      drained = false;
      playback.FlushedAfterSeek = true;  // only a seek puts the marker
      playback.StepAfterSeek = false;
      continue;
    }
    const bool end_of_file = entry.Packet->data == nullptr && entry.Packet->size == 0;
    if (end_of_file && drained) {
      // The decoder has had the end: it may still hold pictures it kept while paused.
      if (!ReceivePictures(playback, frame.get())) break;
      continue;
    }
    int sent = runtime::avcodec().avcodec_send_packet(codec, end_of_file ? nullptr : entry.Packet.get());
    if (sent == AVERROR(EAGAIN)) {
      if (!ReceivePictures(playback, frame.get())) break;
      sent = runtime::avcodec().avcodec_send_packet(codec, end_of_file ? nullptr : entry.Packet.get());
    }
    if (end_of_file) drained = true;
    if (!ReceivePictures(playback, frame.get())) break;
  }
}

}  // namespace player
