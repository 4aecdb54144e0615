// The preview panel: the picture area, the position slider, Play, Pause, Stop, the volume button with its
// menu and the snapshot button. It plays the selected file of the list through a PreviewTransport and
// keeps the panel's states; while a conversion runs its actions do nothing.
#pragma once

#include <QFrame>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "runtime/bitmap.h"

class QMenu;
class QSlider;
class QToolButton;

namespace app {

class Dialogs;
class PreviewArea;
class PreviewTransport;

// What the panel needs of the window.
class PreviewHost {
 public:
  virtual ~PreviewHost() = default;
  virtual bool Converting() const = 0;
  virtual bool JobActive() const = 0;
  // The selected row's file; empty when no row is selected.
  virtual QString SelectedFile() const = 0;
  // The output folder field's text, as shown.
  virtual QString OutputFolderText() const = 0;
  virtual Dialogs& Dialog() = 0;
  virtual void BrowseForFolder() = 0;
  // Where the player's libraries are.
  virtual std::filesystem::path LibraryFolder() const = 0;
};

class PreviewPanel final : public QFrame {
  Q_OBJECT
 public:
  static constexpr int kTimerPlayMilliseconds = 1000;
  // After the panel is first shown: the player's display starts then, away from the window's first paint.
  static constexpr int kPrepareDisplayMilliseconds = 300;
  static constexpr std::int64_t kKeySeekMicroseconds = 5'000'000;
  enum VolumeTag { kMuteTag = 11, kHalfVolumeTag = 12, kFullVolumeTag = 13 };

  // native_surface: the player draws into a native window of the picture area (X11).
  PreviewPanel(PreviewHost& host, QWidget* parent, bool native_surface);
  ~PreviewPanel() override;
  PreviewPanel(const PreviewPanel&) = delete;
  PreviewPanel& operator=(const PreviewPanel&) = delete;

  void SpeedButtonPlayClick();
  void SpeedButtonPauseClick();
  void SpeedButtonStopClick();
  void SpeedButtonVolumeClick();
  void FullVolume1Click(int tag);
  void ButtonSnapshotClick();
  void SliderMouseDown();
  void SliderMouseUp();
  void TimerPlayTimer();

  // The queue's and the list's stop: the playback ends and the default picture returns (Stop also marks the
  // preview stopped, so that Pause does nothing until the next Play).
  void StopPreview(bool wait);
  // A conversion's frame.
  void ShowConversionFrame(const runtime::Bitmap& frame);

  PreviewArea& Area() { return *area_; }
  QSlider& Slider() { return *track_bar_; }
  QMenu& VolumeMenu() { return *volume_menu_; }
  QTimer& TimerPlay() { return timer_play_; }
  PreviewTransport& Transport() { return *transport_; }
  bool PreviewPaused() const { return preview_paused_; }
  bool PreviewStopped() const { return preview_stopped_; }
  bool PreviewActive() const { return preview_active_; }
  double PlayerPos() const { return player_pos_; }
  int VolumeTagShown() const { return volume_tag_; }
  // The file of the last snapshot, empty before one was saved.
  const QString& LastSnapshot() const { return last_snapshot_; }

 signals:
  void SnapshotSaved(const QString& file);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool ConversionRunning() const { return host_.Converting() || host_.JobActive(); }
  void ConnectTransport();
  void PlayerFileOpen(qint64 duration);
  void PlayerPosition(qint64 position);
  void PlayerEnded();
  void KeyCommand(int key);
  void ShowVolumePicture(int tag);
  void UpdatePositionTip(int milliseconds);
  void OpenInDesktopPlayer();

  PreviewHost& host_;
  std::unique_ptr<PreviewTransport> transport_;
  PreviewArea* area_ = nullptr;
  QSlider* track_bar_ = nullptr;
  QToolButton* button_volume_ = nullptr;
  QMenu* volume_menu_ = nullptr;
  QTimer timer_play_;

  bool preview_paused_ = false;
  bool preview_stopped_ = false;
  bool preview_active_ = false;
  double player_pos_ = 0;  // microseconds
  int volume_tag_ = kFullVolumeTag;
  int volume_before_mute_ = kFullVolumeTag;
  // The file that plays: the row may be another by the time its events arrive.
  QString playing_file_;
  QString last_snapshot_;
  bool display_prepared_ = false;
};

}  // namespace app
