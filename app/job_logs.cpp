#include "app/job_logs.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <cstring>

#include "app/local_names.h"
#include "runtime/logger.h"

namespace app {
namespace {

const char* LevelName(runtime::TLogLevel level) {
  static constexpr const char* kNames[] = {"quiet",   "panic", "fatal",   "error",
                                           "warning", "info",  "verbose", "debug"};
  return level <= runtime::llDebug ? kNames[level] : "?";
}

}  // namespace

JobLogs::JobLogs(QString folder) : folder_(folder.isEmpty() ? DefaultFolder() : std::move(folder)) {}

JobLogs::~JobLogs() {
  runtime::Logger().SetOnLog(nullptr);
  std::lock_guard lock(mutex_);
  file_.reset();
}

QString JobLogs::DefaultFolder() {
  QString state = QProcessEnvironment::systemEnvironment().value(QStringLiteral("XDG_STATE_HOME"));
  if (state.isEmpty() || !QDir::isAbsolutePath(state))
    state = QDir::homePath() + QStringLiteral("/.local/state");
  return state + QStringLiteral("/tarvello/logs");
}

QString JobLogs::StartJob(const QString& source, const QString& output) {
  FinishJob({});
  if (!QDir().mkpath(folder_)) return {};
  const QDateTime now = QDateTime::currentDateTime();
  QString base = now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QLatin1Char('-') +
                 QFileInfo(source).completeBaseName().left(60);
  base.replace(QLatin1Char('/'), QLatin1Char('_'));
  const QString path = folder_ + QLatin1Char('/') + base + QStringLiteral(".log");
  {
    std::lock_guard lock(mutex_);
    file_.reset(std::fopen(QFile::encodeName(path).constData(), "w"));
    if (file_ == nullptr) return {};
    std::fprintf(file_.get(), "%s\nsource: %s\noutput: %s\n",
                 now.toString(Qt::ISODateWithMs).toUtf8().constData(), ToLocalName(source).c_str(),
                 ToLocalName(output).c_str());
    std::fflush(file_.get());
  }
  runtime::TFFLogger& logger = runtime::Logger();
  // Written on the thread that logs: the main thread may be waiting for that very thread.
  logger.SetTriggerEventInMainThread(false);
  logger.SetOnLog([this](const runtime::LogSource* sender, std::uint32_t, runtime::TLogLevel level,
                         const std::string& message) {
    const std::string line = std::string("[") + LevelName(level) + "] " +
                             (sender != nullptr ? sender->LogSourceName() + ": " : std::string()) + message;
    Write(line.c_str());
  });
  RemoveOldLogs();
  return path;
}

void JobLogs::FinishJob(const QString& outcome) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  if (!outcome.isEmpty()) std::fprintf(file_.get(), "outcome: %s\n", outcome.toUtf8().constData());
  file_.reset();
}

void JobLogs::Write(const char* line) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fputs(line, file_.get());
  if (line[0] == '\0' || line[std::strlen(line) - 1] != '\n') std::fputc('\n', file_.get());
  std::fflush(file_.get());
}

void JobLogs::RemoveOldLogs() const {
  QDir folder(folder_);
  const QFileInfoList logs =
      folder.entryInfoList({QStringLiteral("*.log")}, QDir::Files, QDir::Name | QDir::Reversed);
  for (qsizetype at = kKeptLogs; at < logs.size(); ++at)
    QFile::remove(logs[at].absoluteFilePath());
}

}  // namespace app
