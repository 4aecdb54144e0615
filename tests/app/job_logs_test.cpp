// The per-job logs: one file per conversion in the state folder, with the source, the output, what the engine
// said while the job ran and its outcome; the newest 50 kept.
#include <QDateTime>

#include "app/job_logs.h"
#include "app_test_support.h"
#include "runtime/logger.h"

using app_test::TestFolder;

namespace {

QStringList LogNames(const QString& folder) {
  return QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
}

QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class JobLogsTest : public QObject {
  Q_OBJECT

 private slots:
  void logHoldsSourceOutputEngineLinesAndOutcome() {
    TestFolder folder;
    app::JobLogs logs(folder.LogFolder());
    runtime::Logger().SetLogLevel(runtime::llInfo);
    const QString path =
        logs.StartJob(QStringLiteral("/videos/holiday.avi"), QStringLiteral("/out/holiday.3gp"));
    QVERIFY(!path.isEmpty());
    QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(folder.LogFolder()).absoluteFilePath());
    QVERIFY(QFileInfo(path).fileName().contains(QStringLiteral("holiday")));
    runtime::Log(nullptr, runtime::llError, "while the job runs");
    logs.FinishJob(QStringLiteral("Done"));
    runtime::Log(nullptr, runtime::llError, "after the job");

    const QByteArray text = Contents(path);
    QVERIFY2(text.contains("source: /videos/holiday.avi\n"), text.constData());
    QVERIFY2(text.contains("output: /out/holiday.3gp\n"), text.constData());
    QVERIFY2(text.contains("while the job runs"), text.constData());
    QVERIFY2(!text.contains("after the job"), text.constData());
    QVERIFY2(text.endsWith("outcome: Done\n"), text.constData());
  }

  void newestFiftyAreKept() {
    TestFolder folder;
    const QString logs_folder = folder.Folder(QStringLiteral("logs"));
    // 60 logs of earlier runs, a minute apart, and a file that is no log.
    const QDateTime first(QDate(2020, 1, 1), QTime(0, 0));
    QStringList old;
    for (int at = 0; at < 60; ++at) {
      const QString name = first.addSecs(60 * at).toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) +
                           QStringLiteral("-clip%1.log").arg(at);
      QFile(logs_folder + QLatin1Char('/') + name).open(QIODevice::WriteOnly);
      old << name;
    }
    QFile(logs_folder + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);

    app::JobLogs logs(logs_folder);
    const QString path = logs.StartJob(QStringLiteral("/videos/new.avi"), QStringLiteral("/out/new.3gp"));
    logs.FinishJob(QStringLiteral("Done"));

    const QStringList kept = LogNames(logs_folder);
    QCOMPARE(kept.size(), app::JobLogs::kKeptLogs);
    QVERIFY(kept.contains(QFileInfo(path).fileName()));
    // The 11 oldest went; the 49 newest of the earlier ones stayed.
    QCOMPARE(kept.mid(0, 49), old.mid(11));
    QVERIFY(QFileInfo::exists(logs_folder + QStringLiteral("/notes.txt")));
  }

  void folderIsTheUsersStateFolder_data() {
    QTest::addColumn<QByteArray>("stateHome");  // "(unset)": not set at all
    QTest::addColumn<QString>("folder");        // "~": the home folder
    QTest::newRow("XDG_STATE_HOME set") << QByteArray("/srv/state") << "/srv/state/tarvello/logs";
    QTest::newRow("XDG_STATE_HOME not set") << QByteArray("(unset)") << "~/.local/state/tarvello/logs";
    QTest::newRow("XDG_STATE_HOME empty") << QByteArray("") << "~/.local/state/tarvello/logs";
    QTest::newRow("XDG_STATE_HOME relative, so ignored")
        << QByteArray("state") << "~/.local/state/tarvello/logs";
  }

  void folderIsTheUsersStateFolder() {
    QFETCH(QByteArray, stateHome);
    QFETCH(QString, folder);
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    const bool was_set = qEnvironmentVariableIsSet("XDG_STATE_HOME");
    if (stateHome == "(unset)") {
      qunsetenv("XDG_STATE_HOME");
    } else {
      qputenv("XDG_STATE_HOME", stateHome);
    }
    const QString found = app::JobLogs::DefaultFolder();
    if (was_set) {
      qputenv("XDG_STATE_HOME", saved);
    } else {
      qunsetenv("XDG_STATE_HOME");
    }
    folder.replace(QLatin1Char('~'), QDir::homePath());
    QCOMPARE(found, folder);
    QCOMPARE(app::JobLogs().Folder(), app::JobLogs::DefaultFolder());
  }
};

TARVELLO_APP_TEST_MAIN(JobLogsTest)
#include "job_logs_test.moc"
