// The main menu (File, Skin, About) and the file list's context menu.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

#include "app/about_window.h"
#include "app/file_list_view.h"
#include "app/help_location.h"
#include "app/main_window.h"
#include "app/preview_panel.h"
#include "app/skins.h"

namespace app {
namespace {

QAction* NamedAction(QMenu* menu, const QString& text, const QString& name) {
  QAction* action = menu->addAction(text);
  action->setObjectName(name);
  return action;
}

}  // namespace

QAction* TForm1::Action(const QString& name) const {
  return findChild<QAction*>(name);
}

void TForm1::BuildMenus() {
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("File"));
  file->setObjectName(QStringLiteral("MenuFile"));
  connect(NamedAction(file, QStringLiteral("Exit"), QStringLiteral("actionExit")), &QAction::triggered, this,
          [this] {
            // Ends at once: the settings are left as they were.
            leave_without_saving_ = true;
            close();
          });

  QMenu* skin = bar->addMenu(QStringLiteral("Skin"));
  skin->setObjectName(QStringLiteral("MenuSkin"));
  auto* group = new QActionGroup(this);
  group->setExclusive(true);
  bool first = true;
  for (const Skin& entry : Skins()) {
    QAction* action = NamedAction(skin, QLatin1String(entry.MenuText),
                                  QStringLiteral("actionSkin") + QString::number(entry.Tag));
    action->setCheckable(true);
    action->setData(entry.Tag);
    group->addAction(action);
    const int tag = entry.Tag;
    connect(action, &QAction::triggered, this, [this, tag] { SkinChosen(tag); });
    if (first) skin->addSeparator();
    first = false;
  }

  QMenu* about = bar->addMenu(QStringLiteral("About"));
  about->setObjectName(QStringLiteral("MenuAbout"));
  connect(NamedAction(about, QStringLiteral("Open Help File"), QStringLiteral("actionOpenHelpFile")),
          &QAction::triggered, this, [this] {
            const QString page = HelpPage();
            if (page.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(page))) {
              dialogs_->Information(QStringLiteral("The help page cannot be opened."));
            }
          });
  about->addSeparator();
  connect(
      NamedAction(about, QStringLiteral("Visit Tarvello Software Website"), QStringLiteral("actionWebsite")),
      &QAction::triggered, this, [] { OpenWebsite(); });
  connect(NamedAction(about, QStringLiteral("Email Support Department"), QStringLiteral("actionSupportMail")),
          &QAction::triggered, this, [] { OpenSupportMail(); });
  about->addSeparator();
  connect(NamedAction(about, QStringLiteral("About"), QStringLiteral("actionAbout")), &QAction::triggered,
          this, [this] {
            AboutWindow window(this);
            window.exec();
          });
  top_menus_ = {file, skin, about};
}

void TForm1::BuildListMenu() {
  list_menu_ = new QMenu(this);
  list_menu_->setObjectName(QStringLiteral("PopupMenuList"));
  connect(NamedAction(list_menu_, QStringLiteral("UnCheck All Items"), QStringLiteral("actionUnCheckAll")),
          &QAction::triggered, this, [this] { SetAllChecked(false); });
  list_menu_->addSeparator();
  connect(NamedAction(list_menu_, QStringLiteral("Check All Items"), QStringLiteral("actionCheckAll")),
          &QAction::triggered, this, [this] { SetAllChecked(true); });
  list_menu_->addSeparator();
  connect(
      NamedAction(list_menu_, QStringLiteral("Remove Selected Item"), QStringLiteral("actionRemoveSelected")),
      &QAction::triggered, this, &TForm1::ButtonRemoveItemClick);
  connect(NamedAction(list_menu_, QStringLiteral("Clear All Items"), QStringLiteral("actionClearAll")),
          &QAction::triggered, this, &TForm1::ButtonClearListClick);
  list_menu_->addSeparator();
  connect(NamedAction(list_menu_, QStringLiteral("Play Selected Item"), QStringLiteral("actionPlaySelected")),
          &QAction::triggered, preview_panel_, &PreviewPanel::SpeedButtonPlayClick);
  list_menu_->addSeparator();
  connect(NamedAction(list_menu_, QStringLiteral("Show Log"), QStringLiteral("actionShowLog")),
          &QAction::triggered, this, &TForm1::ShowLogOfSelected);
  connect(
      NamedAction(list_menu_, QStringLiteral("Open Output Folder"), QStringLiteral("actionOpenOutputFolder")),
      &QAction::triggered, this, &TForm1::OpenOutputFolder);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (controls_locked_) return;
    const QModelIndex index = list_->indexAt(at);
    if (index.isValid()) list_->selectRow(index.row());
    const bool has_log = selected_index_ >= 0 && selected_index_ < files_.Count() &&
                         !files_.Row(selected_index_).LogFile.isEmpty();
    Action(QStringLiteral("actionShowLog"))->setEnabled(has_log);
    list_menu_->popup(list_->viewport()->mapToGlobal(at));
  });
}

void TForm1::SkinChosen(int tag) {
  for (const Skin& skin : Skins()) {
    if (skin.Tag != tag) continue;
    state_.SkinsOn = skin.StyleSheet != nullptr;
    state_.SkinName = QLatin1String(skin.Name);
  }
  if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    ApplySkin(*application, state_.SkinsOn, state_.SkinName);
  }
  CheckSkinItem();
}

void TForm1::CheckSkinItem() {
  for (const Skin& skin : Skins()) {
    const bool chosen =
        state_.SkinsOn ? state_.SkinName == QLatin1String(skin.Name) : skin.StyleSheet == nullptr;
    Action(QStringLiteral("actionSkin") + QString::number(skin.Tag))->setChecked(chosen);
  }
}

}  // namespace app
