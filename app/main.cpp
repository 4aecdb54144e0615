// tarvello: the converter's window. Files named on the command line are added as " Add Video" adds them.
#include <QApplication>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <filesystem>

#include "app/display_check.h"
#include "app/file_list_view.h"
#include "app/local_names.h"
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
  // The arguments' own bytes: QCoreApplication::arguments() would lose those that are not valid UTF-8.
  QStringList named;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    if (!std::filesystem::exists(argv[i], error)) {
      std::fprintf(stderr, "tarvello: %s: no such file or folder\n", argv[i]);
      continue;
    }
    named << app::FromLocalName(argv[i]);
  }
  window.AddFiles(app::FileListView::FilesOfDrop(named));
  return QApplication::exec();
}
