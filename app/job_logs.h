// One log file per conversion: everything the engine and the libraries say while the job runs, kept in the
// user's state folder ($XDG_STATE_HOME/tarvello/logs, else ~/.local/state/tarvello/logs), the newest 50.
#pragma once

#include <QString>
#include <cstdio>
#include <memory>
#include <mutex>

namespace app {

class JobLogs {
 public:
  static constexpr int kKeptLogs = 50;

  // folder empty: the user's state folder.
  explicit JobLogs(QString folder = {});
  // Routes the logger back to nobody.
  ~JobLogs();
  JobLogs(const JobLogs&) = delete;
  JobLogs& operator=(const JobLogs&) = delete;

  static QString DefaultFolder();
  const QString& Folder() const { return folder_; }

  // Starts the log of a job converting source into output; the engine's lines go there from now on.
  // Returns the file's path, or "" when it cannot be written (the job still runs).
  QString StartJob(const QString& source, const QString& output);
  // Adds a closing line and stops writing into the job's file.
  void FinishJob(const QString& outcome);

 private:
  void Write(const char* line);
  void RemoveOldLogs() const;

  QString folder_;
  std::mutex mutex_;  // guards file_: the logger calls Write from any thread
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
};

}  // namespace app
