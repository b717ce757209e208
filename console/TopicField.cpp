#include "TopicField.h"

#include <QCoreApplication>
#include <QLineEdit>

void AllowFullTopicLength(QLineEdit* AField) { AField->setMaxLength(kMaxTopicBytes + 1); }

bool TopicFitsMqtt(const QString& ATopic) { return ATopic.toUtf8().size() <= kMaxTopicBytes; }

QString TopicTooLongText(const QString& ATopic) {
  return QCoreApplication::translate("TopicField", "主题过长：最多 %1 字节（UTF-8），当前 %2 字节")
      .arg(kMaxTopicBytes)
      .arg(ATopic.toUtf8().size());
}
