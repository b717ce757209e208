#include "MessageLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStringDecoder>

#include "TaskEnvelope.h"
#include "f_main.h"

TLoggedMessage& TMessageLog::Add(qint64 AArrivalMs, const QString& ATopic, uint16_t APacketId,
                                 const QByteArray& APayload, const TLoggedFlags& AFlags) {
  if (FCapacity > 0 && Count() >= FCapacity) {
    FMessages.pop_front();
    ++FDropped;
  }
  TLoggedMessage m;
  m.Seq = FNextSeq++;
  m.ArrivalMs = AArrivalMs;
  m.Topic = ATopic;
  m.PacketId = APacketId;
  m.Payload = APayload;
  m.QoS = AFlags.QoS;
  m.Retain = AFlags.Retain;
  m.Duplicate = AFlags.Duplicate;
  FMessages.push_back(std::move(m));
  return FMessages.back();
}

bool TopicMatches(const QString& AFilter, const QString& ATopic) {
  if (AFilter.isEmpty()) return true;
  const QStringList f = AFilter.split(QLatin1Char('/'));
  const QStringList t = ATopic.split(QLatin1Char('/'));
  for (qsizetype i = 0; i < f.size(); ++i) {
    if (f[i] == QLatin1String("#")) {
      // "#" does not match topics starting with "$" at the first level.
      return !(i == 0 && ATopic.startsWith(QLatin1Char('$')));
    }
    if (i >= t.size()) return false;
    if (f[i] == QLatin1String("+")) {
      if (i == 0 && t[0].startsWith(QLatin1Char('$'))) return false;
      continue;
    }
    if (f[i] != t[i]) return false;
  }
  return f.size() == t.size();
}

bool TMessageFilter::Matches(const TLoggedMessage& AMessage) const {
  if (!TopicMatches(Topic, AMessage.Topic)) return false;
  if (Text.isEmpty()) return true;
  return AMessage.Topic.contains(Text, Qt::CaseInsensitive) ||
         QString::fromUtf8(AMessage.Payload).contains(Text, Qt::CaseInsensitive);
}

namespace {
constexpr qsizetype kViewCap = 1024 * 1024;

QString Capped(QString AText) {
  if (AText.size() <= kViewCap) return AText;
  AText.truncate(kViewCap);
  return AText + QStringLiteral("\n") +
         QCoreApplication::translate("MessageLog", "【内容过长，只显示前 %1 个字符】").arg(kViewCap);
}
}  // namespace

bool IsUtf8(const QByteArray& APayload) {
  QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = d.decode(APayload);
  return !d.hasError();
}

QString PayloadAsText(const QByteArray& APayload) { return Capped(QString::fromUtf8(APayload)); }

QString PayloadAsJson(const QByteArray& APayload) {
  return FormatJson(QStringLiteral("  "), QString::fromUtf8(APayload));
}

QString PayloadAsHex(const QByteArray& APayload) {
  // 16 bytes a line: offset, hex bytes, printable ASCII.
  constexpr qsizetype kBytes = kViewCap / 80 * 16;
  const qsizetype n = std::min(APayload.size(), kBytes);
  QString out;
  out.reserve(n / 16 * 80 + 80);
  static const char hex[] = "0123456789abcdef";
  for (qsizetype off = 0; off < n; off += 16) {
    out += QStringLiteral("%1  ").arg(off, 8, 16, QLatin1Char('0'));
    QString ascii;
    for (qsizetype i = off; i < off + 16; ++i) {
      if (i < n) {
        const auto b = static_cast<uint8_t>(APayload[i]);
        out += QLatin1Char(hex[b >> 4]);
        out += QLatin1Char(hex[b & 15]);
        out += QLatin1Char(' ');
        ascii += b >= 32 && b < 127 ? QLatin1Char(static_cast<char>(b)) : QLatin1Char('.');
      } else {
        out += QStringLiteral("   ");
      }
      if (i == off + 7) out += QLatin1Char(' ');
    }
    out += QLatin1Char('|') + ascii + QStringLiteral("|\n");
  }
  if (n < APayload.size()) {
    out += QCoreApplication::translate("MessageLog", "【内容过长，只显示前 %1 个字节】").arg(n);
  }
  return out;
}

QString PayloadAsGbk(const QByteArray& APayload) {
  QStringDecoder d("GB18030");
  if (!d.isValid()) return QString::fromLatin1(APayload);
  return Capped(d.decode(APayload));
}

bool IsPrintTask(const QByteArray& APayload) {
  // The envelope's own reader decides, as for the printer and the preview.
  return IsPrintTaskText(std::string(APayload.constData(), static_cast<size_t>(APayload.size())));
}

QByteArray MessageJsonLine(const TLoggedMessage& AMessage) {
  QJsonObject o;
  o.insert(QStringLiteral("time"),
           QDateTime::fromMSecsSinceEpoch(AMessage.ArrivalMs, Qt::UTC).toString(Qt::ISODateWithMs));
  o.insert(QStringLiteral("topic"), AMessage.Topic);
  o.insert(QStringLiteral("qos"), AMessage.QoS);
  o.insert(QStringLiteral("retain"), AMessage.Retain);
  o.insert(QStringLiteral("dup"), AMessage.Duplicate);
  o.insert(QStringLiteral("packet_id"), AMessage.PacketId);
  o.insert(QStringLiteral("size"), AMessage.Payload.size());
  if (IsUtf8(AMessage.Payload)) {
    o.insert(QStringLiteral("payload"), QString::fromUtf8(AMessage.Payload));
  } else {
    o.insert(QStringLiteral("payload_base64"), QString::fromLatin1(AMessage.Payload.toBase64()));
  }
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool ExportJsonLines(const QString& AFileName, const QList<const TLoggedMessage*>& AMessages) {
  QSaveFile f(AFileName);
  if (!f.open(QIODevice::WriteOnly)) return false;
  for (const TLoggedMessage* m : AMessages) {
    if (f.write(MessageJsonLine(*m) + '\n') < 0) {
      f.cancelWriting();
      return false;
    }
  }
  return f.commit();
}
