// Topic fields: an MQTT topic is up to 65,535 bytes of UTF-8, longer than a
// line edit takes by default (32,767 characters, cut without a word).
#pragma once

#include <QString>

class QLineEdit;

// The most bytes of UTF-8 a topic may have.
constexpr int kMaxTopicBytes = 65535;

// Lets the field hold one character more than a topic may have, so a longer
// text typed or pasted is kept long enough to be refused, never cut to a
// shorter (and other) topic.
void AllowFullTopicLength(QLineEdit* AField);
bool TopicFitsMqtt(const QString& ATopic);
// "主题过长：最多 65535 字节（UTF-8），当前 N 字节"
QString TopicTooLongText(const QString& ATopic);
