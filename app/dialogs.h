// Every question the window asks and every file it lets the user pick goes through this seam, so tests
// answer them without a human. The production seam shows the real Qt dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace app {

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message box with the information icon and OK, titled "Information".
  virtual void Information(const QString& text) = 0;
  // "Confirmation" with the question icon, Yes and No: true for Yes.
  virtual bool Confirm(const QString& text) = 0;
  // The multi-selection open dialog with the filter; empty when cancelled.
  virtual QStringList ChooseFiles(const QString& filter) = 0;
  // The folder-browse dialog with its headline; nothing when cancelled.
  virtual std::optional<QString> ChooseFolder(const QString& headline, const QString& start) = 0;
};

class QtDialogs final : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent) : parent_(parent) {}
  void Information(const QString& text) override;
  bool Confirm(const QString& text) override;
  QStringList ChooseFiles(const QString& filter) override;
  std::optional<QString> ChooseFolder(const QString& headline, const QString& start) override;

 private:
  QWidget* parent_;
};

}  // namespace app
