#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>
#include <vector>

namespace {
std::vector<std::unique_ptr<QTranslator>>& Installed() {
  static std::vector<std::unique_ptr<QTranslator>> list;
  return list;
}

bool Load(const QString& AFile, const QString& ADir) {
  auto tr = std::make_unique<QTranslator>();
  if (!tr->load(AFile, ADir)) return false;
  QCoreApplication::installTranslator(tr.get());
  Installed().push_back(std::move(tr));
  return true;
}
}  // namespace

bool InstallTranslations(const QLocale& ALocale) {
  RemoveTranslations();
  const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (ALocale.language() == QLocale::Chinese) {
    // Qt's own texts (file dialog, standard buttons) in the same language.
    const QString qt = ALocale.script() == QLocale::TraditionalChineseScript ? QStringLiteral("qtbase_zh_TW")
                                                                             : QStringLiteral("qtbase_zh_CN");
    Load(qt, qtDir);
    return false;
  }
  Load(QStringLiteral("qtbase_en"), qtDir);
  return Load(QStringLiteral("tessiva_en"), QStringLiteral(":/i18n"));
}

void RemoveTranslations() {
  for (auto& tr : Installed()) QCoreApplication::removeTranslator(tr.get());
  Installed().clear();
}
