#include "app/skins.h"

#include <QApplication>
#include <QFile>
#include <array>

namespace app {
namespace {

constexpr std::array<Skin, 8> kSkins = {{
    {50, "No Skin", "No Skin", nullptr},
    {51, "Sky Blue Skin", "Elegance (internal)", ":/skins/sky-blue.qss"},
    {52, "Pleasant Grey Skin", "Opus (internal)", ":/skins/pleasant-grey.qss"},
    {53, "Sporting Skin", "Sporting (internal)", ":/skins/sporting.qss"},
    {54, "Serrated Skin", "Acryl (internal)", ":/skins/serrated.qss"},
    {55, "Glassy Dark Skin", "DarkGlass (internal)", ":/skins/glassy-dark.qss"},
    {56, "MacOS Skin", "MacOS2 (internal)", ":/skins/macos.qss"},
    {57, "Office Blue Skin", "Office2007 Blue (internal)", ":/skins/office-blue.qss"},
}};

}  // namespace

std::span<const Skin> Skins() {
  return kSkins;
}

const Skin* FindSkin(const QString& name) {
  for (const Skin& skin : kSkins) {
    if (name == QLatin1String(skin.Name)) return &skin;
  }
  return nullptr;
}

bool IsKnownSkin(const QString& name) {
  return FindSkin(name) != nullptr;
}

QString StyleSheetOf(const Skin& skin) {
  if (skin.StyleSheet == nullptr) return {};
  QFile sheet(QLatin1String(skin.StyleSheet));
  if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(sheet.readAll());
}

void ApplySkin(QApplication& application, bool skins_on, const QString& name) {
  const Skin* skin = skins_on ? FindSkin(name) : nullptr;
  application.setStyleSheet(skin != nullptr ? StyleSheetOf(*skin) : QString());
}

}  // namespace app
