#include "app/settings_store.h"
#include "app/local_names.h"
#include "app/settings_file.h"

#include <QFile>
#include <optional>
#include <stdexcept>

#include "profiles/parameter_lists.h"

namespace app {
namespace {

constexpr char kSkin[] = "Skin";
constexpr char kOutputFolder[] = "Output Folder";
constexpr char kFormatRow[] = "ComboOutputFormat";
constexpr char kOverwrite[] = "Overwrite";
constexpr char kLetterBox[] = "LetterBox";
constexpr char kVideoQuality[] = "VideoQuality";
constexpr char kAudioQuality[] = "AudioQuality";
constexpr char kTabsheet[] = "Tabsheet";
constexpr char kFormTop[] = "FormTop";
constexpr char kFormLeft[] = "FormLeft";

constexpr int kFirstRunFormatRow = 2;
constexpr int kFirstRunQuality = 2;
constexpr int kFirstRunLeft = 150;
constexpr int kFirstRunTop = 5;

struct UnreadableValue : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A stored whole number, which must exist and lie in [low, high].
int ReadInteger(const QSettings& store, const char* key, int low, int high) {
  const QVariant value = store.value(QLatin1String(key));
  bool ok = false;
  const int number = value.isValid() ? value.toString().trimmed().toInt(&ok) : 0;
  if (!ok || number < low || number > high) throw UnreadableValue(key);
  return number;
}

QString ReadText(const QSettings& store, const char* key) {
  const QVariant value = store.value(QLatin1String(key));
  if (!value.isValid()) return {};
  if (!value.canConvert<QString>()) throw UnreadableValue(key);
  return value.toString();
}

void ApplySkin(const QSettings& store, ShellState& state, bool (*known_skin)(const QString&)) {
  const QVariant value = store.value(QLatin1String(kSkin));
  const QString name = value.canConvert<QString>() ? value.toString() : QString();
  if (name.trimmed().isEmpty() || name == QLatin1String("No Skin") || !known_skin(name)) {
    state.SkinsOn = false;
    state.SkinName = QStringLiteral("No Skin");
  } else {
    state.SkinsOn = true;
    state.SkinName = name;
  }
}

void ApplyFirstRun(ShellState& state) {
  profiles::WindowChoices& choices = *state.Choices;
  choices.ComboOutputFormat.Select(kFirstRunFormatRow);
  choices.LastFormatIndex = kFirstRunFormatRow;
  profiles::ComboOutputFormatChange(choices);
  choices.ComboVideoQuality.Select(kFirstRunQuality);
  choices.ComboAudioQuality.Select(kFirstRunQuality);
  // The saved positions follow what is shown, so the next format change keeps "Normal".
  choices.SavedVideoQuality = kFirstRunQuality;
  choices.SavedAudioQuality = kFirstRunQuality;
  state.SavedTop = kFirstRunTop;
  state.SavedLeft = kFirstRunLeft;
  // The window is about to be shown there; writing where it stands before that would store nothing useful.
  state.WindowTop = kFirstRunTop;
  state.WindowLeft = kFirstRunLeft;
}

}  // namespace

QSettings::Format SettingsFormat() {
  // The same file name and text as Qt's own INI files, read by a reader that builds no objects.
  static const QSettings::Format format =
      QSettings::registerFormat(QStringLiteral("conf"), &ReadSettingsText, &WriteSettingsText);
  return format;
}

QString SettingsOrganisation() {
  return QStringLiteral("Tarvello");
}

QString SettingsApplication() {
  return QStringLiteral("Tarvello Video Converter");
}

bool LoadSettings(QSettings& store, ShellState& state, bool (*known_skin)(const QString& name)) {
  profiles::WindowChoices& choices = *state.Choices;
  ApplySkin(store, state, known_skin);
  try {
    if (store.status() != QSettings::NoError) throw UnreadableValue("the settings file");
    choices.OutputFolder = ToLocalName(ReadText(store, kOutputFolder));
    // Each value is applied as soon as it is read: a later unreadable value keeps the earlier ones.
    int format_row = ReadInteger(store, kFormatRow, -1000000, choices.ComboOutputFormat.Count() - 1);
    if (format_row < 0) format_row = kFirstRunFormatRow;
    choices.ComboOutputFormat.Select(format_row);
    choices.Overwrite = ReadInteger(store, kOverwrite, 0, 1) == 1;
    const int letterbox = ReadInteger(store, kLetterBox, -1000000, choices.ComboBoxLetterbox.Count() - 1);
    if (letterbox >= 0) choices.ComboBoxLetterbox.Select(letterbox);
    const int quality_count = static_cast<int>(profiles::QualityLevels().size());
    const int video_quality = ReadInteger(store, kVideoQuality, -1000000, quality_count - 1);
    if (video_quality >= 0) choices.SavedVideoQuality = video_quality;
    const int audio_quality = ReadInteger(store, kAudioQuality, -1000000, quality_count - 1);
    if (audio_quality >= 0) choices.SavedAudioQuality = audio_quality;
    // A negative stored quality is ignored: the saved position keeps its value.
    profiles::RestoreProfileChoices(choices, format_row, choices.SavedVideoQuality,
                                    choices.SavedAudioQuality);
    const int top = ReadInteger(store, kFormTop, -1000000, 1000000);
    const int left = ReadInteger(store, kFormLeft, -1000000, 1000000);
    if (top >= 0) state.SavedTop = top;
    if (left >= 0) state.SavedLeft = left;
    const int tab = ReadInteger(store, kTabsheet, -1000000, 1000000);
    if (tab >= 0) state.ActiveTab = tab == 1 ? 0 : 1;
  } catch (const UnreadableValue&) {
    ApplyFirstRun(state);
    SaveSettings(store, state);
    return false;
  }
  return true;
}

void SaveSettings(QSettings& store, const ShellState& state) {
  const profiles::WindowChoices& choices = *state.Choices;
  store.setValue(QLatin1String(kSkin), state.SkinsOn ? state.SkinName : QStringLiteral("No Skin"));
  store.setValue(QLatin1String(kOutputFolder), FromLocalName(choices.OutputFolder));
  store.setValue(QLatin1String(kFormatRow), choices.ComboOutputFormat.Selected);
  store.setValue(QLatin1String(kOverwrite), choices.Overwrite ? 1 : 0);
  store.setValue(QLatin1String(kLetterBox), choices.ComboBoxLetterbox.Selected);
  store.setValue(QLatin1String(kVideoQuality), choices.ComboVideoQuality.Selected);
  store.setValue(QLatin1String(kAudioQuality), choices.ComboAudioQuality.Selected);
  store.setValue(QLatin1String(kTabsheet), state.ActiveTab == 0 ? 1 : 2);
  store.setValue(QLatin1String(kFormTop), state.WindowTop);
  store.setValue(QLatin1String(kFormLeft), state.WindowLeft);
  store.sync();
}

}  // namespace app
