#include "IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringList>
#include <optional>

namespace {

struct TIniLine {
  QByteArray Raw;   // the line's bytes as stored, its line break included
  QString Text;     // the line as text (a new or changed line: as it is written)
  QString Section;  // heading name when this line is a heading
  bool IsHeading = false;
  QString Key;  // key name when this line is key=value
  bool IsKey = false;
  QString Value;         // raw text after '='
  bool Changed = false;  // written from Text instead of Raw
};

// A line's text: UTF-8 when it is valid UTF-8, otherwise GB18030 (the
// encoding Chinese Windows tools write). Only lines a command changes are
// written anew; every other line goes back byte for byte.
QString LineText(QByteArrayView ABytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(ABytes);
  if (!utf8.hasError()) return text;
  QStringDecoder gbk("GB18030");
  if (gbk.isValid()) return gbk.decode(ABytes);
  return QString::fromLatin1(ABytes.data(), ABytes.size());
}

std::vector<TIniLine> Parse(const QByteArray& AData) {
  std::vector<TIniLine> lines;
  qsizetype pos = 0;
  while (pos < AData.size()) {
    qsizetype end = AData.indexOf('\n', pos);
    end = end < 0 ? AData.size() : end + 1;
    TIniLine line;
    line.Raw = AData.mid(pos, end - pos);
    QByteArrayView body(line.Raw);
    if (body.endsWith('\n')) body.chop(1);
    if (body.endsWith('\r')) body.chop(1);
    if (pos == 0 && body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    pos = end;
    const QString r = LineText(body);
    line.Text = r;
    const QString t = r.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']'))) {
      line.IsHeading = true;
      // The name runs to the last ']', so a profile name holding ']' reads back.
      line.Section = t.mid(1, t.lastIndexOf(QLatin1Char(']')) - 1).trimmed();
    } else if (!t.startsWith(QLatin1Char(';')) && r.contains(QLatin1Char('='))) {
      const int eq = r.indexOf(QLatin1Char('='));
      line.IsKey = true;
      line.Key = r.left(eq).trimmed();
      line.Value = r.mid(eq + 1);
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<TIniLine> Load(const QString& AFileName) {
  QFile f(AFileName);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return Parse(f.readAll());
}

// A section or key name as the file can hold it: one line, no white space
// around it (a heading or key is read back trimmed).
QString StoredName(const QString& AName) {
  QString name = AName;
  name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  return name.trimmed();
}

// A value as the file can hold it: a line break would end the value and
// start a line of its own (a stray key or heading), so it is stored as a space.
QString StoredValue(const QString& AValue) {
  QString value = AValue;
  return value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// Names match without regard to case, and as the file holds them.
bool SameName(const QString& AStored, const QString& AAsked) {
  return AStored.compare(StoredName(AAsked), Qt::CaseInsensitive) == 0;
}

// Index range [first, end) of a section's lines after its heading; nullopt when absent.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<TIniLine>& ALines,
                                                     const QString& ASection) {
  for (size_t i = 0; i < ALines.size(); ++i) {
    if (ALines[i].IsHeading && SameName(ALines[i].Section, ASection)) {
      size_t end = i + 1;
      while (end < ALines.size() && !ALines[end].IsHeading) ++end;
      return std::make_pair(i + 1, end);
    }
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<TIniLine>& ALines, const QString& ASection,
                              const QString& AKey) {
  const auto range = FindSection(ALines, ASection);
  if (!range) return std::nullopt;
  for (size_t i = range->first; i < range->second; ++i) {
    if (ALines[i].IsKey && SameName(ALines[i].Key, AKey)) return i;
  }
  return std::nullopt;
}

// Writes all lines; a new file is readable by its owner only, an existing
// file keeps its mode. Returns false when the file system refuses.
bool Store(const QString& AFileName, const std::vector<TIniLine>& ALines) {
  QByteArray data;
  for (const TIniLine& l : ALines) {
    if (!l.Changed) {
      data += l.Raw;
      continue;
    }
    // A line after a last line that had no line break starts a line of its own.
    if (!data.isEmpty() && !data.endsWith('\n')) data += "\r\n";
    data += l.Text.toUtf8();
    data += "\r\n";
  }
  const bool existed = QFileInfo::exists(AFileName);
  QSaveFile f(AFileName);
  // Where the folder can't take a temporary file, write the file in place.
  f.setDirectWriteFallback(true);
  if (!f.open(QIODevice::WriteOnly)) return false;
  if (!existed) f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  if (f.write(data) != data.size()) {
    f.cancelWriting();
    return false;
  }
  if (!f.commit()) return false;
  if (!existed) QFile::setPermissions(AFileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  return true;
}

[[noreturn]] void RaiseWriteError(const QString& AFileName) {
  throw EIniFileError(
      QStringLiteral("Unable to write to %1").arg(QFileInfo(AFileName).absoluteFilePath()).toStdString());
}

}  // namespace

QString TIniFile::ReadString(const QString& ASection, const QString& AKey, const QString& ADefault) const {
  const std::vector<TIniLine> lines = Load(FFileName);
  const auto at = FindKey(lines, ASection, AKey);
  if (!at) return ADefault;
  QString v = lines[*at].Value.trimmed();
  if (v.size() >= 2 && (v.front() == QLatin1Char('"') || v.front() == QLatin1Char('\'')) &&
      v.back() == v.front()) {
    v = v.mid(1, v.size() - 2);
  }
  return v.left(kIniMaxValueLength);
}

int TIniFile::ReadInteger(const QString& ASection, const QString& AKey, int ADefault) const {
  int value = 0;
  return TryStrToInt(ReadString(ASection, AKey, QString()), value) ? value : ADefault;
}

void TIniFile::WriteString(const QString& ASection, const QString& AKey, const QString& AValue) {
  std::vector<TIniLine> lines = Load(FFileName);
  const QString value = StoredValue(AValue);
  TIniLine kv;
  kv.Changed = true;
  kv.IsKey = true;
  kv.Key = StoredName(AKey);
  kv.Value = value;
  kv.Text = kv.Key + QLatin1Char('=') + value;
  if (const auto at = FindKey(lines, ASection, AKey)) {
    kv.Key = lines[*at].Key;
    kv.Text = lines[*at].Key + QLatin1Char('=') + value;
    lines[*at] = kv;
  } else if (const auto range = FindSection(lines, ASection)) {
    // After the section's last key, before trailing blank lines.
    size_t pos = range->second;
    while (pos > range->first && lines[pos - 1].Text.trimmed().isEmpty()) --pos;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), kv);
  } else {
    if (!lines.empty() && !lines.back().Text.trimmed().isEmpty()) {
      TIniLine blank;
      blank.Changed = true;
      lines.push_back(blank);
    }
    TIniLine heading;
    heading.Changed = true;
    heading.IsHeading = true;
    heading.Section = StoredName(ASection);
    heading.Text = QLatin1Char('[') + heading.Section + QLatin1Char(']');
    lines.push_back(heading);
    lines.push_back(kv);
  }
  if (!Store(FFileName, lines)) RaiseWriteError(FFileName);
}

void TIniFile::WriteInteger(const QString& ASection, const QString& AKey, int AValue) {
  WriteString(ASection, AKey, QString::number(AValue));
}

void TIniFile::EraseSection(const QString& ASection) {
  std::vector<TIniLine> lines = Load(FFileName);
  bool changed = false;
  while (const auto range = FindSection(lines, ASection)) {
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->first - 1),
                lines.begin() + static_cast<std::ptrdiff_t>(range->second));
    changed = true;
  }
  if (!changed && QFileInfo::exists(FFileName)) return;
  if (!Store(FFileName, lines)) RaiseWriteError(FFileName);
}

void TIniFile::DeleteKey(const QString& ASection, const QString& AKey) {
  std::vector<TIniLine> lines = Load(FFileName);
  const auto at = FindKey(lines, ASection, AKey);
  if (!at) return;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
  Store(FFileName, lines);
}

bool TryStrToInt(const QString& AText, int& AValue) {
  int i = 0;
  const int n = AText.size();
  while (i < n && AText[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (AText[i] == QLatin1Char('+') || AText[i] == QLatin1Char('-'))) {
    negative = AText[i] == QLatin1Char('-');
    ++i;
  }
  bool hex = false;
  if (i < n &&
      (AText[i] == QLatin1Char('$') || AText[i] == QLatin1Char('x') || AText[i] == QLatin1Char('X'))) {
    hex = true;
    ++i;
  } else if (i + 1 < n && AText[i] == QLatin1Char('0') &&
             (AText[i + 1] == QLatin1Char('x') || AText[i + 1] == QLatin1Char('X'))) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t value = 0;
  for (; i < n; ++i) {
    const char16_t c = AText[i].unicode();
    int digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (hex && c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (hex && c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    // Hexadecimal text may fill all 32 bits; decimal text must fit the sign.
    if (value > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  if (hex) {
    const auto bits = static_cast<uint32_t>(value);
    AValue = static_cast<int>(negative ? 0u - bits : bits);
    return true;
  }
  if (!negative && value > 0x7FFFFFFFull) return false;
  AValue = negative ? static_cast<int>(-static_cast<int64_t>(value)) : static_cast<int>(value);
  return true;
}
