// The console's languages: its texts are written in Chinese, the source and
// the default; English (and Qt's own dialogs and buttons in English) when the
// system locale is not Chinese.
#pragma once

#include <QLocale>

// Installs the translations for ALocale into the application: the console's
// own English translation for a locale that is not Chinese, Qt's own Chinese
// translation (its dialogs and standard buttons) for a Chinese one. Returns
// whether the console's texts are now English.
bool InstallTranslations(const QLocale& ALocale = QLocale::system());
// Removes what InstallTranslations installed (tests switch languages).
void RemoveTranslations();
