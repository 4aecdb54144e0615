#include "app/preview_panel.h"

#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QToolTip>
#include <QUrl>
#include <cmath>
#include <limits>

#include "app/dialogs.h"
#include "app/local_names.h"
#include "app/player_transport.h"
#include "app/preview_area.h"
#include "profiles/unique_output_name.h"

namespace app {
namespace {

constexpr int kFullVolume = 128;
constexpr int kHalfVolume = 64;

QToolButton* PanelButton(QWidget* parent, const char* name, const char* hint, const char* picture, int x) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setIcon(QIcon(QLatin1String(picture)));
  button->setIconSize(QSize(20, 20));
  button->setAutoRaise(true);
  button->setGeometry(x, 169, 35, 27);
  button->setFocusPolicy(Qt::StrongFocus);
  button->setToolTip(QLatin1String(hint));
  return button;
}

const char* SpeakerPicture(int tag) {
  switch (tag) {
    case PreviewPanel::kMuteTag:
      return ":/pictures/spkmute.svg";
    case PreviewPanel::kHalfVolumeTag:
      return ":/pictures/spkhalf.svg";
    default:
      return ":/pictures/spkfull.svg";
  }
}

// "1:05" below an hour, "1:02:05" from an hour on.
QString PositionText(std::int64_t milliseconds) {
  const std::int64_t seconds = std::max<std::int64_t>(milliseconds, 0) / 1000;
  const auto hours = seconds / 3600;
  const auto minutes = (seconds / 60) % 60;
  const auto rest = seconds % 60;
  if (hours > 0) {
    return QStringLiteral("%1:%2:%3")
        .arg(hours)
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(rest, 2, 10, QLatin1Char('0'));
  }
  return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

// The slider's mouse: its press and release are the panel's, and a press beside the thumb puts the thumb
// where the mouse is, so a release seeks there.
class SliderMouse final : public QObject {
 public:
  SliderMouse(QSlider& slider, PreviewPanel& panel) : QObject(&slider), slider_(slider), panel_(panel) {
    slider.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (!slider_.isEnabled()) return false;
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
      return false;
    const auto* mouse = static_cast<const QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    if (event->type() == QEvent::MouseButtonRelease) {
      // The slider ends its drag first, then the panel seeks to where it was let go.
      QMetaObject::invokeMethod(
          &panel_, [panel = &panel_] { panel->SliderMouseUp(); }, Qt::QueuedConnection);
      return false;
    }
    panel_.SliderMouseDown();
    QStyleOptionSlider option;
    option.initFrom(&slider_);
    option.orientation = slider_.orientation();
    option.minimum = slider_.minimum();
    option.maximum = slider_.maximum();
    option.sliderPosition = slider_.sliderPosition();
    const QRect handle =
        slider_.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider_);
    const QPoint at = mouse->position().toPoint();
    if (handle.contains(at)) return false;
    slider_.setValue(QStyle::sliderValueFromPosition(
        slider_.minimum(), slider_.maximum(), at.x() - handle.width() / 2, slider_.width() - handle.width()));
    return true;
  }

 private:
  QSlider& slider_;
  PreviewPanel& panel_;
};

}  // namespace

PreviewPanel::PreviewPanel(PreviewHost& host, QWidget* parent, bool native_surface)
    : QFrame(parent), host_(host) {
  setObjectName(QStringLiteral("PanelPreview"));
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(2);
  area_ = new PreviewArea(this, native_surface);
  area_->setGeometry(4, 4, 255, 137);
  track_bar_ = new QSlider(Qt::Horizontal, this);
  track_bar_->setObjectName(QStringLiteral("TrackBar1"));
  track_bar_->setGeometry(6, 147, 249, 16);
  track_bar_->setRange(0, 0);
  // The keys of the picture area move the playback; a slider with the keyboard would move only its thumb.
  track_bar_->setFocusPolicy(Qt::NoFocus);
  track_bar_->setToolTip(PositionText(0));
  new SliderMouse(*track_bar_, *this);
  connect(track_bar_, &QSlider::valueChanged, this, &PreviewPanel::UpdatePositionTip);
  connect(track_bar_, &QSlider::sliderMoved, this, [this](int value) {
    UpdatePositionTip(value);
    QToolTip::showText(QCursor::pos(), track_bar_->toolTip(), track_bar_);
  });

  QToolButton* play = PanelButton(this, "SpeedButtonPlay", "Play", ":/pictures/play.svg", 22);
  QToolButton* pause = PanelButton(this, "SpeedButtonPause", "Pause", ":/pictures/pause.svg", 67);
  QToolButton* stop = PanelButton(this, "SpeedButtonStop", "Stop", ":/pictures/stoppreview.svg", 114);
  button_volume_ =
      PanelButton(this, "SpeedButtonVolume", "Adjust volume", SpeakerPicture(kFullVolumeTag), 162);
  QToolButton* snapshot =
      PanelButton(this, "ButtonSnapshot", "Take a snapshot", ":/pictures/snapshot.svg", 209);
  connect(play, &QToolButton::clicked, this, &PreviewPanel::SpeedButtonPlayClick);
  connect(pause, &QToolButton::clicked, this, &PreviewPanel::SpeedButtonPauseClick);
  connect(stop, &QToolButton::clicked, this, &PreviewPanel::SpeedButtonStopClick);
  connect(button_volume_, &QToolButton::clicked, this, &PreviewPanel::SpeedButtonVolumeClick);
  connect(snapshot, &QToolButton::clicked, this, &PreviewPanel::ButtonSnapshotClick);

  volume_menu_ = new QMenu(this);
  volume_menu_->setObjectName(QStringLiteral("PopupMenuVolume"));
  for (const auto& [text, name, tag] :
       {std::tuple{"Mute", "Mute1", kMuteTag}, std::tuple{"Half Volume", "HalfVolume1", kHalfVolumeTag},
        std::tuple{"Full Volume", "FullVolume1", kFullVolumeTag}}) {
    QAction* item = volume_menu_->addAction(QIcon(QLatin1String(SpeakerPicture(tag))), QLatin1String(text));
    item->setObjectName(QLatin1String(name));
    item->setData(tag);
    connect(item, &QAction::triggered, this, [this, tag = tag] { FullVolume1Click(tag); });
  }

  timer_play_.setInterval(kTimerPlayMilliseconds);
  connect(&timer_play_, &QTimer::timeout, this, &PreviewPanel::TimerPlayTimer);
  connect(area_, &PreviewArea::KeyCommand, this,
          [this](PreviewKey key) { KeyCommand(static_cast<int>(key)); });
  connect(area_, &PreviewArea::DoubleClicked, this, &PreviewPanel::OpenInDesktopPlayer);

  transport_ = std::make_unique<PlayerTransport>(*area_);
  ConnectTransport();
}

void PreviewPanel::showEvent(QShowEvent* event) {
  QFrame::showEvent(event);
  if (display_prepared_) return;
  display_prepared_ = true;
  QTimer::singleShot(kPrepareDisplayMilliseconds, this,
                     [this] { transport_->PrepareDisplay(host_.LibraryFolder()); });
}

PreviewPanel::~PreviewPanel() {
  timer_play_.stop();
  if (transport_) transport_->Stop(true);
}

void PreviewPanel::ConnectTransport() {
  PreviewTransport* transport = transport_.get();
  connect(transport, &PreviewTransport::FileOpened, this, &PreviewPanel::PlayerFileOpen);
  connect(transport, &PreviewTransport::PositionReported, this, &PreviewPanel::PlayerPosition);
  connect(transport, &PreviewTransport::PlaybackEnded, this, &PreviewPanel::PlayerEnded);
}

void PreviewPanel::SpeedButtonPlayClick() {
  if (ConversionRunning()) return;
  const QString file = host_.SelectedFile();
  if (file.isEmpty()) return;
  if (!transport_->LibrariesLoaded() && !transport_->LoadLibraries(host_.LibraryFolder())) return;
  preview_stopped_ = false;
  // Resuming needs an open file: a pause marked while nothing played only clears the mark and plays.
  if (preview_paused_ && transport_->IsOpen()) {
    transport_->TogglePause();
    preview_paused_ = false;
    timer_play_.start();
    preview_active_ = true;
    return;
  }
  preview_paused_ = false;
  transport_->Stop(true);
  area_->ShowPlayerPicture();
  timer_play_.start();
  playing_file_ = file;
  if (transport_->Open(file)) {
    preview_active_ = true;
  } else {
    timer_play_.stop();
    area_->ShowDefaultPicture();
    preview_active_ = false;
    playing_file_.clear();
  }
}

void PreviewPanel::SpeedButtonPauseClick() {
  if (ConversionRunning() || preview_stopped_) return;
  if (!preview_paused_) {
    timer_play_.stop();
    preview_paused_ = true;
    transport_->TogglePause();
    return;
  }
  transport_->TogglePause();
  preview_paused_ = false;
  timer_play_.start();
  preview_active_ = true;
}

void PreviewPanel::SpeedButtonStopClick() {
  if (ConversionRunning()) return;
  preview_stopped_ = true;
  StopPreview(true);
}

void PreviewPanel::StopPreview(bool wait) {
  // Nothing is left to resume.
  preview_paused_ = false;
  transport_->Stop(wait);
  timer_play_.stop();
  area_->ShowDefaultPicture();
  preview_active_ = false;
  playing_file_.clear();
}

void PreviewPanel::ShowConversionFrame(const runtime::Bitmap& frame) {
  area_->ShowFrame(frame);
}

void PreviewPanel::PlayerFileOpen(qint64 duration) {
  player_pos_ = 0;
  // Milliseconds: the slider's range must hold files of many hours.
  const qint64 milliseconds = std::min<qint64>(duration / 1000, std::numeric_limits<int>::max());
  track_bar_->setRange(0, static_cast<int>(milliseconds));
  track_bar_->setValue(0);
}

void PreviewPanel::PlayerPosition(qint64 position) {
  if (position < 0) return;
  if (track_bar_->maximum() > 0) player_pos_ = static_cast<double>(position);
}

void PreviewPanel::TimerPlayTimer() {
  track_bar_->setValue(static_cast<int>(std::lround(player_pos_ / 1000.0)));
}

void PreviewPanel::PlayerEnded() {
  transport_->Stop(false);
  area_->ShowDefaultPicture();
  // The thumb shows where the file ended and stays there.
  TimerPlayTimer();
  timer_play_.stop();
}

void PreviewPanel::SliderMouseDown() {
  timer_play_.stop();
}

void PreviewPanel::SliderMouseUp() {
  const std::int64_t target = std::int64_t{track_bar_->value()} * 1000;
  transport_->Seek(target);
  if (transport_->IsOpen()) player_pos_ = static_cast<double>(target);
  // A paused preview keeps its timer off until it goes on.
  if (!preview_paused_) timer_play_.start();
}

void PreviewPanel::SpeedButtonVolumeClick() {
  if (host_.JobActive()) return;
  volume_menu_->popup(button_volume_->mapToGlobal(QPoint(0, 0)) - QPoint(40, 40));
}

void PreviewPanel::FullVolume1Click(int tag) {
  switch (tag) {
    case kMuteTag:
      transport_->SetAudioVolume(0);
      break;
    case kHalfVolumeTag:
      transport_->SetAudioVolume(kHalfVolume);
      break;
    case kFullVolumeTag:
      transport_->SetAudioVolume(kFullVolume);
      break;
    default:
      return;
  }
  if (tag != kMuteTag) volume_before_mute_ = tag;
  window()->update();
  ShowVolumePicture(tag);
}

void PreviewPanel::ShowVolumePicture(int tag) {
  volume_tag_ = tag;
  button_volume_->setIcon(QIcon(QLatin1String(SpeakerPicture(tag))));
}

void PreviewPanel::ButtonSnapshotClick() {
  if (host_.Converting()) return;
  const QString selected = host_.SelectedFile();
  if (selected.isEmpty() || !preview_active_) return;
  const QString folder_text = host_.OutputFolderText();
  if (folder_text.isEmpty()) {
    host_.Dialog().Information(QStringLiteral("Please select an output folder!"));
    host_.BrowseForFolder();
    return;
  }
  const QString folder = folder_text.trimmed();
  if (!IsLocalFolder(folder)) {
    host_.Dialog().Information(QStringLiteral("The output folder \"") + folder_text + QStringLiteral("\"") +
                               QStringLiteral("\n\r") +
                               QStringLiteral("does not exist or has been deleted!") +
                               QStringLiteral("\n\r") + QStringLiteral("Please choose a new output folder."));
    host_.BrowseForFolder();
    return;
  }
  const std::string name = profiles::FileNameOf(ToLocalName(QDir::fromNativeSeparators(selected)));
  const std::string path = profiles::UniqueOutputName(ToLocalName(folder) + "/" + name, ".bmp");

  const runtime::Bitmap copy = transport_->CurrentFrame();
  // Without a picture there is nothing to keep: no empty file is written.
  if (copy.Empty()) return;
  const bool paused_here = !preview_paused_;
  if (paused_here) transport_->TogglePause();
  transport_->PlayClick();
  std::string error;
  if (copy.SaveBmp(path, &error)) {
    last_snapshot_ = FromLocalName(path);
    emit SnapshotSaved(last_snapshot_);
  }
  if (paused_here) transport_->TogglePause();
}

void PreviewPanel::KeyCommand(int key) {
  switch (static_cast<PreviewKey>(key)) {
    case PreviewKey::PlayPause:
      if (preview_active_ && transport_->IsOpen()) {
        SpeedButtonPauseClick();
      } else {
        SpeedButtonPlayClick();
      }
      return;
    case PreviewKey::Back:
    case PreviewKey::Forward: {
      if (ConversionRunning() || !transport_->IsOpen()) return;
      const double step =
          static_cast<PreviewKey>(key) == PreviewKey::Back ? -kKeySeekMicroseconds : kKeySeekMicroseconds;
      // A file of unknown length has no end to stop at.
      const double limit = track_bar_->maximum() > 0 ? static_cast<double>(track_bar_->maximum()) * 1000.0
                                                     : std::numeric_limits<double>::max();
      const double target = std::clamp(player_pos_ + step, 0.0, limit);
      transport_->Seek(static_cast<std::int64_t>(target));
      player_pos_ = target;
      TimerPlayTimer();
      return;
    }
    case PreviewKey::Mute:
      if (host_.JobActive()) return;
      FullVolume1Click(volume_tag_ == kMuteTag ? volume_before_mute_ : kMuteTag);
      return;
  }
}

void PreviewPanel::UpdatePositionTip(int milliseconds) {
  track_bar_->setToolTip(PositionText(milliseconds) + QStringLiteral(" / ") +
                         PositionText(track_bar_->maximum()));
}

void PreviewPanel::OpenInDesktopPlayer() {
  if (ConversionRunning()) return;
  const QString file = host_.SelectedFile();
  if (file.isEmpty() || !IsLocalFile(file)) return;
  QDesktopServices::openUrl(LocalUrlOf(file));
}

}  // namespace app
