// The user's choices kept between runs: read once at start-up, written when the window closes. Every value
// has its key and type here and nowhere else.
#pragma once

#include <QSettings>
#include <QString>

#include "profiles/window_choices.h"

namespace app {

// The window state the settings read and write.
struct ShellState {
  profiles::WindowChoices* Choices = nullptr;  // output folder, format row, letterbox, overwrite, qualities
  bool SkinsOn = false;
  QString SkinName = QStringLiteral("No Skin");
  int ActiveTab = 0;  // 0 "Output  Settings", 1 "Detailed Output Settings"
  int SavedLeft = 0;  // the restored window position; 0 when nothing was restored
  int SavedTop = 0;
  int WindowLeft = 0;  // where the window is now, for writing
  int WindowTop = 0;
};

// The store of this program: organisation "Tarvello", application "Tarvello Video Converter".
QSettings::Format SettingsFormat();
QString SettingsOrganisation();
QString SettingsApplication();

// Reads every value in its order and applies it. A value missing, unreadable, of the wrong type or out of
// range (the first run, a damaged file) ends the reading: the first-run choices are applied and every value
// is written. Returns false when that fallback ran. known_skin tells whether a stored skin name is one of
// ours; an unknown one counts as "No Skin".
bool LoadSettings(QSettings& store, ShellState& state, bool (*known_skin)(const QString& name));

// Writes every value in its order; a failing write is not reported.
void SaveSettings(QSettings& store, const ShellState& state);

}  // namespace app
