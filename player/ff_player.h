// TFFPlayer: plays one media file with sound in a host's picture area, with pause, seeking, position and
// state events and a grab of the picture on screen. Operations run on the main thread; OnFileOpen, and
// OnPosition and OnState when TriggerEventInMainThread is set, are raised there too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "player/player_types.h"
#include "probe/av_probe.h"
#include "runtime/log_source.h"
#include "runtime/picture_converter.h"

namespace player {

struct TPlayerShared;
struct TSession;

class TCustomPlayer : public runtime::TFFBaseComponent {
 public:
  TCustomPlayer();
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  std::string LogSourceName() const override { return "TFFPlayer"; }

  bool LoadMediaLibraries(const std::filesystem::path& Path);
  bool MediaLibrariesLoaded() const;

  // Closes any open file (waiting for it), opens the file and plays it, or stays paused.
  bool Open(const std::string& FileName, const TPlayerHost& Host, bool Paused);
  // Asks the file to close; with Wait true returns once it is closed (a stuck playback is closed from here
  // after at most about 2 s).
  void Stop(bool Wait);
  void TogglePause();
  // Flags: AVSEEK_FLAG_BACKWARD 1, AVSEEK_FLAG_BYTE 2, AVSEEK_FLAG_ANY 4, AVSEEK_FLAG_FRAME 8. Position in
  // microseconds (bytes with flag 2).
  void Seek(int Flags, std::int64_t Position);
  // The picture on screen as a 24-bit bitmap (0 x 0 without a video stream); owned by the player and
  // overwritten by the next call.
  const runtime::Bitmap& CurrentFrame();
  const runtime::Bitmap& CurrentFrame(std::int64_t& APTS);
  // The host's picture area has a new size: the surface follows it.
  void HostResized(int Width, int Height);
  // Optional, once the host's window exists: starts the display side ahead of the first Open (SDL, and a
  // first renderer on a hidden child of the window, on a thread of the player's), so that the first file
  // shows its picture as soon as later ones do. Does nothing without an X11 window or when done already.
  void PrepareDisplay(const TPlayerHost& Host);

  bool IsOpen() const;
  TPlayState State() const;
  std::int64_t CurrentPosition() const;
  const std::string& LastErrorText() const { return last_error_text_; }
  const std::string& Version() const { return version_; }
  std::string About;

  float AspectRatio() const;
  void SetAspectRatio(float value);
  int AudioVolume() const;
  void SetAudioVolume(int value);
  bool Mute() const;
  void SetMute(bool value);
  bool Hook() const;
  void SetHook(bool value);
  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);

  TAudioDriver AudioDriver = adDefault;
  TVideoDriver VideoDriver = vdDefault;
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  int FrameWidth = 0;
  int FrameHeight = 0;
  int ScreenWidth = 0;
  int ScreenHeight = 0;
  // How long Open waits for a file to answer before it gives up (milliseconds).
  int OpenTimeout = 10000;

  TFileOpenEvent OnFileOpen;
  void SetOnHook(THookEvent handler);
  void SetOnPosition(TPositionEvent handler);
  void SetOnState(TPlayStateEvent handler);

 private:
  void Fail(const std::string& text, bool log = true);
  bool StartSdl(const TPlayerHost& host);
  void FileOpenStep(TSession& session);
  void WaitForSession(const std::shared_ptr<TSession>& session, int milliseconds);
  void ReapSessions(int milliseconds);

  std::shared_ptr<TPlayerShared> shared_;
  std::shared_ptr<TSession> session_;             // main thread
  std::vector<std::shared_ptr<TSession>> ended_;  // main thread: closed sessions whose threads may still run
  probe::TAVProbe probe_;
  runtime::PictureConverter snapshot_;  // main thread, under PlayerLock
  std::string last_error_text_;
  std::string version_ = "2.0";
  int waiting_ = 0;                  // main thread: how deep the waits of Open and Stop are nested
  std::thread display_preparation_;  // main thread starts and joins it
  bool holds_gl_library_ = false;    // under PlayerLock: the preparation keeps SDL's OpenGL library loaded
  bool audio_started_ = false;
  bool video_started_ = false;
};

class TFFPlayer final : public TCustomPlayer {};

}  // namespace player
