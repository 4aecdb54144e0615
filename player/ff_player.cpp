#include "player/ff_player.h"

#include <chrono>
#include <cstdlib>
#include <deque>
#include <system_error>

#include "player/playback.h"
#include "player/video_output.h"
#include "runtime/library_loader.h"
#include "runtime/logger.h"
#include "runtime/main_thread.h"

namespace player {

namespace {

enum TCommandKind : std::uint8_t { ckQuit, ckRedraw, ckResize };

struct TPlayCommand {
  TCommandKind Kind = ckQuit;
  std::uint64_t Generation = 0;
  int Width = 0;
  int Height = 0;
};

using Clock = std::chrono::steady_clock;

}  // namespace

// One opened file with its play and event threads. Shared by the component and those threads, so an orphaned
// thread never reaches freed memory.
struct TSession {
  std::shared_ptr<TPlayerShared> Shared;
  std::uint64_t Generation = 0;
  TPlayerHost Host;
  TEventRing Ring;

  std::mutex CommandMutex;
  std::condition_variable CommandChanged;
  std::deque<TPlayCommand> Commands;  // guarded by CommandMutex

  std::unique_ptr<TPlayback> Playback;  // guarded by Shared->PlayerLock
  std::atomic<bool> Orphaned{false};    // closed from outside: the play thread leaves without touching it
  // Main thread: a playback closed from outside whose read thread may still be in a read; joined once done.
  std::unique_ptr<TPlayback> Closing;

  std::thread PlayThread;   // main thread joins
  std::thread EventThread;  // main thread joins
  runtime::ManualResetEvent PlayThreadDone{false};
  runtime::ManualResetEvent EventThreadDone{false};

  void Push(TPlayCommand command) {
    command.Generation = Generation;
    std::lock_guard lock(CommandMutex);
    Commands.push_back(command);
    CommandChanged.notify_all();
  }
};

namespace {

// Under PlayerLock: takes the playback from its session and asks its threads to end. The caller waits for
// them outside the lock, so a read stuck in the kernel holds up no other thread.
std::unique_ptr<TPlayback> TakePlayback(TSession& session) {
  if (session.Playback == nullptr) return nullptr;
  RequestStopReading(*session.Playback);
  session.Shared->SeekDoneEvent.Set();
  return std::move(session.Playback);
}

// Waits for the read thread (it closes the streams and the file), then frees the playback.
void FinishPlayback(std::unique_ptr<TPlayback> playback) {
  if (playback != nullptr && playback->ReadThread.joinable()) playback->ReadThread.join();
}

void PlayThreadMain(const std::shared_ptr<TSession>& session) {
  const SdlThreadState sdl_state;
  TPlayerShared& shared = *session->Shared;
  session->Ring.Put(TPlayerEvent{ekState, psPlay, 0, session->Generation});
  TVideoOutput output(session->Host);
  Clock::time_point next_refresh = Clock::now() + std::chrono::milliseconds(40);
  {
    // The renderer takes longer to make than the first picture to decode: make it while the picture decodes.
    std::lock_guard lock(shared.PlayerLock);
    if (session->Playback != nullptr && (session->Playback->VideoIndex >= 0 || session->Playback->Waveform))
      output.PrepareSurface(*session->Playback);
  }
  bool orphaned = false;
  std::unique_ptr<TPlayback> closing;
  for (bool running = true; running;) {
    std::optional<TPlayCommand> command;
    {
      std::unique_lock lock(session->CommandMutex);
      session->CommandChanged.wait_until(lock, next_refresh, [&] { return !session->Commands.empty(); });
      if (!session->Commands.empty()) {
        command = session->Commands.front();
        session->Commands.pop_front();
      }
    }
    std::lock_guard lock(shared.PlayerLock);
    if (session->Orphaned || shared.CurrentGeneration != session->Generation) {
      orphaned = true;
      running = false;
    } else if (session->Playback == nullptr) {
      running = false;
    } else if (command.has_value() && command->Kind == ckQuit) {
      closing = TakePlayback(*session);
      running = false;
    } else {
      TPlayback& playback = *session->Playback;
      if (command.has_value() && command->Kind == ckResize) {
        output.Resize(playback, command->Width, command->Height);
      } else if (command.has_value()) {
        output.Redraw(playback);
      }
      output.ServeWindow(playback);
      if (Clock::now() >= next_refresh) {
        const int milliseconds = std::max(output.Refresh(playback), 1);
        next_refresh = Clock::now() + std::chrono::milliseconds(milliseconds);
      }
    }
    // The SDL objects go under PlayerLock too, so that the play thread of a newer file never uses SDL at the
    // same time.
    if (!running) output.Release();
  }
  FinishPlayback(std::move(closing));
  if (!orphaned) session->Ring.Put(TPlayerEvent{ekState, psStop, 0, session->Generation});
  session->PlayThreadDone.Set();
}

void Deliver(TPlayerShared& shared, const TPlayerEvent& event) {
  if (event.Kind == ekState) shared.State = event.State;
  std::function<void()> call;
  {
    std::lock_guard lock(shared.HandlerMutex);
    if (event.Kind == ekPosition && shared.OnPosition) {
      call = [handler = shared.OnPosition, owner = shared.Owner, time = event.Timestamp] {
        handler(*owner, time);
      };
    } else if (event.Kind == ekState && shared.OnState) {
      call = [handler = shared.OnState, owner = shared.Owner, state = event.State] {
        handler(*owner, state);
      };
    }
  }
  if (!call) return;
  if (shared.TriggerEventInMainThread) {
    runtime::RunOnMainThread(call);
  } else {
    call();
  }
}

void EventThreadMain(const std::shared_ptr<TSession>& session) {
  for (;;) {
    const std::optional<TPlayerEvent> event = session->Ring.Take();
    if (!event.has_value()) {
      session->Ring.Pending().WaitFor(std::chrono::milliseconds(50));
      continue;
    }
    if (event->Generation != session->Generation) continue;
    if (event->Kind == ekQuit) break;
    try {
      Deliver(*session->Shared, *event);
    } catch (const std::exception& error) {
      runtime::Log(session->Shared->Sender.load(), runtime::llError,
                   std::string("event handler failed: ") + error.what());
    }
    if (event->Kind == ekState && event->State == psStop) break;
  }
  session->EventThreadDone.Set();
}

class PlayerGoneSource final : public runtime::LogSource {
 public:
  std::string LogSourceName() const override { return "TFFPlayer"; }
};

// Waits up to the time for the event; on the main thread serves the queue in slices meanwhile.
bool WaitServing(const runtime::ManualResetEvent& event, int milliseconds) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (event.WaitFor(std::chrono::milliseconds(10))) return true;
    runtime::ServeWhileWaiting();
    if (Clock::now() >= end) return event.IsSet();
  }
}

}  // namespace

TCustomPlayer::TCustomPlayer() : shared_(std::make_shared<TPlayerShared>()) {
  shared_->Sender = this;
  shared_->Owner = this;
}

TCustomPlayer::~TCustomPlayer() {
  {
    std::lock_guard lock(shared_->HandlerMutex);
    shared_->OnPosition = nullptr;
    shared_->OnState = nullptr;
    shared_->OnHook = nullptr;
  }
  OnFileOpen = nullptr;
  Stop(true);
  ReapSessions(5000);
  if (display_preparation_.joinable()) display_preparation_.join();
  static const PlayerGoneSource player_gone;
  shared_->Sender = &player_gone;
  for (const std::shared_ptr<TSession>& session : ended_) {
    // Still running after the wait: they keep the session alive and leave without touching the player.
    if (session->PlayThread.joinable()) session->PlayThread.detach();
    if (session->EventThread.joinable()) session->EventThread.detach();
    if (session->Closing != nullptr) {
      // A read that never returned: its thread may still wake up and use the playback, so the playback
      // stays (the one thing knowingly left behind, for a file that stopped answering).
      runtime::Log(this, runtime::llWarning, session->Closing->FileName + ": a read never returned");
      session->Closing->ReadThread.detach();
      static_cast<void>(session->Closing.release());
    }
  }
  std::lock_guard lock(shared_->PlayerLock);
  probe_.Close();
  snapshot_.Reset();
  if (holds_gl_library_) runtime::sdl().SDL_GL_UnloadLibrary();
}

bool TCustomPlayer::LoadMediaLibraries(const std::filesystem::path& Path) {
  runtime::FFmpegLoader().SetLibraryPath(Path);
  if (runtime::FFmpegLoader().LoadLibraries(runtime::PlayerLibraries)) return true;
  last_error_text_ = runtime::FFmpegLoader().LastError();
  return false;
}

bool TCustomPlayer::MediaLibrariesLoaded() const {
  return runtime::FFmpegLoader().LibrariesLoaded(runtime::PlayerLibraries);
}

void TCustomPlayer::Fail(const std::string& text, bool log) {
  if (log) runtime::Log(this, runtime::llError, text);
  last_error_text_ = text;
}

bool TCustomPlayer::StartSdl(const TPlayerHost& host) {
  const runtime::SdlEntries& sdl = runtime::sdl();
  // SDL would otherwise turn SIGINT and SIGTERM into quit events of its own queue, which nobody reads: the
  // program would no longer end on them.
  sdl.SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_DEFAULT);
  if (!audio_started_) {
    // Once per process: the audio driver is chosen when the subsystem starts.
    const char* audio = AudioDriverName(AudioDriver);
    if (*audio != '\0') ::setenv("SDL_AUDIODRIVER", audio, 1);
    // No SDL timers are used (the play thread keeps its own time): no timer thread is started.
    if (sdl.SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      runtime::Log(this, runtime::llWarning,
                   std::string("no sound: SDL audio did not start: ") + sdl.SDL_GetError());
    } else if (const char* name = sdl.SDL_GetCurrentAudioDriver(); name != nullptr) {
      runtime::Log(this, runtime::llDebug, std::string("using audio driver: ") + name);
    }
    audio_started_ = true;
  }
  if (host.X11Window != 0 && !video_started_) {
    const char* video = VideoDriverName(VideoDriver);
    if (*video != '\0') ::setenv("SDL_VIDEODRIVER", video, 1);
    if (sdl.SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      Fail("Could not initialize SDL with ScreenHandle(" + std::to_string(host.X11Window) +
           "): " + sdl.SDL_GetError());
      return false;
    }
    if (const char* name = sdl.SDL_GetCurrentVideoDriver(); name != nullptr)
      runtime::Log(this, runtime::llDebug, std::string("using video driver: ") + name);
    video_started_ = true;
  }
  return true;
}

void TCustomPlayer::FileOpenStep(TSession& session) {
  snapshot_.Reset();
  TPlayback& playback = *session.Playback;
  // Set with or without a handler: positions, snapshots and the end are relative to the file's start.
  const AVFormatContext* format = playback.Format.get();
  playback.StartOffset = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
  playback.FileDuration = format->duration != AV_NOPTS_VALUE ? format->duration : -1;
  if (OnFileOpen) {
    int width = -1;
    int height = -1;
    if (playback.VideoIndex >= 0 && playback.VideoCodec->width > 0) {
      width = playback.VideoCodec->width;
      height = playback.VideoCodec->height;
    }
    try {
      OnFileOpen(*this, playback.IsImage2 ? 0 : playback.FileDuration.load(), width, height, ScreenWidth,
                 ScreenHeight);
    } catch (const std::exception& error) {
      runtime::Log(this, runtime::llError, std::string("OnFileOpen failed: ") + error.what());
    }
  }
  if ((ScreenWidth == 0 || ScreenHeight == 0) && session.Host.Width > 0 && session.Host.Height > 0) {
    ScreenWidth = session.Host.Width;
    ScreenHeight = session.Host.Height;
  }
  playback.SurfaceWidth = ScreenWidth;
  playback.SurfaceHeight = ScreenHeight;
}

bool TCustomPlayer::Open(const std::string& FileName, const TPlayerHost& Host, bool Paused) {
  if (!MediaLibrariesLoaded()) {
    Fail("libav or libsdl not loaded.");
    return false;
  }
  if (waiting_ > 0) {
    // Called from an event served while Open or Stop waits: no second playback starts in the middle.
    runtime::Log(this, runtime::llWarning, "Open ignored while the player is closing or opening a file");
    return false;
  }
  Stop(true);
  ReapSessions(2000);
  if (!StartSdl(Host)) return false;
  if (DisableDisplay) DisableVideo = true;

  TPlayerShared& shared = *shared_;
  shared.DisableAudio = DisableAudio;
  shared.DisableVideo = DisableVideo;
  shared.DisableDisplay = DisableDisplay;
  shared.FrameWidth = FrameWidth;
  shared.FrameHeight = FrameHeight;
  shared.SeekDoneEvent.Set();
  shared.FrameDecodedEvent.Set();

  auto session = std::make_shared<TSession>();
  session->Shared = shared_;
  session->Generation = ++shared.CurrentGeneration;
  session->Host = Host;
  auto playback = std::make_unique<TPlayback>();
  playback->Shared = &shared;
  playback->Ring = &session->Ring;
  playback->Generation = session->Generation;
  playback->FileName = FileName;
  playback->Paused = Paused;
  playback->StepMode = Paused;  // opened paused: the first picture is shown
  TPlayback& opening = *playback;
  try {
    opening.ReadThread = std::thread([&opening] { ReadThreadMain(opening); });
  } catch (const std::system_error&) {
    Fail("SDL_CreateThread() failed.");
    return false;
  }
  ++waiting_;
  const Clock::time_point give_up = Clock::now() + std::chrono::milliseconds(OpenTimeout);
  while (opening.OpenResult == 0 && Clock::now() < give_up) {
    runtime::ServeWhileWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  --waiting_;
  if (opening.OpenResult == 0) {
    // A file that does not answer (a pipe whose writer stalls, a hung network mount): the read thread is
    // asked to end and left to finish on its own.
    RequestStopReading(opening);
    session->Closing = std::move(playback);
    session->PlayThreadDone.Set();
    session->EventThreadDone.Set();
    ended_.push_back(session);
    ReapSessions(1000);
    Fail(FileName + ": the file did not answer within " + std::to_string((OpenTimeout + 999) / 1000) +
         " s, it was not opened");
    return false;
  }
  if (opening.OpenResult != 1) {
    opening.ReadThread.join();  // the thread has cleaned up (-2)
    Fail(opening.OpenErrorText, false);
    return false;
  }
  {
    std::lock_guard lock(shared.PlayerLock);
    session->Playback = std::move(playback);
  }
  probe_.Attach(opening.Format.get());
  FileOpenStep(*session);
  try {
    session->EventThread = std::thread([session] { EventThreadMain(session); });
    session->PlayThread = std::thread([session] { PlayThreadMain(session); });
  } catch (const std::system_error&) {
    // Closed again without an event: the event thread (if it runs) leaves at the quit entry.
    session->Ring.Put(TPlayerEvent{ekQuit, psStop, 0, session->Generation});
    {
      std::lock_guard lock(shared.PlayerLock);
      session->Closing = TakePlayback(*session);
      probe_.Close();
    }
    session->PlayThreadDone.Set();
    if (!session->EventThread.joinable()) session->EventThreadDone.Set();
    ended_.push_back(session);
    Fail("SDL_CreateThread() failed.");
    return false;
  }
  session_ = session;
  if (Paused) session->Push(TPlayCommand{ckRedraw});
  return true;
}

void TCustomPlayer::Stop(bool Wait) {
  const std::shared_ptr<TSession> session = session_;
  if (session == nullptr) return;
  session->Push(TPlayCommand{ckQuit});
  if (!Wait || waiting_ > 0) return;
  ++waiting_;
  int attempt = 1;
  for (;;) {
    if (WaitServing(session->PlayThreadDone, 100)) break;
    runtime::ServeWhileWaiting();
    std::lock_guard lock(shared_->PlayerLock);
    if (session->Playback == nullptr) break;
    ++attempt;
    if (attempt <= 20 && (attempt <= 10 || !session->Playback->Reading)) {
      session->Push(TPlayCommand{ckQuit});
      continue;
    }
    // The play thread does not answer: close from here; it leaves without touching the playback.
    runtime::Log(this, runtime::llWarning,
                 "the play thread does not answer: the file is closed from outside");
    session->Orphaned = true;
    session->Closing = TakePlayback(*session);
    session->Ring.Put(TPlayerEvent{ekState, psStop, 0, session->Generation});
    break;
  }
  --waiting_;
  {
    std::lock_guard lock(shared_->PlayerLock);
    probe_.Close();
  }
  session_.reset();
  ended_.push_back(session);
  ReapSessions(1000);
}

void TCustomPlayer::WaitForSession(const std::shared_ptr<TSession>& session, int milliseconds) {
  ++waiting_;
  WaitServing(session->PlayThreadDone, milliseconds);
  WaitServing(session->EventThreadDone, milliseconds);
  if (session->Closing != nullptr) WaitServing(session->Closing->ReadThreadDone, milliseconds);
  --waiting_;
  if (session->PlayThreadDone.IsSet() && session->PlayThread.joinable()) session->PlayThread.join();
  if (session->EventThreadDone.IsSet() && session->EventThread.joinable()) session->EventThread.join();
  if (session->Closing != nullptr && session->Closing->ReadThreadDone.IsSet())
    FinishPlayback(std::move(session->Closing));
}

void TCustomPlayer::ReapSessions(int milliseconds) {
  for (auto it = ended_.begin(); it != ended_.end();) {
    WaitForSession(*it, milliseconds);
    if (!(*it)->PlayThread.joinable() && !(*it)->EventThread.joinable() && (*it)->Closing == nullptr) {
      it = ended_.erase(it);
    } else {
      ++it;
    }
  }
}

void TCustomPlayer::TogglePause() {
  if (session_ == nullptr) return;
  std::lock_guard lock(shared_->PlayerLock);
  if (session_->Playback == nullptr) return;
  TPlayback& playback = *session_->Playback;
  PauseStep(playback);
  playback.StepMode = false;
  playback.SetState(playback.Paused ? psPause : psResume);
}

void TCustomPlayer::Seek(int Flags, std::int64_t Position) {
  if (session_ == nullptr) return;
  std::lock_guard lock(shared_->PlayerLock);
  if (session_->Playback != nullptr) RequestSeek(*session_->Playback, Flags, Position);
}

const runtime::Bitmap& TCustomPlayer::CurrentFrame() {
  std::int64_t pts;
  return CurrentFrame(pts);
}

const runtime::Bitmap& TCustomPlayer::CurrentFrame(std::int64_t& APTS) {
  std::lock_guard lock(shared_->PlayerLock);
  APTS = -1;
  TPlayback* playback = session_ != nullptr ? session_->Playback.get() : nullptr;
  if (playback == nullptr || playback->VideoIndex < 0) {
    snapshot_.Bitmap().SetSize(0, 0);
    return snapshot_.Result();
  }
  runtime::Bitmap& bitmap = snapshot_.Bitmap();
  if (playback->Shown != nullptr) {
    const AVFrame& frame = *playback->Shown;
    APTS = static_cast<std::int64_t>(std::nearbyint(playback->ShownPts * 1000000.0)) - playback->StartOffset;
    if (!snapshot_.PictureToBitmap(frame.data, frame.linesize, AV_PIX_FMT_YUV420P, frame.width, frame.height))
      bitmap.SetSize(0, 0);
    return snapshot_.Result();
  }
  // Black in the stream's size until a picture is shown; a stream that has not told its size yet (or tells
  // one no bitmap can hold) has no picture at all.
  const int width = playback->VideoCodec->width;
  const int height = playback->VideoCodec->height;
  if (width > 0 && height > 0 && width <= runtime::Bitmap::kMaxDimension &&
      height <= runtime::Bitmap::kMaxDimension) {
    bitmap.SetSize(width, height);
    bitmap.Fill(0);
  } else {
    bitmap.SetSize(0, 0);
  }
  return snapshot_.Result();
}

void TCustomPlayer::PrepareDisplay(const TPlayerHost& Host) {
  if (Host.X11Window == 0 || display_preparation_.joinable() || !MediaLibrariesLoaded() || !StartSdl(Host))
    return;
  try {
    display_preparation_ = std::thread([this, host = Host] {
      const SdlThreadState sdl_state;
      // Under PlayerLock like every play thread's SDL work; a Play pressed meanwhile waits for it.
      std::lock_guard lock(shared_->PlayerLock);
      // SDL lets go of the OpenGL library with its last window; held, the driver stays started.
      holds_gl_library_ = runtime::sdl().SDL_GL_LoadLibrary(nullptr) == 0;
      TVideoOutput(host).WarmUp(*shared_);
    });
  } catch (const std::system_error&) {
    runtime::Log(this, runtime::llWarning, "the display is not prepared ahead: no thread for it");
  }
}

void TCustomPlayer::HostResized(int Width, int Height) {
  ScreenWidth = Width;
  ScreenHeight = Height;
  if (session_ != nullptr) session_->Push(TPlayCommand{ckResize, 0, Width, Height});
}

bool TCustomPlayer::IsOpen() const {
  if (session_ == nullptr) return false;
  std::lock_guard lock(shared_->PlayerLock);
  return session_->Playback != nullptr;
}

TPlayState TCustomPlayer::State() const {
  return shared_->State;
}

std::int64_t TCustomPlayer::CurrentPosition() const {
  if (session_ == nullptr) return -1;
  std::lock_guard lock(shared_->PlayerLock);
  return session_->Playback != nullptr ? session_->Playback->CurrentPosition.load() : -1;
}

float TCustomPlayer::AspectRatio() const {
  return shared_->AspectRatio;
}
void TCustomPlayer::SetAspectRatio(float value) {
  if (shared_->AspectRatio.exchange(value) != value && session_ != nullptr)
    session_->Push(TPlayCommand{ckRedraw});
}
int TCustomPlayer::AudioVolume() const {
  return shared_->AudioVolume;
}
void TCustomPlayer::SetAudioVolume(int value) {
  shared_->AudioVolume = std::clamp(value, 0, SDL_MIX_MAXVOLUME);
}
bool TCustomPlayer::Mute() const {
  return shared_->Mute;
}
void TCustomPlayer::SetMute(bool value) {
  shared_->Mute = value;
}
bool TCustomPlayer::Hook() const {
  return shared_->Hook;
}
void TCustomPlayer::SetHook(bool value) {
  shared_->Hook = value;
}
bool TCustomPlayer::TriggerEventInMainThread() const {
  return shared_->TriggerEventInMainThread;
}
void TCustomPlayer::SetTriggerEventInMainThread(bool value) {
  shared_->TriggerEventInMainThread = value;
}

void TCustomPlayer::SetOnHook(THookEvent handler) {
  std::lock_guard lock(shared_->HandlerMutex);
  shared_->OnHook = std::move(handler);
}
void TCustomPlayer::SetOnPosition(TPositionEvent handler) {
  std::lock_guard lock(shared_->HandlerMutex);
  shared_->OnPosition = std::move(handler);
}
void TCustomPlayer::SetOnState(TPlayStateEvent handler) {
  std::lock_guard lock(shared_->HandlerMutex);
  shared_->OnState = std::move(handler);
}

}  // namespace player
