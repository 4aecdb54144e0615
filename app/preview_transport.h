// What the preview panel's buttons ask of a player, and what the player tells the panel. The panel keeps
// its own states (paused, stopped, active) and only talks to this interface.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <filesystem>

#include "runtime/bitmap.h"

namespace app {

class PreviewTransport : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  virtual bool LibrariesLoaded() const = 0;
  virtual bool LoadLibraries(const std::filesystem::path& folder) = 0;
  // Opens the file and plays it from its start; false when it cannot be played.
  virtual bool Open(const QString& file) = 0;
  virtual void Stop(bool wait) = 0;
  // A file is open (playing or paused); false once it was stopped or could not be opened.
  virtual bool IsOpen() const = 0;
  virtual void TogglePause() = 0;
  virtual void Seek(std::int64_t microseconds) = 0;
  // A copy of the picture on screen; empty without a picture.
  virtual runtime::Bitmap CurrentFrame() = 0;
  // 0 (silent) to 128 (the file's own loudness).
  virtual void SetAudioVolume(int volume) = 0;
  // Plays the camera click and returns once it was heard; false without a sound device.
  virtual bool PlayClick() = 0;
  // Once the picture area is on screen: whatever makes the first Open as quick as later ones.
  virtual void PrepareDisplay(const std::filesystem::path& library_folder) {
    static_cast<void>(library_folder);
  }

 signals:
  // Raised inside Open: the file's duration in microseconds (0 when unknown).
  void FileOpened(qint64 duration);
  // The play position in microseconds.
  void PositionReported(qint64 position);
  // The file was played to its end.
  void PlaybackEnded();
};

}  // namespace app
