// The console's INI-file service. Every operation opens the file by path,
// does its work and drops it; nothing is cached, so changes made by hand are
// seen by the next read. Section and key names match without regard to case.
#pragma once

#include <QString>
#include <stdexcept>

// A write the file system refused: "Unable to write to <full path>".
class EIniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The longest value a read returns; further characters are not seen.
constexpr int kIniMaxValueLength = 2047;

class TIniFile {
 public:
  explicit TIniFile(const QString& AFileName) : FFileName(AFileName) {}
  const QString& FileName() const { return FFileName; }

  // Trimmed, one pair of enclosing quotes removed, cut to 2047 characters.
  QString ReadString(const QString& ASection, const QString& AKey, const QString& ADefault) const;
  // The value read with StrToIntDef's rules; the default when it is no integer.
  int ReadInteger(const QString& ASection, const QString& AKey, int ADefault) const;

  // Writes create the file (mode 0600), the section and the key as needed.
  void WriteString(const QString& ASection, const QString& AKey, const QString& AValue);
  void WriteInteger(const QString& ASection, const QString& AKey, int AValue);
  void EraseSection(const QString& ASection);
  // A refused delete is ignored.
  void DeleteKey(const QString& ASection, const QString& AKey);

 private:
  QString FFileName;
};

// Signed 32-bit integer text: leading spaces and a sign allowed, decimal
// digits, or hexadecimal digits after "$", "x" or "0x" (either case).
bool TryStrToInt(const QString& AText, int& AValue);
