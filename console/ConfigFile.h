// config.ini beside the executable: its location and the comma-list format
// of the keys list, topic and dvsno.
#pragma once

#include <QString>
#include <QStringList>

#include "IniFile.h"

// GetExePath() + "config.ini".
QString ConfigFileName();
// The INI service opened on config.ini.
TIniFile ConfigFile();

// Splits a comma-list value into all of its elements, the last one included
// (comma delimiter, double-quote quoting, characters 1..32 also separate).
QStringList SplitCommaList(const QString& AValue);
// The elements a reader uses: all but the last; none with fewer than two.
QStringList CommaListItems(const QString& AValue);
// Every element followed by one comma, no quoting.
QString JoinCommaList(const QStringList& AItems);
