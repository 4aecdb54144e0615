#include "app/settings_file.h"

#include <QMap>
#include <QMetaType>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace app {
namespace {

// What an object value of the file is read as: converts to no text, so the reader of the value finds it
// unreadable.
struct RefusedObject {};

constexpr char32_t kLastCodePoint = 0x10FFFF;

std::optional<int> HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return std::nullopt;
}

// The escapes of single characters: the letter after the backslash, and the character it stands for.
constexpr std::pair<char, char> kCharacterEscapes[] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'},
                                                       {'n', '\n'}, {'r', '\r'}, {'t', '\t'},
                                                       {'v', '\v'}, {'"', '"'},  {'\\', '\\'}};

std::optional<char> UnescapedCharacter(char code) {
  if (code == '?' || code == '\'') return code;
  for (const auto& [letter, character] : kCharacterEscapes) {
    if (letter == code) return character;
  }
  return std::nullopt;
}

std::optional<char> EscapeCode(char16_t character) {
  for (const auto& [letter, escaped] : kCharacterEscapes) {
    if (static_cast<char16_t>(escaped) == character) return letter;
  }
  return std::nullopt;
}

bool IsBlank(char ch) {
  return ch == ' ' || ch == '\t';
}

void AppendCodePoint(QString& text, char32_t code) {
  if (code > kLastCodePoint) {
    text += QChar(QChar::ReplacementCharacter);
  } else if (QChar::requiresSurrogates(code)) {
    text += QChar(QChar::highSurrogate(code));
    text += QChar(QChar::lowSurrogate(code));
  } else {
    // A lone surrogate stays: it is how the window keeps a byte of a name that is not UTF-8.
    text += QChar(static_cast<char16_t>(code));
  }
}

// The digits of a numeric escape from data[i] on, in the given base; stops growing past the last code point
// so that a long run of digits cannot overflow.
char32_t ReadEscapeNumber(QByteArrayView data, qsizetype& i, int base) {
  char32_t value = 0;
  while (i < data.size()) {
    const std::optional<int> digit = HexDigit(data[i]);
    if (!digit || *digit >= base) break;
    if (value <= kLastCodePoint) value = value * static_cast<char32_t>(base) + static_cast<char32_t>(*digit);
    ++i;
  }
  return value;
}

// The number written with exactly count hex digits from data[first] on; none when they are not all there.
std::optional<char32_t> FixedHexNumber(QByteArrayView data, qsizetype first, int count) {
  if (first + count > data.size()) return std::nullopt;
  char32_t value = 0;
  for (qsizetype at = first; at < first + count; ++at) {
    const std::optional<int> digit = HexDigit(data[at]);
    if (!digit) return std::nullopt;
    value = value * 16 + static_cast<char32_t>(*digit);
  }
  return value;
}

// Plain bytes are UTF-8: they gather here until an escape or the end and are decoded together, so that a
// character of several bytes is decoded whole.
class TextBuilder {
 public:
  void Byte(char ch) { pending_ += ch; }
  QString& Text() {
    if (!pending_.isEmpty()) {
      text_ += QString::fromUtf8(pending_);
      pending_.clear();
    }
    return text_;
  }

 private:
  QByteArray pending_;
  QString text_;
};

QString UnescapedKey(QByteArrayView raw) {
  TextBuilder key;
  for (qsizetype i = 0; i < raw.size();) {
    const char ch = raw[i];
    if (ch == '\\') {
      key.Text() += QLatin1Char('/');
      ++i;
      continue;
    }
    if (ch == '%') {
      // "%UXXXX" or "%XX": a character by its number.
      const bool wide = i + 1 < raw.size() && raw[i + 1] == 'U';
      const qsizetype first = i + (wide ? 2 : 1);
      if (const std::optional<char32_t> code = FixedHexNumber(raw, first, wide ? 4 : 2)) {
        AppendCodePoint(key.Text(), *code);
        i = first + (wide ? 4 : 2);
        continue;
      }
    }
    key.Byte(ch);
    ++i;
  }
  return key.Text();
}

void ChopTrailingBlanks(QString& text, qsizetype limit) {
  while (text.size() > limit && (text.back() == QLatin1Char(' ') || text.back() == QLatin1Char('\t')))
    text.chop(1);
}

// A value's text: blanks before it are skipped; '"' quotes (and keeps blanks and commas); a comma outside
// quotes separates the values of a list; backslash escapes are those of C, "\xHHHH", octal, and a backslash
// before a line end continues the line. Unquoted blanks at the end of a value are dropped, but not those an
// escape or a quote produced.
QStringList UnescapedValues(QByteArrayView raw, bool& is_list) {
  QStringList values;
  TextBuilder value;
  is_list = false;
  bool in_quotes = false;
  bool quoted = false;
  qsizetype kept = 0;  // blanks of the value before this position stay
  qsizetype i = 0;
  const auto skip_blanks = [&] {
    while (i < raw.size() && IsBlank(raw[i]))
      ++i;
  };
  skip_blanks();
  while (i < raw.size()) {
    const char ch = raw[i];
    if (ch == '\\') {
      ++i;
      if (i >= raw.size()) break;
      const char escaped = raw[i++];
      QString& text = value.Text();
      if (const std::optional<char> plain = UnescapedCharacter(escaped)) {
        text += QLatin1Char(*plain);
        kept = text.size();
        continue;
      }
      switch (escaped) {
        case 'x':
          if (i < raw.size() && HexDigit(raw[i])) AppendCodePoint(text, ReadEscapeNumber(raw, i, 16));
          break;
        case '\n':
        case '\r':
          // One line end, also "\r\n" or "\n\r": the value goes on on the next line.
          if (i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != escaped) ++i;
          break;
        default:
          if (escaped >= '0' && escaped <= '7') {
            --i;
            AppendCodePoint(text, ReadEscapeNumber(raw, i, 8));
          }
          // Any other escaped character is dropped.
          break;
      }
      kept = text.size();
      continue;
    }
    if (ch == '"') {
      ++i;
      quoted = true;
      in_quotes = !in_quotes;
      if (!in_quotes) {
        skip_blanks();
        kept = value.Text().size();
      }
      continue;
    }
    if (ch == ',' && !in_quotes) {
      QString& text = value.Text();
      if (!quoted) ChopTrailingBlanks(text, kept);
      values.append(text);
      text.clear();
      is_list = true;
      quoted = false;
      kept = 0;
      ++i;
      skip_blanks();
      continue;
    }
    value.Byte(ch);
    ++i;
  }
  QString& text = value.Text();
  if (!quoted) ChopTrailingBlanks(text, kept);
  values.append(text);
  return values;
}

bool IsObjectText(const QString& text) {
  for (const char* kind : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point(", "@String("}) {
    if (text.startsWith(QLatin1String(kind))) return true;
  }
  return false;
}

// A value's text as the value it stands for. Only objects are refused: text, byte arrays and the invalid
// value are what this program and older files hold.
QVariant ValueOfText(const QString& text) {
  if (!text.startsWith(QLatin1Char('@'))) return text;
  if (text.startsWith(QLatin1String("@@"))) return text.mid(1);
  if (!text.endsWith(QLatin1Char(')'))) return text;
  if (text == QLatin1String("@Invalid()")) return {};
  if (text.startsWith(QLatin1String("@ByteArray("))) {
    return QStringView(text).sliced(11).chopped(1).toLatin1();
  }
  if (IsObjectText(text)) return QVariant::fromValue(RefusedObject{});
  return text;
}

QVariant ValueOfRaw(QByteArrayView raw) {
  bool is_list = false;
  const QStringList texts = UnescapedValues(raw, is_list);
  if (!is_list) return ValueOfText(texts.front());
  QStringList values;
  for (const QString& text : texts) {
    const QVariant value = ValueOfText(text);
    if (value.metaType() != QMetaType::fromType<QString>()) return QVariant::fromValue(RefusedObject{});
    values.append(value.toString());
  }
  return values;
}

// The file's lines, each without its line end; a line end after a backslash belongs to the line.
std::vector<QByteArrayView> Lines(QByteArrayView data) {
  std::vector<QByteArrayView> lines;
  qsizetype start = 0;
  for (qsizetype i = 0; i < data.size(); ++i) {
    const char ch = data[i];
    if (ch == '\\') {
      // "\r\n" or "\n\r" after a backslash is one line end, and the line goes on after it.
      if (i + 2 < data.size() && (data[i + 1] == '\n' || data[i + 1] == '\r') &&
          (data[i + 2] == '\n' || data[i + 2] == '\r') && data[i + 1] != data[i + 2])
        ++i;
      ++i;
      continue;
    }
    if (ch == '\n' || ch == '\r') {
      lines.push_back(data.sliced(start, i - start));
      start = i + 1;
    }
  }
  if (start < data.size()) lines.push_back(data.sliced(start));
  return lines;
}

// Where a key's "=" is, and where the line's content ends: a ';' outside quotes and escapes starts a comment.
struct LineParts {
  qsizetype Equals = -1;
  qsizetype End = 0;
};

LineParts Parts(QByteArrayView line) {
  LineParts parts;
  parts.End = line.size();
  bool in_quotes = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (ch == '\\') {
      ++i;
    } else if (ch == '"' && parts.Equals >= 0) {
      in_quotes = !in_quotes;
    } else if (ch == ';' && !in_quotes) {
      parts.End = i;
      break;
    } else if (ch == '=' && parts.Equals < 0) {
      parts.Equals = i;
    }
  }
  return parts;
}

QByteArrayView Trimmed(QByteArrayView text) {
  while (!text.empty() && IsBlank(text.front()))
    text = text.sliced(1);
  while (!text.empty() && IsBlank(text.back()))
    text.chop(1);
  return text;
}

// ---- writing ----

QByteArray HexText(unsigned value) {
  return QByteArray::number(value, 16);
}

bool IsHexDigitCharacter(char16_t ch) {
  return ch < 0x80 && HexDigit(static_cast<char>(ch)).has_value();
}

// Everything but printable ASCII is escaped, so the file is plain ASCII and keeps lone surrogates. After a
// numeric escape a hex digit is escaped as well, or the reader would take it as part of the number.
QByteArray EscapedValue(const QString& text) {
  QByteArray out;
  bool needs_quotes = false;
  bool after_number = false;
  for (const QChar qch : text) {
    const char16_t ch = qch.unicode();
    if (ch == ';' || ch == ',' || ch == '=') needs_quotes = true;
    if (after_number && IsHexDigitCharacter(ch)) {
      out += "\\x" + HexText(ch);
      continue;
    }
    after_number = false;
    if (const std::optional<char> code = EscapeCode(ch)) {
      out += '\\';
      out += *code;
      continue;
    }
    if (ch < 0x20 || ch >= 0x7F) {
      out += "\\x" + HexText(ch);
      after_number = true;
    } else {
      out += static_cast<char>(ch);
    }
  }
  if (needs_quotes || (!out.isEmpty() && (out.front() == ' ' || out.back() == ' '))) {
    out.prepend('"');
    out.append('"');
  }
  return out;
}

QByteArray EscapedText(const QString& text) {
  return EscapedValue(text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text);
}

QByteArray EscapedKeyPart(QStringView key) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  QByteArray out;
  for (const QChar qch : key) {
    const char16_t ch = qch.unicode();
    if (ch == '/') {
      out += '\\';
    } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
               ch == '_' || ch == '-' || ch == '.') {
      out += static_cast<char>(ch);
    } else if (ch <= 0xFF) {
      out += '%';
      out += kDigits[ch / 16];
      out += kDigits[ch % 16];
    } else {
      out += "%U";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += kDigits[(ch >> shift) & 0xF];
    }
  }
  return out;
}

QByteArray ValueText(const QVariant& value) {
  if (!value.isValid() || IsRefusedObject(value)) return "@Invalid()";
  if (value.metaType() == QMetaType::fromType<QStringList>()) {
    const QStringList items = value.toStringList();
    if (items.isEmpty()) return "@Invalid()";
    QByteArray out;
    for (const QString& item : items) {
      if (!out.isEmpty()) out += ", ";
      out += EscapedText(item);
    }
    return out;
  }
  if (value.metaType() == QMetaType::fromType<QByteArray>()) {
    // Kept byte for byte: each byte is one Latin-1 character, which is how the reader gives it back.
    return EscapedValue(QStringLiteral("@ByteArray(") + QString::fromLatin1(value.toByteArray()) +
                        QLatin1Char(')'));
  }
  return EscapedText(value.toString());
}

}  // namespace

bool IsRefusedObject(const QVariant& value) {
  return value.metaType() == QMetaType::fromType<RefusedObject>();
}

bool ReadSettingsText(QIODevice& device, QSettings::SettingsMap& map) {
  const QByteArray data = device.readAll();
  QString section;
  for (const QByteArrayView line : Lines(data)) {
    const LineParts parts = Parts(line);
    const QByteArrayView content = Trimmed(line.first(parts.End));
    if (content.empty()) continue;
    if (content.front() == '[') {
      const qsizetype close = content.indexOf(']');
      section = UnescapedKey(content.sliced(1, (close < 0 ? content.size() : close) - 1));
      if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) section.clear();
      continue;
    }
    if (parts.Equals < 0) continue;
    const QString key = UnescapedKey(Trimmed(line.first(parts.Equals)));
    if (key.isEmpty()) continue;
    const QVariant value = ValueOfRaw(line.sliced(parts.Equals + 1, parts.End - parts.Equals - 1));
    map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key, value);
  }
  return true;
}

bool WriteSettingsText(QIODevice& device, const QSettings::SettingsMap& map) {
  QMap<QString, QByteArray> sections;  // by section name; "" is "[General]"
  for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
    const QString& key = entry.key();
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    const QString section = slash < 0 ? QString() : key.first(slash);
    const QStringView name = slash < 0 ? QStringView(key) : QStringView(key).sliced(slash + 1);
    sections[section] += EscapedKeyPart(name) + '=' + ValueText(entry.value()) + '\n';
  }
  QByteArray text;
  for (auto section = sections.cbegin(); section != sections.cend(); ++section) {
    if (!text.isEmpty()) text += '\n';
    text += '[' + (section.key().isEmpty() ? QByteArray("General") : EscapedKeyPart(section.key())) + "]\n";
    text += section.value();
  }
  return device.write(text) == text.size();
}

}  // namespace app
