// The intake: probes each added file on a worker thread, in the order given, and hands every finished
// reading to the main thread, which adds the row. The worker never touches the list itself.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>

#include "app/cross_thread_calls.h"
#include "probe/av_probe.h"
#include "profiles/source_facts.h"

namespace app {

class IntakeWorker final : public QObject {
  Q_OBJECT
 public:
  // on_file runs on the main thread once per file, in order; on_finished once after the last, also when
  // the intake was cancelled or ended by an error.
  IntakeWorker(std::function<void(const QString& path, const profiles::SourceFacts& facts)> on_file,
               std::function<void()> on_finished);
  // Cancels a running intake and waits for the worker.
  ~IntakeWorker() override;
  IntakeWorker(const IntakeWorker&) = delete;
  IntakeWorker& operator=(const IntakeWorker&) = delete;

  // Starts probing files with probe (borrowed until the intake has finished). False when an intake is
  // still running or the worker could not start.
  bool Start(const QStringList& files, probe::TCustomAVProbe& probe);
  bool Running() const { return running_; }
  // Asks the worker to stop after the file it is reading, and waits for it.
  void Cancel();

 private:
  void Run(QStringList files, probe::TCustomAVProbe& probe);

  std::function<void(const QString&, const profiles::SourceFacts&)> on_file_;
  std::function<void()> on_finished_;
  CrossThreadCalls to_main_;  // the worker's readings and its end, on their way to the main thread
  std::atomic<bool> cancel_{false};
  bool running_ = false;  // main thread: set by Start, cleared when the finish reaches the main thread
  std::thread thread_;
};

}  // namespace app
