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
// One element as it is written: as it stands when the reading rule gives it
// back whole, otherwise in double quotes with its quotes doubled (an element
// holding a comma, a space or a control character, or starting with a quote).
QString CommaListElement(const QString& AItem);
// Every element (as CommaListElement writes it) followed by one comma.
QString JoinCommaList(const QStringList& AItems);
