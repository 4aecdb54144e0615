// File names between Qt and the rest of the program: the engine, profiles and probe take the bytes the file
// system uses, so a name that is not valid UTF-8 still names the same file.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace app {

inline std::string ToLocalName(const QString& name) {
  return QFile::encodeName(name).toStdString();
}

inline QString FromLocalName(const std::string& name) {
  return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace app
