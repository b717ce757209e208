#include "ConfigFile.h"

#include "SFunc.h"

QString ConfigFileName() { return GetExePath() + QStringLiteral("config.ini"); }

TIniFile ConfigFile() { return TIniFile(ConfigFileName()); }

QStringList SplitCommaList(const QString& AValue) {
  QStringList items;
  // The value ends at a NUL character, as the stored text would.
  const QString s = AValue.left(AValue.indexOf(QChar(0)) < 0 ? AValue.size() : AValue.indexOf(QChar(0)));
  const int n = s.size();
  auto blank = [&](int i) { return s[i].unicode() >= 1 && s[i].unicode() <= 32; };
  int i = 0;
  while (i < n && blank(i)) ++i;
  while (i < n) {
    QString item;
    if (s[i] == QLatin1Char('"')) {
      ++i;
      while (i < n) {
        if (s[i] == QLatin1Char('"')) {
          if (i + 1 < n && s[i + 1] == QLatin1Char('"')) {
            item += QLatin1Char('"');
            i += 2;
            continue;
          }
          ++i;  // the closing quote
          break;
        }
        item += s[i++];
      }
    } else {
      const int start = i;
      while (i < n && s[i] != QLatin1Char(',') && s[i].unicode() > 32) ++i;
      item = s.mid(start, i - start);
    }
    items << item;
    while (i < n && blank(i)) ++i;
    if (i < n && s[i] == QLatin1Char(',')) {
      if (i == n - 1) items << QString();
      ++i;
      while (i < n && blank(i)) ++i;
    }
  }
  return items;
}

QStringList CommaListItems(const QString& AValue) {
  QStringList items = SplitCommaList(AValue);
  if (items.size() < 2) return {};
  items.removeLast();
  return items;
}

QString CommaListElement(const QString& AItem) {
  bool plain = !AItem.startsWith(QLatin1Char('"'));
  for (const QChar c : AItem) {
    if (c == QLatin1Char(',') || (c.unicode() >= 1 && c.unicode() <= 32)) plain = false;
  }
  if (plain) return AItem;
  QString quoted = AItem;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString JoinCommaList(const QStringList& AItems) {
  QString value;
  for (const QString& item : AItems) value += CommaListElement(item) + QLatin1Char(',');
  return value;
}
