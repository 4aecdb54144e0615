#include "app/intake_worker.h"
#include "app/local_names.h"

#include <QFile>
#include <exception>
#include <system_error>

namespace app {

IntakeWorker::IntakeWorker(std::function<void(const QString&, const profiles::SourceFacts&)> on_file,
                           std::function<void()> on_finished)
    : on_file_(std::move(on_file)), on_finished_(std::move(on_finished)) {}

IntakeWorker::~IntakeWorker() {
  Cancel();
}

bool IntakeWorker::Start(const QStringList& files, probe::TCustomAVProbe& probe) {
  if (running_) return false;
  if (thread_.joinable()) thread_.join();
  cancel_ = false;
  running_ = true;
  try {
    thread_ = std::thread([this, files, &probe] { Run(files, probe); });
  } catch (const std::system_error&) {
    running_ = false;
    return false;
  }
  return true;
}

void IntakeWorker::Cancel() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
  running_ = false;
}

void IntakeWorker::Run(QStringList files, probe::TCustomAVProbe& probe) {
  try {
    for (const QString& file : files) {
      if (cancel_) break;
      const profiles::SourceFacts facts = profiles::ReadSourceFacts(probe, ToLocalName(file));
      // Posting never waits: the main thread adds the row when it gets to it.
      to_main_.Post([this, file, facts] { on_file_(file, facts); });
    }
  } catch (const std::exception&) {
    // An error ends the intake; the rows added so far stay.
  }
  to_main_.Post([this] {
    running_ = false;
    on_finished_();
  });
}

}  // namespace app
