// The preview's transport on the player component: opens files into the picture area (its native window
// on X11, its frames elsewhere), follows the area's size and hands the player's events to the panel.
#pragma once

#include <memory>

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
  player::TFFPlayer player_;
};

}  // namespace app
