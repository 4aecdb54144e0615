// File names between Qt and the rest of the program. The engine, profiles and probe take the bytes the file
// system uses; the window holds names as QString. Qt's own conversion (QFile::decodeName) turns every byte
// that is not part of valid UTF-8 into U+FFFD, so such a name would no longer name its file. Here each such
// byte is kept as the lone surrogate U+DC80..U+DCFF instead (valid UTF-8 never decodes to one), and turned
// back into the same byte on the way out: every name survives the round trip, and the list shows the
// undecodable bytes as replacement marks.
#pragma once

#include <QString>
#include <QUrl>
#include <string>

namespace app {

std::string ToLocalName(const QString& name);
QString FromLocalName(const std::string& name);
// The name of a file:// address, its bytes as the address spells them, and the address of a name.
QString NameOfLocalUrl(const QUrl& url);
QUrl LocalUrlOf(const QString& name);
// Whether the name is a folder, or a file, that is there.
bool IsLocalFolder(const QString& name);
bool IsLocalFile(const QString& name);

}  // namespace app
