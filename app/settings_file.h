// The text of the settings file: the INI layout Qt writes ("[General]", "Output%20Folder=/tmp/out"), read and
// written here instead of by Qt. Qt's own reader turns a value such as "@Variant(...)" into an object by
// trusting the lengths inside it, so one damaged byte can make it ask for gigabytes; this reader keeps every
// value as text and marks such values unreadable, whatever escapes or line continuations spell them.
#pragma once

#include <QIODevice>
#include <QSettings>

namespace app {

// Reads every key of the text. Top-level keys and those of "[General]" keep their names; a key of another
// section "[S]" becomes "S/key". A value is a QString, a QStringList (several values separated by commas), a
// QByteArray ("@ByteArray(...)"), an invalid QVariant ("@Invalid()"), or, for any other "@...(...)" object,
// a value that converts to no text. Lines it cannot read are skipped; it never fails.
bool ReadSettingsText(QIODevice& device, QSettings::SettingsMap& map);

// Writes the keys in the layout above. Text keeps every character, even a lone surrogate of a file name that
// is not UTF-8 (escaped as "\xdc80"), so Qt's reader and ReadSettingsText read back the same string.
bool WriteSettingsText(QIODevice& device, const QSettings::SettingsMap& map);

// The value ReadSettingsText gives for an object it refuses to build.
bool IsRefusedObject(const QVariant& value);

}  // namespace app
