// The conversion queue: "Convert Now" checks that a run can start, then every checked row is converted in
// list order, one at a time, by a 100 ms sequencer; progress and outcome go into the row, " Stop" ends the
// run. The window is reached only through QueueHost, so tests tick the sequencer themselves.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "app/file_list_model.h"
#include "engine/vidrel.h"
#include "profiles/output_check.h"
#include "profiles/window_choices.h"

namespace app {

class Dialogs;
class JobLogs;

// What the queue needs of the window.
class QueueHost {
 public:
  virtual ~QueueHost() = default;
  virtual profiles::WindowChoices& Choices() = 0;
  virtual Dialogs& Dialog() = 0;
  virtual bool IntakeRunning() const = 0;
  virtual void BrowseForFolder() = 0;
  virtual void SelectRow(int row) = 0;
  virtual void ScrollToRow(int row) = 0;
  virtual void LockControls(bool locked) = 0;
  // percent 0..100, or kBusyProgress.
  virtual void SetProgressBar(int percent) = 0;
  virtual void SetSizePanel(const QString& text) = 0;
  virtual void StopPreview(bool wait) = 0;
  virtual void ShowPreviewFrame(const runtime::Bitmap& bitmap) = 0;
  // Whether "Preview video during conversion." is checked.
  virtual bool PreviewDuringConversion() const = 0;
};

class QueueController final : public QObject {
  Q_OBJECT
 public:
  static constexpr int kTickMilliseconds = 100;

  QueueController(QueueHost& host, FileListModel& files, engine::TVidrel& vidrel, JobLogs* logs);
  ~QueueController() override;
  QueueController(const QueueController&) = delete;
  QueueController& operator=(const QueueController&) = delete;

  // " Convert Now".
  void ButtonRipNowClick();
  // The checks before a run; shows the first failing check's message.
  bool CheckBeforeRip();
  // One step of the sequencer (Timer1's tick).
  void Timer1Timer();
  // " Stop": pauses, asks, and stops or resumes.
  void ButtonStopClick();
  // The window is closing: false when the user chose to keep the run going. A run that is stopped here is
  // stopped completely (its output closed) before this returns.
  bool MayClose();

  // The window is going: the sequencer starts nothing more.
  void Shutdown();

  bool Converting() const { return converting_; }
  bool JobActive() const { return job_active_; }
  bool Running() const { return timer_.isActive() || converting_ || job_active_; }
  int CurrentItem() const { return current_item_; }
  int HighestStarted() const { return highest_started_; }
  QTimer& Timer() { return timer_; }

  // The engine's events, on the main thread.
  void VidrelProgress(const engine::TProgressInfo& info);
  void VidrelTerminate(const engine::TTerminateInfo& info);
  void VidrelPreviewBitmap(const engine::TPreviewInfo& info);

 signals:
  // "All converting jobs completed." was shown.
  void RunCompleted();

 private:
  void StartJob(int row);
  void StopRunning();
  void ShowRowOutcome(const QString& word, const QString& reason);

  QueueHost& host_;
  FileListModel& files_;
  engine::TVidrel& vidrel_;
  JobLogs* logs_;
  QTimer timer_;                                 // Timer1
  engine::TOutputOptions output_options_;        // lives as long as the job that uses it
  profiles::OutputExpectation expected_output_;  // what the running job's output must be

  bool converting_ = false;
  bool job_active_ = false;
  bool start_failed_ = false;
  bool user_stopped_ = false;
  bool last_item_reached_ = false;
  bool shut_down_ = false;
  int highest_started_ = -1;
  int current_item_ = -1;
  // The two terminations of a started job (its own, the all-done one) still to come; no job starts before
  // both have been handled, as the engine refuses to clear its tasks until then.
  int notifications_pending_ = 0;
  QString start_failure_;
  QElapsedTimer job_clock_;
};

}  // namespace app
