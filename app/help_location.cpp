#include "app/help_location.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace app {

QString HelpPage() {
  const QString program = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {program + QStringLiteral("/help/index.html"),
                                   program + QStringLiteral("/../share/tarvello/help/index.html")}) {
    if (QFileInfo(candidate).isFile()) return QFileInfo(candidate).canonicalFilePath();
  }
  return {};
}

}  // namespace app
