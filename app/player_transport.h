// The preview's transport on the player component: opens files into the picture area (its native window
// on X11, its frames elsewhere), follows the area's size and hands the player's events to the panel.
#pragma once

#include <atomic>
#include <memory>

#include "app/cross_thread_calls.h"
#include "app/preview_transport.h"
#include "player/ff_player.h"

namespace app {

class PreviewArea;
struct FrameMailbox;

class PlayerTransport final : public PreviewTransport {
  Q_OBJECT
 public:
  explicit PlayerTransport(PreviewArea& area);
  ~PlayerTransport() override;

  bool LibrariesLoaded() const override;
  bool LoadLibraries(const std::filesystem::path& folder) override;
  bool Open(const QString& file) override;
  void Stop(bool wait) override;
  bool IsOpen() const override { return player_.IsOpen(); }
  void TogglePause() override;
  void Seek(std::int64_t microseconds) override;
  runtime::Bitmap CurrentFrame() override;
  void SetAudioVolume(int volume) override;
  bool PlayClick() override;
  void PrepareDisplay(const std::filesystem::path& library_folder) override;

  player::TFFPlayer& Player() { return player_; }

 private:
  PreviewArea& area_;
  std::shared_ptr<FrameMailbox> mailbox_;
  // Frames painted by the area, on their way from the render thread; outlives the player's threads.
  CrossThreadCalls frames_to_main_;
  // The player raises its end at every refresh until it is stopped; the panel hears of it once per file.
  // Set on the player's thread, cleared by Open before the player starts.
  std::atomic<bool> end_reported_{false};
  player::TFFPlayer player_;
};

}  // namespace app
