// The About window: the program's icon and name with version, the two links and OK. Shown modally.
#pragma once

#include <QDialog>

namespace app {

class AboutWindow final : public QDialog {
  Q_OBJECT
 public:
  explicit AboutWindow(QWidget* parent);
};

// The links of the About window and the About menu.
void OpenWebsite();
void OpenSupportMail();

}  // namespace app
