#include "seal_index.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <iterator>

#include "VaroDeviceBase_LM_GM3000.h"

QString GetJsonValue(QString text, QString key, bool base64) {
  if (base64) {
    QByteArray decoded = QByteArray::fromBase64(text.toLatin1());
    const int end = decoded.indexOf('\0');
    if (end >= 0) decoded.truncate(end);
    text = QString::fromUtf8(decoded);
  }
  const int at = text.indexOf(key);
  if (key.isEmpty() || at < 0) return QString();
  const int open = text.indexOf(QStringLiteral(":\""), at);
  if (open < 0) return QString();
  const int start = open + 2;
  const int close = text.indexOf(QLatin1Char('"'), start);
  if (close < 0) return QString();
  return text.mid(start, close - start);
}

namespace gm3000 {

namespace {

// The escapes of one letter after the backslash and the characters they
// stand for; the solidus is read but never written escaped.
constexpr struct {
  char letter;
  char plain;
} kEscapes[] = {{'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
                {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'}};

// The character a one-letter escape stands for; the null character for
// none.
QChar unescaped(ushort letter) {
  for (const auto& e : kEscapes)
    if (ushort(e.letter) == letter) return QLatin1Char(e.plain);
  return QChar();
}

// A reader over the text that never looks past its end: every token is
// taken by checking the position first, and there is no recursion (the
// objects are flat), so any text is read in one pass.
class IndexReader {
 public:
  explicit IndexReader(const QString& text) : text_(text), size_(text.size()) {}

  std::optional<std::vector<IndexEntry>> read() {
    std::vector<IndexEntry> entries;
    skipSpace();
    if (!take(QLatin1Char('['))) return std::nullopt;
    skipSpace();
    if (!take(QLatin1Char(']'))) {
      for (;;) {
        IndexEntry entry;
        if (!readEntry(entry)) return std::nullopt;
        entries.push_back(std::move(entry));
        skipSpace();
        if (take(QLatin1Char(']'))) break;
        if (!take(QLatin1Char(','))) return std::nullopt;
        skipSpace();
      }
    }
    skipSpace();
    if (at_ != size_) return std::nullopt;
    return entries;
  }

 private:
  bool atEnd() const { return at_ >= size_; }
  QChar peek() const { return atEnd() ? QChar() : text_.at(at_); }
  bool take(QChar c) {
    if (atEnd() || text_.at(at_) != c) return false;
    ++at_;
    return true;
  }
  void skipSpace() {
    while (!atEnd()) {
      const ushort c = text_.at(at_).unicode();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++at_;
    }
  }

  bool readEntry(IndexEntry& entry) {
    const int start = at_;
    if (!take(QLatin1Char('{'))) return false;
    skipSpace();
    if (!take(QLatin1Char('}'))) {
      for (;;) {
        IndexPair pair;
        if (!readString(pair.key)) return false;
        skipSpace();
        if (!take(QLatin1Char(':'))) return false;
        skipSpace();
        if (peek() == QLatin1Char('"')) {
          if (!readString(pair.value)) return false;
        } else {
          if (!readLiteral(pair.value)) return false;
          pair.isString = false;
        }
        entry.pairs.push_back(std::move(pair));
        skipSpace();
        if (take(QLatin1Char('}'))) break;
        if (!take(QLatin1Char(','))) return false;
        skipSpace();
      }
    }
    entry.raw = text_.mid(start, at_ - start);
    return true;
  }

  // Four hexadecimal digits of a \u escape.
  bool readHex(ushort& code) {
    if (size_ - at_ < 4) return false;
    code = 0;
    for (int k = 0; k < 4; ++k) {
      const ushort c = text_.at(at_++).unicode();
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      code = static_cast<ushort>(code * 16 + digit);
    }
    return true;
  }

  bool readString(QString& out) {
    if (!take(QLatin1Char('"'))) return false;
    out.clear();
    for (;;) {
      if (atEnd()) return false;
      const QChar c = text_.at(at_++);
      if (c == QLatin1Char('"')) return true;
      if (c.unicode() < 0x20) return false;
      if (c != QLatin1Char('\\')) {
        out += c;
        continue;
      }
      if (atEnd()) return false;
      const ushort letter = text_.at(at_++).unicode();
      if (letter != 'u') {
        const QChar plain = unescaped(letter);
        if (plain.isNull()) return false;
        out += plain;
        continue;
      }
      ushort code;
      if (!readHex(code) || QChar::isLowSurrogate(code)) return false;
      out += QChar(code);
      if (!QChar::isHighSurrogate(code)) continue;
      // A high surrogate stands only as the first half of a pair.
      ushort low;
      if (!take(QLatin1Char('\\')) || !take(QLatin1Char('u')) || !readHex(low) ||
          !QChar::isLowSurrogate(low))
        return false;
      out += QChar(low);
    }
  }

  bool isDigit() const {
    const QChar c = peek();
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
  }
  void skipDigits() {
    while (isDigit()) ++at_;
  }

  // A number (-?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?) or true,
  // false, null, kept as the text it stands as.
  bool readLiteral(QString& out) {
    const int start = at_;
    for (const char* word : {"true", "false", "null"}) {
      const QLatin1String w(word);
      if (text_.midRef(at_, w.size()) == w) {
        at_ += w.size();
        out = w;
        return true;
      }
    }
    take(QLatin1Char('-'));
    if (!take(QLatin1Char('0'))) {
      if (!isDigit()) return false;
      skipDigits();
    }
    if (take(QLatin1Char('.'))) {
      if (!isDigit()) return false;
      skipDigits();
    }
    if (take(QLatin1Char('e')) || take(QLatin1Char('E'))) {
      if (!take(QLatin1Char('+'))) take(QLatin1Char('-'));
      if (!isDigit()) return false;
      skipDigits();
    }
    out = text_.mid(start, at_ - start);
    return true;
  }

  const QString& text_;
  const int size_;
  int at_ = 0;
};

QString pairText(const IndexPair& pair) {
  return jsonString(pair.key) + QLatin1Char(':') +
         (pair.isString ? jsonString(pair.value) : pair.value);
}

constexpr QLatin1String kIdKey("ID", 2);

}  // namespace

QString IndexEntry::value(const QString& key) const {
  for (const IndexPair& pair : pairs)
    if (pair.key == key) return pair.value;
  return QString();
}

bool IndexEntry::has(const QString& key) const {
  for (const IndexPair& pair : pairs)
    if (pair.key == key) return true;
  return false;
}

std::optional<std::vector<IndexEntry>> parseIndex(const QString& text) {
  return IndexReader(text).read();
}

QString jsonString(const QString& value) {
  static const char kHex[] = "0123456789abcdef";
  QString out;
  out.reserve(value.size() + 2);
  out += QLatin1Char('"');
  for (const QChar c : value) {
    const ushort u = c.unicode();
    const auto escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                     [u](const auto& e) { return ushort(e.plain) == u; });
    if (u != '/' && escape != std::end(kEscapes)) {
      out += QLatin1Char('\\');
      out += QLatin1Char(escape->letter);
    } else if (u < 0x20) {
      out += QLatin1String("\\u00");
      out += QLatin1Char(kHex[u >> 4]);
      out += QLatin1Char(kHex[u & 0xF]);
    } else {
      out += c;
    }
  }
  out += QLatin1Char('"');
  return out;
}

QString entryText(const IndexEntry& entry, const QString& skipKey) {
  QStringList pairs;
  for (const IndexPair& pair : entry.pairs)
    if (skipKey.isEmpty() || pair.key != skipKey) pairs << pairText(pair);
  return QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString indexText(const std::vector<IndexEntry>& entries) {
  QStringList texts;
  for (const IndexEntry& entry : entries) texts << entryText(entry, kDeviceUrlKey);
  return QLatin1Char('[') + texts.join(QLatin1Char(',')) + QLatin1Char(']');
}

const IndexEntry* findEntry(const std::vector<IndexEntry>& entries, const QString& id) {
  for (const IndexEntry& entry : entries) {
    const QString value = entry.value(kIdKey);
    if (!value.isEmpty() && value == id) return &entry;
  }
  return nullptr;
}

IndexEntry newEntry(const QString& id, const QString& name, int version, const QString& base,
                    int type) {
  IndexEntry entry;
  entry.pairs = {{kIdKey, id, true},
                 {QStringLiteral("NAME"), name, true},
                 {QStringLiteral("VER"), QString::number(version), true},
                 {QStringLiteral("FILENAME"), base, true},
                 {QStringLiteral("TYPE"), QString::number(type), true}};
  entry.raw = entryText(entry);
  return entry;
}

QString listedEntries(const std::vector<IndexEntry>& entries, const QString& locator) {
  const QString locatorPair = pairText({kDeviceUrlKey, locator, true});
  QStringList texts;
  for (const IndexEntry& entry : entries) {
    // The entry's own pairs between its braces, the locator before or
    // after them.
    const QString text = entryText(entry, kDeviceUrlKey);
    const QString inner = text.mid(1, text.size() - 2);
    QStringList pairs;
    if (texts.isEmpty()) {
      if (!inner.isEmpty()) pairs << inner;
      pairs << locatorPair;
    } else {
      pairs << locatorPair;
      if (!inner.isEmpty()) pairs << inner;
    }
    texts << QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
  }
  return texts.join(QLatin1Char(','));
}

bool isStorableValue(const QString& value) {
  if (value.contains(QLatin1String("},{"))) return false;
  for (int i = 0; i < value.size(); ++i) {
    const QChar c = value.at(i);
    const ushort u = c.unicode();
    if (u < 0x20 || u == 0x7F || u == '"' || u == '\\') return false;
    if (c.isHighSurrogate()) {
      if (i + 1 >= value.size() || !value.at(i + 1).isLowSurrogate()) return false;
      ++i;
    } else if (c.isLowSurrogate()) {
      return false;
    }
  }
  return true;
}

}  // namespace gm3000

QString VaroDeviceBase_LM_GM3000::GetSealFileName(QString sealId, QString indexText) {
  if (indexText.size() < 3 || !indexText.startsWith(QLatin1Char('[')) ||
      !indexText.endsWith(QLatin1Char(']')))
    return QString();
  const auto entries = gm3000::parseIndex(indexText);
  if (!entries) return QString();
  const gm3000::IndexEntry* entry = gm3000::findEntry(*entries, sealId);
  return entry ? entry->value(QStringLiteral("FILENAME")) : QString();
}

QString VaroDeviceBase_LM_GM3000::DeleteFromJson(QString sealId, QString indexText) {
  if (indexText.size() < 4 || !indexText.startsWith(QLatin1Char('[')) ||
      !indexText.endsWith(QLatin1Char(']')))
    return QString();
  const auto entries = gm3000::parseIndex(indexText);
  if (!entries) return QString();
  // Kept entries stay as they stood, so that nothing else in the index
  // changes; an entry without an identifier goes too.
  QStringList kept;
  for (const gm3000::IndexEntry& entry : *entries) {
    const QString id = entry.value(gm3000::kIdKey);
    if (!id.isEmpty() && id != sealId) kept << entry.raw;
  }
  return QLatin1Char('[') + kept.join(QLatin1Char(',')) + QLatin1Char(']');
}
