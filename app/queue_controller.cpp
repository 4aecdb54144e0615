#include "app/queue_controller.h"
#include "app/local_names.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <cmath>
#include <exception>
#include <utility>

#include "app/dialogs.h"
#include "app/job_logs.h"
#include "profiles/job_builder.h"

namespace app {
namespace {

constexpr qint64 kEstimateAfterMilliseconds = 2000;

QString ClockText(qint64 seconds) {
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

QueueController::QueueController(QueueHost& host, FileListModel& files, engine::TVidrel& vidrel,
                                 JobLogs* logs)
    : host_(host), files_(files), vidrel_(vidrel), logs_(logs) {
  timer_.setInterval(kTickMilliseconds);
  connect(&timer_, &QTimer::timeout, this, &QueueController::Timer1Timer);
}

QueueController::~QueueController() = default;

void QueueController::ButtonRipNowClick() {
  if (shut_down_ || converting_ || job_active_ || timer_.isActive() || host_.IntakeRunning()) return;
  files_.SetColumnText(kColumnTimeRemaining, {});
  files_.SetColumnText(kColumnProgress, {});
  files_.SetColumnText(kColumnFrames, {});
  if (!CheckBeforeRip()) return;
  highest_started_ = -1;
  vidrel_.SetPreviewBitmap(host_.PreviewDuringConversion());
  start_failed_ = false;
  job_active_ = false;
  last_item_reached_ = false;
  host_.StopPreview(true);
  timer_.start();
}

bool QueueController::CheckBeforeRip() {
  if (files_.Count() == 0) {
    host_.Dialog().Information(QStringLiteral("Please Add Files To Convert!"));
    return false;
  }
  const QString folder = FromLocalName(host_.Choices().OutputFolder);
  if (folder.isEmpty()) {
    host_.Dialog().Information(QStringLiteral("Please select an output folder!"));
    host_.BrowseForFolder();
    return false;
  }
  if (!IsLocalFolder(folder.trimmed())) {
    host_.Dialog().Information(QStringLiteral("The output folder \"") + folder +
                               QStringLiteral("\"\n\rdoes not exist or has been deleted!\n\r"
                                              "Please choose a new output folder."));
    host_.BrowseForFolder();
    return false;
  }
  for (int row = 0; row < files_.Count(); ++row) {
    if (files_.IsChecked(row)) return true;
  }
  host_.Dialog().Information(QStringLiteral("Please check the items that you want to convert!"));
  return false;
}

void QueueController::Shutdown() {
  shut_down_ = true;
  timer_.stop();
}

void QueueController::Timer1Timer() {
  if (shut_down_ || converting_ || job_active_ || notifications_pending_ > 0) return;
  if (start_failed_) {
    files_.SetText(current_item_, kColumnProgress, QStringLiteral("Failed"));
    files_.SetText(current_item_, kColumnTimeRemaining, {});
    start_failed_ = false;
    converting_ = false;
  }
  if (last_item_reached_ || files_.Count() == 0) {
    host_.SetProgressBar(0);
    timer_.stop();
    job_active_ = false;
    converting_ = false;
    host_.Dialog().Information(QStringLiteral("All converting jobs completed."));
    host_.LockControls(false);
    emit RunCompleted();
    return;
  }
  for (int row = 0; row < files_.Count(); ++row) {
    if (row == files_.Count() - 1) last_item_reached_ = true;
    if (files_.IsChecked(row) && row > highest_started_) {
      StartJob(row);
      return;
    }
  }
}

void QueueController::StartJob(int row) {
  // Cleared only here, once the stopped job's notifications are in (the sequencer waits for them): a run
  // started again at once must not turn the stopped job's late termination into "Done".
  user_stopped_ = false;
  highest_started_ = row;
  host_.SelectRow(row);
  current_item_ = row;
  converting_ = true;
  job_active_ = true;
  host_.LockControls(true);
  host_.SetProgressBar(0);

  const QString source = files_.Caption(row);
  const profiles::JobSource job{ToLocalName(source), files_.Text(row, kColumnSize).toStdString()};
  profiles::JobStart start;
  const QString output_guess = FromLocalName(profiles::OutputPathFor(host_.Choices(), job.Path));
  files_.SetLogFile(row, logs_ != nullptr ? logs_->StartJob(source, output_guess) : QString());
  try {
    start = profiles::BuildAndStartJob(vidrel_, host_.Choices(), job, output_options_);
  } catch (const std::exception& error) {
    // The engine still holds the last run's tasks: a programming slip, but no reason to bring the window
    // down.
    start.FailureText = error.what();
  }
  if (start.Started) {
    expected_output_ = std::move(start.Expected);
    notifications_pending_ = 2;
    job_clock_.start();
    return;
  }
  start_failed_ = true;
  converting_ = false;
  job_active_ = false;
  ShowRowOutcome(QStringLiteral("Fail"), QString::fromStdString(start.FailureText));
}

void QueueController::ShowRowOutcome(const QString& word, const QString& reason) {
  files_.SetProgress(current_item_, kNoProgress);
  files_.SetText(current_item_, kColumnProgress, word);
  files_.SetFailureReason(current_item_, reason);
  if (logs_ != nullptr) logs_->FinishJob(reason.isEmpty() ? word : word + QStringLiteral(": ") + reason);
}

void QueueController::VidrelProgress(const engine::TProgressInfo& info) {
  const int row = current_item_;
  if (row < 0 || row >= files_.Count()) return;
  host_.ScrollToRow(row);
  const bool known_length = info.TotalDuration > 0;
  qint64 percent = 0;
  if (known_length) {
    percent = info.CurrentDuration * 100 / info.TotalDuration;
    const qint64 shown = percent >= 100 ? 100 : percent;
    files_.SetText(row, kColumnProgress, QString::number(shown) + QLatin1Char('%'));
    files_.SetProgress(row, static_cast<int>(std::max<qint64>(shown, 0)));
  } else {
    // Without a length there is no percentage: the cell shows how far the job got, over a busy bar.
    const qint64 seconds = std::max<std::int64_t>(info.CurrentDuration, 0) / 1000000;
    files_.SetText(row, kColumnProgress, ClockText(seconds));
    files_.SetProgress(row, kBusyProgress);
  }
  host_.SetSizePanel(
      QStringLiteral("File Size : ") +
      QString::number(static_cast<qint64>(std::nearbyint(static_cast<double>(info.CurrentSize) / 1e6))) +
      QStringLiteral(" MB"));
  const QString duration = files_.Text(row, kColumnDuration);
  if (duration == QLatin1String("00:00:00") || duration == QLatin1String("Unknown") || !known_length) {
    files_.SetText(row, kColumnTimeRemaining, QStringLiteral("Unknown"));
  } else if (job_clock_.isValid() && job_clock_.elapsed() >= kEstimateAfterMilliseconds &&
             info.CurrentDuration > 0) {
    const double done = static_cast<double>(info.CurrentDuration) / static_cast<double>(info.TotalDuration);
    const double left =
        static_cast<double>(job_clock_.elapsed()) / 1000.0 * (1.0 - std::min(done, 1.0)) / done;
    files_.SetText(row, kColumnTimeRemaining, ClockText(static_cast<qint64>(std::ceil(left))));
  }
  files_.SetText(row, kColumnFrames,
                 info.FrameNumber == -1 ? QStringLiteral(" ") : QString::number(info.FrameNumber));
  host_.SetProgressBar(known_length ? static_cast<int>(std::clamp<qint64>(percent, 0, 100)) : kBusyProgress);
}

void QueueController::VidrelTerminate(const engine::TTerminateInfo& info) {
  if (notifications_pending_ > 0) --notifications_pending_;
  converting_ = false;
  job_active_ = false;
  if (info.TaskIndex < 0) return;
  if (info.ExceptionRaised) {
    ShowRowOutcome(QStringLiteral("Fail"), QString::fromStdString(info.ExceptionMessage));
    return;
  }
  if (user_stopped_) {
    ShowRowOutcome(QStringLiteral("Abort"), {});
    return;
  }
  // Only an output that reads back as what the job asked for is done.
  const std::string problem = profiles::CheckOutput(vidrel_.Probe(), expected_output_);
  ShowRowOutcome(problem.empty() ? QStringLiteral("Done") : QStringLiteral("Fail"),
                 QString::fromStdString(problem));
  files_.SetText(current_item_, kColumnTimeRemaining, {});
}

void QueueController::VidrelPreviewBitmap(const engine::TPreviewInfo& info) {
  if (info.Bitmap != nullptr && !info.Bitmap->Empty()) host_.ShowPreviewFrame(*info.Bitmap);
}

void QueueController::ButtonStopClick() {
  if (!converting_) return;
  vidrel_.PauseTask();
  if (!host_.Dialog().Confirm(QStringLiteral("Stop all conversions?"))) {
    vidrel_.ResumeTask();
    return;
  }
  StopRunning();
}

void QueueController::StopRunning() {
  vidrel_.StopTask(true);
  user_stopped_ = true;
  timer_.stop();
  job_active_ = false;
  converting_ = false;
  const int row = current_item_;
  files_.SetProgress(row, kNoProgress);
  files_.SetText(row, kColumnProgress, QStringLiteral("Abort"));
  files_.SetText(row, kColumnTimeRemaining, {});
  host_.LockControls(false);
}

bool QueueController::MayClose() {
  if (!Running()) return true;
  if (converting_) {
    vidrel_.PauseTask();
    if (!host_.Dialog().Confirm(QStringLiteral("Stop all conversions?"))) {
      vidrel_.ResumeTask();
      return false;
    }
    StopRunning();
  }
  timer_.stop();
  // The terminations are on their way to the event loop; the window closes once they are in.
  QDeadlineTimer deadline(10000);
  while (notifications_pending_ > 0 && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

}  // namespace app
