#include "app/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace app {

void QtDialogs::Information(const QString& text) {
  QMessageBox::information(parent_, QStringLiteral("Information"), text, QMessageBox::Ok);
}

bool QtDialogs::Confirm(const QString& text) {
  return QMessageBox::question(parent_, QStringLiteral("Confirmation"), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QStringList QtDialogs::ChooseFiles(const QString& filter) {
  // The filter is kept in the "description|patterns|" form the list shows; Qt wants "description (patterns)".
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype at = 0; at + 1 < parts.size(); at += 2) {
    QString patterns = parts[at + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    entries << parts[at] + QStringLiteral(" (") + patterns.simplified() + QLatin1Char(')');
  }
  return QFileDialog::getOpenFileNames(parent_, QString(), QString(), entries.join(QStringLiteral(";;")));
}

std::optional<QString> QtDialogs::ChooseFolder(const QString& headline, const QString& start) {
  const QString folder = QFileDialog::getExistingDirectory(parent_, headline, start);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

}  // namespace app
