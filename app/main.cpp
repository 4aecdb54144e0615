// tarvello: the converter's window. Files named on the command line are added as " Add Video" adds them.
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

#include "app/display_check.h"
#include "app/file_list_view.h"
#include "app/main_thread_bridge.h"
#include "app/main_window.h"

int main(int argc, char** argv) {
  Q_INIT_RESOURCE(tarvello);
  if (const std::string problem = app::DisplayProblem(); !problem.empty()) {
    std::fprintf(stderr, "tarvello: %s: the window cannot open; tarvello-convert converts without one\n",
                 problem.c_str());
    return 1;
  }
  QApplication application(argc, argv);
  QCoreApplication::setOrganizationName(QStringLiteral("Tarvello"));
  QCoreApplication::setApplicationName(QStringLiteral("Tarvello Video Converter"));
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Tarvello Video Converter"));
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvello"));
  const app::MainThreadBridge bridge;

  app::TForm1 window;
  if (!window.LibrariesBound()) {
    std::fprintf(stderr, "tarvello: %s\n", window.Vidrel().LastErrorText().c_str());
    app::QtDialogs(nullptr).Information(
        QStringLiteral("Some files are missing. Please re-install this software"));
    return 1;
  }
  window.RestoreSettings();
  window.show();

  // As a file manager's "Open with" hands them over; a folder gives its media files.
  QStringList named;
  for (const QString& argument : QCoreApplication::arguments().mid(1)) {
    if (!QFileInfo::exists(argument)) {
      std::fprintf(stderr, "tarvello: %s: no such file or folder\n", QFile::encodeName(argument).constData());
      continue;
    }
    named << argument;
  }
  window.AddFiles(app::FileListView::FilesOfDrop(named));
  return QApplication::exec();
}
