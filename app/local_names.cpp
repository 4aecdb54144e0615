#include "app/local_names.h"

#include <QByteArray>
#include <filesystem>
#include <system_error>

namespace app {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;  // a kept byte B is the unit kEscapeBase + B (B >= 0x80)
constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The length of the well-formed UTF-8 sequence at name[at] (Unicode's table 3-7: no overlong forms, no
// surrogates, nothing past U+10FFFF), 0 when there is none; its code point in code.
std::size_t WellFormedSequence(const std::string& name, std::size_t at, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(name[at + i]); };
  const unsigned char lead = byte(0);
  const std::size_t left = name.size() - at;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsContinuation(byte(i))) return 0;
  }
  code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i)
    code = (code << 6) | (byte(i) & 0x3F);
  return length;
}

}  // namespace

std::string ToLocalName(const QString& name) {
  std::string out;
  out.reserve(static_cast<std::size_t>(name.size()));
  for (qsizetype i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i].unicode();
    if (QChar::isHighSurrogate(unit) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
      AppendUtf8(out, QChar::surrogateToUcs4(unit, name[i + 1].unicode()));
      ++i;
    } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out += static_cast<char>(unit - kEscapeBase);
    } else if (QChar::isSurrogate(unit)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

QString FromLocalName(const std::string& name) {
  QString out;
  out.reserve(static_cast<qsizetype>(name.size()));
  for (std::size_t at = 0; at < name.size();) {
    char32_t code = 0;
    const std::size_t length = WellFormedSequence(name, at, code);
    if (length == 0) {
      out += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(name[at])));
      ++at;
      continue;
    }
    if (QChar::requiresSurrogates(code)) {
      out += QChar(QChar::highSurrogate(code));
      out += QChar(QChar::lowSurrogate(code));
    } else {
      out += QChar(static_cast<char16_t>(code));
    }
    at += length;
  }
  return out;
}

QString NameOfLocalUrl(const QUrl& url) {
  const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  return FromLocalName(bytes.toStdString());
}

QUrl LocalUrlOf(const QString& name) {
  const QByteArray bytes = QByteArray::fromStdString(ToLocalName(name));
  return QUrl::fromEncoded(QByteArrayLiteral("file://") + bytes.toPercentEncoding("/"), QUrl::StrictMode);
}

bool IsLocalFolder(const QString& name) {
  std::error_code error;
  return !name.isEmpty() && std::filesystem::is_directory(ToLocalName(name), error);
}

bool IsLocalFile(const QString& name) {
  std::error_code error;
  return !name.isEmpty() && std::filesystem::is_regular_file(ToLocalName(name), error);
}

}  // namespace app
