#include "app/player_transport.h"

#include <QFile>
#include <mutex>

#include "app/local_names.h"
#include "app/preview_area.h"
#include "player/sound_clip.h"
#include "runtime/logger.h"

namespace app {

// Pictures the player hands over on its render thread (no native window): the newest waits here until the
// main thread paints it; one queued call at a time, so a busy window never piles up frames.
struct FrameMailbox {
  std::mutex Lock;
  runtime::Bitmap Newest;             // under Lock
  bool CallQueued = false;            // under Lock
  std::uint64_t Accepting = 0;        // under Lock: the playback whose frames are shown, 0 for none
  std::uint64_t Playbacks = 0;        // under Lock
  PreviewArea* Area = nullptr;        // under Lock; null once the transport is gone
  CrossThreadCalls* Calls = nullptr;  // under Lock; the transport's way to the main thread, null with Area
};

namespace {

void Deliver(const std::shared_ptr<FrameMailbox>& mailbox, std::uint64_t playback,
             const runtime::Bitmap& frame) {
  std::lock_guard<std::mutex> hold(mailbox->Lock);
  if (mailbox->Area == nullptr || mailbox->Accepting != playback) return;
  mailbox->Newest = frame;
  if (mailbox->CallQueued) return;
  mailbox->CallQueued = true;
  // Under the lock, so the transport's destructor cannot take the way to the main thread away in between.
  mailbox->Calls->Post([mailbox, playback] {
    runtime::Bitmap shown;
    PreviewArea* area = nullptr;
    {
      std::lock_guard<std::mutex> taken(mailbox->Lock);
      mailbox->CallQueued = false;
      if (mailbox->Accepting != playback) return;
      shown = std::move(mailbox->Newest);
      mailbox->Newest = runtime::Bitmap();
      area = mailbox->Area;
    }
    if (area != nullptr) area->ShowFrame(shown);
  });
}

}  // namespace

PlayerTransport::PlayerTransport(PreviewArea& area)
    : area_(area), mailbox_(std::make_shared<FrameMailbox>()) {
  mailbox_->Area = &area;
  mailbox_->Calls = &frames_to_main_;
  player_.OnFileOpen = [this](player::TCustomPlayer&, std::int64_t duration, int, int, int& screen_width,
                              int& screen_height) {
    // The picture fills the whole area.
    screen_width = area_.width();
    screen_height = area_.height();
    emit FileOpened(duration > 0 ? duration : 0);
  };
  player_.SetOnPosition(
      [this](player::TCustomPlayer&, std::int64_t position) { emit PositionReported(position); });
  player_.SetOnState([this](player::TCustomPlayer&, player::TPlayState state) {
    if (state == player::psEnd && !end_reported_.exchange(true)) emit PlaybackEnded();
  });
  connect(&area_, &PreviewArea::PictureResized, this,
          [this](QSize size) { player_.HostResized(size.width(), size.height()); });
  connect(&area_, &PreviewArea::PictureExposed, this, [this] {
    // Uncovered: the same size again makes the player draw the picture once more.
    if (player_.IsOpen()) player_.HostResized(area_.width(), area_.height());
  });
}

PlayerTransport::~PlayerTransport() {
  {
    std::lock_guard<std::mutex> hold(mailbox_->Lock);
    mailbox_->Area = nullptr;
    mailbox_->Calls = nullptr;
    mailbox_->Accepting = 0;
  }
  player_.Stop(true);
}

bool PlayerTransport::LibrariesLoaded() const {
  return player_.MediaLibrariesLoaded();
}

bool PlayerTransport::LoadLibraries(const std::filesystem::path& folder) {
  return player_.LoadMediaLibraries(folder);
}

bool PlayerTransport::Open(const QString& file) {
  player::TPlayerHost host;
  host.Width = area_.width();
  host.Height = area_.height();
  host.X11Window = area_.PlayerWindow();
  std::uint64_t playback = 0;
  {
    std::lock_guard<std::mutex> hold(mailbox_->Lock);
    playback = ++mailbox_->Playbacks;
    mailbox_->Accepting = host.X11Window == 0 ? playback : 0;
  }
  if (host.X11Window == 0) {
    host.PaintFrame = [mailbox = mailbox_, playback](const runtime::Bitmap& frame) {
      Deliver(mailbox, playback, frame);
    };
  }
  end_reported_ = false;
  const bool opened = player_.Open(ToLocalName(file), host, false);
  if (!opened) {
    std::lock_guard<std::mutex> hold(mailbox_->Lock);
    mailbox_->Accepting = 0;
  }
  return opened;
}

void PlayerTransport::PrepareDisplay(const std::filesystem::path& library_folder) {
  player::TPlayerHost host;
  host.Width = area_.width();
  host.Height = area_.height();
  host.X11Window = area_.PlayerWindow();
  if (host.X11Window == 0) return;  // frames painted by the area need nothing started ahead
  if (!player_.MediaLibrariesLoaded() && !player_.LoadMediaLibraries(library_folder)) return;
  player_.PrepareDisplay(host);
}

void PlayerTransport::Stop(bool wait) {
  {
    // Whatever the closing playback still draws is not shown.
    std::lock_guard<std::mutex> hold(mailbox_->Lock);
    mailbox_->Accepting = 0;
  }
  player_.Stop(wait);
}

void PlayerTransport::TogglePause() {
  if (player_.IsOpen()) player_.TogglePause();
}

void PlayerTransport::Seek(std::int64_t microseconds) {
  if (player_.IsOpen()) player_.Seek(0, microseconds);
}

runtime::Bitmap PlayerTransport::CurrentFrame() {
  if (!player_.IsOpen()) return {};
  return player_.CurrentFrame();
}

void PlayerTransport::SetAudioVolume(int volume) {
  player_.SetAudioVolume(volume);
}

bool PlayerTransport::PlayClick() {
  QFile sound(QStringLiteral(":/sounds/snap.wav"));
  if (!sound.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = sound.readAll();
  std::string reason;
  const bool played = player::PlaySoundClip(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                            static_cast<std::size_t>(bytes.size()), &reason);
  if (!played) runtime::Log(nullptr, runtime::llInfo, "the snapshot's click is not heard: " + reason);
  return played;
}

}  // namespace app
