// The skins of the Skin menu: each entry's tag, menu text, stored name and style sheet.
#pragma once

#include <QString>
#include <span>

class QApplication;

namespace app {

struct Skin {
  int Tag;
  const char* MenuText;
  const char* Name;        // what the settings store keeps
  const char* StyleSheet;  // resource path; null for "No Skin" (the platform's own style)
};

// "No Skin" first, then the seven skins in menu order.
std::span<const Skin> Skins();
// The skin with this stored name, or null.
const Skin* FindSkin(const QString& name);
bool IsKnownSkin(const QString& name);
// The style sheet text of a skin ("" for "No Skin" and for a sheet that cannot be read).
QString StyleSheetOf(const Skin& skin);
// Puts the skin on the whole application; "No Skin" (or skins off) gives the platform's own look.
void ApplySkin(QApplication& application, bool skins_on, const QString& name);

}  // namespace app
