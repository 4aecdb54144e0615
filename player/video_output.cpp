#include "player/video_output.h"

#include <cmath>
#include <cstring>

#include "runtime/logger.h"

namespace player {

double DisplayAspect(float setting, int surface_width, int surface_height, AVRational stream_sar,
                     AVRational codec_sar, int coded_width, int coded_height) {
  if (setting > 0) return static_cast<double>(setting);
  if (setting < 0 && surface_width > 0 && surface_height > 0)
    return static_cast<double>(surface_width) / surface_height;
  double ratio = 0;
  if (stream_sar.num != 0) {
    ratio = av_q2d(stream_sar);
  } else if (codec_sar.num != 0) {
    ratio = av_q2d(codec_sar);
  }
  if (ratio <= 0) ratio = 1.0;
  if (coded_height <= 0) return ratio;
  return ratio * coded_width / coded_height;
}

TPictureRect FitPicture(int surface_width, int surface_height, double aspect) {
  TPictureRect rect;
  if (surface_width <= 0 || surface_height <= 0 || aspect <= 0) return rect;
  int height = surface_height;
  int width = static_cast<int>(std::nearbyint(height * aspect)) & ~1;
  if (width > surface_width) {
    width = surface_width;
    height = static_cast<int>(std::nearbyint(width / aspect)) & ~1;
  }
  rect.Width = width;
  rect.Height = height;
  rect.X = (surface_width - width) / 2;
  rect.Y = (surface_height - height) / 2;
  return rect;
}

void DrawWaveform(runtime::Bitmap& bitmap, const std::int16_t* ring, int ring_size, int start, int channels) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  bitmap.Fill(0);
  if (channels <= 0 || width <= 0 || height <= 0) return;
  auto white = [&](int x, int y) {
    if (x < 0 || x >= width || y < 0 || y >= height) return;
    std::memset(bitmap.ScanLine(y) + x * runtime::Bitmap::kBytesPerPixel, 255,
                runtime::Bitmap::kBytesPerPixel);
  };
  const int h = height / channels;
  const int scale = h * 9 / 20;
  for (int c = 0; c < channels; ++c) {
    const int y1 = c * h + h / 2;
    int index = (start + c) % ring_size;
    for (int x = 0; x < width; ++x) {
      const int v = (ring[index] * scale) >> 15;
      const int top = v < 0 ? y1 + v : y1;
      for (int y = top; y < top + std::abs(v); ++y)
        white(x, y);
      index = (index + channels) % ring_size;
    }
  }
  for (int c = 1; c < channels; ++c)
    for (int x = 0; x < width; ++x)
      white(x, c * h);
}

int TVideoOutput::Refresh(TPlayback& playback) {
  int next;
  if (playback.VideoIndex >= 0) {
    bool have = false;
    {
      std::lock_guard lock(playback.PictureMutex);
      have = playback.PictureCount > 0;
    }
    if (!have) {
      next = 1;
    } else {
      runtime::FramePtr frame;
      double pts;
      bool after_seek;
      {
        std::lock_guard lock(playback.PictureMutex);
        frame = std::move(playback.Picture.Frame);
        pts = playback.Picture.Pts;
        after_seek = playback.Picture.AfterSeek;
      }
      {
        std::lock_guard lock(playback.ClockMutex);
        playback.VideoCurrentPts = pts;
        playback.VideoCurrentPtsTime = runtime::avutil().av_gettime();
      }
      const double delay = ComputeDelay(playback, pts, after_seek);
      next = static_cast<int>(std::nearbyint(delay * 1000 + 0.5));
      playback.Shown = std::move(frame);
      playback.ShownPts = pts;
      ShowPicture(playback);
      std::lock_guard lock(playback.PictureMutex);
      playback.PictureCount = 0;
      playback.PictureChanged.notify_all();
    }
  } else if (playback.AudioIndex >= 0) {
    next = 40;
    ShowWaveform(playback);
  } else {
    return 100;
  }
  ReportPosition(playback);
  return next;
}

void TVideoOutput::ReportPosition(TPlayback& playback) {
  if (playback.IsImage2) return;
  const double clock = playback.VideoIndex >= 0 ? VideoClock(playback) : AudioClock(playback);
  std::int64_t position = static_cast<std::int64_t>(std::nearbyint(clock * 1000000.0)) - playback.StartOffset;
  if (playback.VideoIndex < 0 && playback.AudioDurationUS > 0 && position >= playback.AudioDurationUS &&
      position < playback.FileDuration)
    position = playback.FileDuration;
  playback.CurrentPosition = position;
  if (playback.FileDuration > 0 && position >= playback.FileDuration) {
    position = playback.FileDuration;
    if (playback.LastReported != playback.FileDuration) playback.LastReported = 0;
  }
  if (!playback.Reported || std::llabs(position - playback.LastReported) > 10000) {
    playback.Reported = true;
    playback.LastReported = position;
    playback.Ring->Put(TPlayerEvent{ekPosition, psPlay, position, playback.Generation});
  }
  // The end: nothing queued, nothing being read, and the reading has met the end of the file.
  if (playback.VideoQueue.Count() == 0 && playback.AudioQueue.Count() == 0 && !playback.IsVfwCap &&
      !playback.Reading && playback.EndOfFileMet) {
    bool picture_waiting;
    {
      std::lock_guard lock(playback.PictureMutex);
      picture_waiting = playback.PictureCount > 0;
    }
    if (!picture_waiting) playback.SetState(psEnd);
  }
}

namespace {

// The index of SDL's render driver of that name, -1 when there is none.
int RenderDriver(const char* name) {
  const runtime::SdlEntries& sdl = runtime::sdl();
  for (int index = 0; index < sdl.SDL_GetNumRenderDrivers(); ++index) {
    SDL_RendererInfo info{};
    if (sdl.SDL_GetRenderDriverInfo(index, &info) == 0 && std::strcmp(info.name, name) == 0) return index;
  }
  return -1;
}

}  // namespace

void TVideoOutput::CreateRenderer(const TPlayerShared& shared, std::string& error) {
  const runtime::SdlEntries& sdl = runtime::sdl();
  const void* child = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(child_.Id()));
  // The window is taken as an OpenGL window from the start. Otherwise an OpenGL renderer makes SDL recreate
  // it, which shows it again, and with no window manager running SDL then moves the keyboard focus onto it
  // (and the host's keys with it). Without OpenGL, the software renderer needs no new window either, as
  // long as SDL does not back its surface with a renderer of its own (SDL decides that once per process,
  // so the hint stays).
  struct Way {
    const char* ForeignOpenGl;
    const char* Driver;
    Uint32 Flags;
  };
  for (const Way way : {Way{"1", "opengl", 0U}, Way{"0", "software", SDL_RENDERER_SOFTWARE}}) {
    sdl.SDL_SetHintWithPriority(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, way.ForeignOpenGl, SDL_HINT_OVERRIDE);
    if (way.Flags == SDL_RENDERER_SOFTWARE)
      sdl.SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_OVERRIDE);
    window_.reset(sdl.SDL_CreateWindowFrom(child));
    const int driver = RenderDriver(way.Driver);
    if (window_ != nullptr && driver >= 0)
      renderer_.reset(sdl.SDL_CreateRenderer(window_.get(), driver, way.Flags));
    if (renderer_ != nullptr) {
      SDL_RendererInfo info{};
      if (sdl.SDL_GetRendererInfo(renderer_.get(), &info) == 0)
        runtime::Log(shared.Sender.load(), runtime::llVerbose, std::string("picture renderer: ") + info.name);
      break;
    }
    error += std::string(error.empty() ? "" : "; ") + way.Driver + ": " + sdl.SDL_GetError();
    window_.reset();
  }
  sdl.SDL_SetHintWithPriority(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, "0", SDL_HINT_OVERRIDE);
}

bool TVideoOutput::PrepareSurface(TPlayback& playback) {
  if (playback.SurfaceWidth <= 0 || playback.SurfaceHeight <= 0) {
    int width = 640;
    int height = 480;
    if (playback.VideoIndex >= 0 && playback.VideoCodec->width > 0) {
      width = playback.VideoCodec->width & ~1;
      height = playback.VideoCodec->height & ~1;
    }
    playback.SurfaceWidth = width;
    playback.SurfaceHeight = height;
  }
  if (host_.X11Window == 0) {
    surface_.SetSize(playback.SurfaceWidth, playback.SurfaceHeight);
    return true;
  }
  if (window_ == nullptr && !window_failed_) {
    std::string error;
    if (child_.Create(host_.X11Window, playback.SurfaceWidth, playback.SurfaceHeight, error)) {
      CreateRenderer(*playback.Shared, error);
    }
    if (renderer_ == nullptr) {
      PlayerLog(playback, runtime::llError, "SDL: could not set video mode.");
      PlayerLog(playback, runtime::llInfo, error);
      window_failed_ = true;
      Release();
      return false;
    }
  }
  return renderer_ != nullptr;
}

void TVideoOutput::ShowPicture(TPlayback& playback) {
  if (playback.Shown == nullptr || !PrepareSurface(playback)) return;
  const AVFrame& frame = *playback.Shown;
  const double aspect = DisplayAspect(playback.Shared->AspectRatio, playback.SurfaceWidth,
                                      playback.SurfaceHeight, playback.VideoStream->sample_aspect_ratio,
                                      playback.VideoCodec->sample_aspect_ratio, frame.width, frame.height);
  const TPictureRect rect = FitPicture(playback.SurfaceWidth, playback.SurfaceHeight, aspect);
  if (rect.Width <= 0 || rect.Height <= 0) return;
  if (host_.X11Window != 0) {
    if (texture_ == nullptr || !texture_is_picture_ || texture_width_ != frame.width ||
        texture_height_ != frame.height) {
      texture_.reset(runtime::sdl().SDL_CreateTexture(
          renderer_.get(), SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING, frame.width, frame.height));
      texture_is_picture_ = true;
      texture_width_ = frame.width;
      texture_height_ = frame.height;
    }
    if (texture_ == nullptr) return;
    runtime::sdl().SDL_UpdateYUVTexture(texture_.get(), nullptr, frame.data[0], frame.linesize[0],
                                        frame.data[1], frame.linesize[1], frame.data[2], frame.linesize[2]);
    Present(playback, rect, true);
    return;
  }
  surface_.Fill(0);
  SwsContext* scaler = runtime::swscale().sws_getCachedContext(
      scaler_.release(), frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), rect.Width,
      rect.Height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  scaler_.reset(scaler);
  if (scaler == nullptr) return;
  std::uint8_t* destination[4] = {surface_.ScanLine(rect.Y) + rect.X * runtime::Bitmap::kBytesPerPixel,
                                  nullptr, nullptr, nullptr};
  const int strides[4] = {surface_.Stride(), 0, 0, 0};
  runtime::swscale().sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, destination, strides);
  if (host_.PaintFrame) host_.PaintFrame(surface_);
}

void TVideoOutput::ShowWaveform(TPlayback& playback) {
  if (!playback.Waveform || !PrepareSurface(playback)) return;
  if (host_.X11Window != 0) surface_.SetSize(playback.SurfaceWidth, playback.SurfaceHeight);
  const int width = surface_.Width();
  const int channels = std::max(playback.AudioChannels, 1);
  int start;
  {
    std::lock_guard lock(playback.AudioMutex);
    if (playback.Paused) {
      start = playback.WaveLastStart;
    } else {
      std::int64_t delay =
          static_cast<std::int64_t>(playback.AudioBufferSize - playback.AudioBufferIndex) / (2 * channels);
      if (playback.CallbackRan)
        delay += static_cast<std::int64_t>(playback.AudioRate) *
                 (runtime::avutil().av_gettime() - playback.CallbackStart) / 1000000;
      delay -= width / 2;
      if (delay < width) delay = width;
      const int size = TPlayback::kWaveSamples;
      const int x = static_cast<int>(((playback.WaveIndex - delay * channels) % size + size) % size);
      start = x;
      std::int64_t best = std::numeric_limits<std::int32_t>::min();
      const std::int16_t* ring = playback.WaveSamples.data();
      for (int i = 0; i < 1000; i += channels) {
        const int idx = ((x - i) % size + size) % size;
        const int a = ring[idx];
        const int b = ring[(idx + 4 * channels) % size];
        const int c = ring[(idx + 5 * channels) % size];
        const int d = ring[(idx + 9 * channels) % size];
        if (a - d > best && ((b ^ c) < 0)) {
          best = a - d;
          start = idx;
        }
      }
      playback.WaveLastStart = start;
    }
    DrawWaveform(surface_, playback.WaveSamples.data(), TPlayback::kWaveSamples, start, channels);
  }
  if (host_.X11Window == 0) {
    if (host_.PaintFrame) host_.PaintFrame(surface_);
    return;
  }
  if (texture_ == nullptr || texture_is_picture_ || texture_width_ != surface_.Width() ||
      texture_height_ != surface_.Height()) {
    texture_.reset(runtime::sdl().SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_BGR24,
                                                    SDL_TEXTUREACCESS_STREAMING, surface_.Width(),
                                                    surface_.Height()));
    texture_is_picture_ = false;
    texture_width_ = surface_.Width();
    texture_height_ = surface_.Height();
  }
  if (texture_ == nullptr) return;
  runtime::sdl().SDL_UpdateTexture(texture_.get(), nullptr, surface_.Pixels(), surface_.Stride());
  Present(playback, TPictureRect{0, 0, surface_.Width(), surface_.Height()}, false);
}

void TVideoOutput::Present(TPlayback&, const TPictureRect& rect, bool picture) {
  const SDL_Rect target{rect.X, rect.Y, rect.Width, rect.Height};
  runtime::sdl().SDL_SetRenderDrawColor(renderer_.get(), 0, 0, 0, 255);
  runtime::sdl().SDL_RenderClear(renderer_.get());
  runtime::sdl().SDL_RenderCopy(renderer_.get(), texture_.get(), nullptr, picture ? &target : nullptr);
  runtime::sdl().SDL_RenderPresent(renderer_.get());
}

void TVideoOutput::Redraw(TPlayback& playback) {
  if (playback.VideoIndex >= 0) {
    ShowPicture(playback);
  } else if (playback.AudioIndex >= 0) {
    ShowWaveform(playback);
  }
}

void TVideoOutput::Resize(TPlayback& playback, int width, int height) {
  if (width <= 0 || height <= 0) return;
  playback.SurfaceWidth = width;
  playback.SurfaceHeight = height;
  if (window_ != nullptr) runtime::sdl().SDL_SetWindowSize(window_.get(), width, height);
  Redraw(playback);
}

void TVideoOutput::ServeWindow(TPlayback& playback) {
  if (child_.TakeExposed()) Redraw(playback);
}

void TVideoOutput::WarmUp(const TPlayerShared& shared) {
  constexpr int kSize = 16;
  std::string error;
  if (child_.Create(host_.X11Window, kSize, kSize, error, false)) CreateRenderer(shared, error);
  if (renderer_ != nullptr) {
    // One black picture through the path a real one takes, so the renderer's first draw is paid here too.
    const runtime::SdlEntries& sdl = runtime::sdl();
    texture_.reset(sdl.SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_IYUV, SDL_TEXTUREACCESS_STREAMING,
                                         kSize, kSize));
    std::vector<std::uint8_t> planes(kSize * kSize * 3 / 2, 16);
    std::fill(planes.begin() + kSize * kSize, planes.end(), std::uint8_t{128});
    if (texture_ != nullptr &&
        sdl.SDL_UpdateYUVTexture(texture_.get(), nullptr, planes.data(), kSize, planes.data() + kSize * kSize,
                                 kSize / 2, planes.data() + kSize * kSize * 5 / 4, kSize / 2) == 0) {
      sdl.SDL_RenderClear(renderer_.get());
      sdl.SDL_RenderCopy(renderer_.get(), texture_.get(), nullptr, nullptr);
      sdl.SDL_RenderPresent(renderer_.get());
    }
  } else {
    runtime::Log(shared.Sender.load(), runtime::llVerbose,
                 "the picture renderer did not start ahead: " + error);
  }
  Release();
}

void TVideoOutput::Release() {
  texture_.reset();
  renderer_.reset();
  window_.reset();
  child_.Destroy();
  scaler_.reset();
}

}  // namespace player
