// The record of received publications behind the message inspector: every
// publication with its arrival time, topic, flags, packet id and payload
// bytes, the last 100,000 kept; the filters, the payload views and the JSON
// Lines export.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <deque>

struct TLoggedMessage {
  qint64 Seq = 0;        // 0 for the first publication ever logged, then +1
  qint64 ArrivalMs = 0;  // milliseconds since the epoch (UTC)
  QString Topic;
  int QoS = 0;
  bool Retain = false;
  bool Duplicate = false;
  uint16_t PacketId = 0;  // 0: none (QoS 0)
  QByteArray Payload;
};

// The flags a publication arrived with.
struct TLoggedFlags {
  int QoS = 0;
  bool Retain = false;
  bool Duplicate = false;
};

class TMessageLog {
 public:
  static constexpr qsizetype kCapacity = 100000;
  explicit TMessageLog(qsizetype ACapacity = kCapacity) : FCapacity(ACapacity) {}

  // Logs a publication; the oldest goes when the log is full.
  TLoggedMessage& Add(qint64 AArrivalMs, const QString& ATopic, uint16_t APacketId,
                      const QByteArray& APayload, const TLoggedFlags& AFlags = TLoggedFlags());

  qsizetype Count() const { return static_cast<qsizetype>(FMessages.size()); }
  // Sequence numbers of the oldest kept and of the next to come.
  qint64 FirstSeq() const { return FNextSeq - Count(); }
  qint64 NextSeq() const { return FNextSeq; }
  // Publications dropped to keep the last kCapacity.
  qint64 Dropped() const { return FDropped; }
  const TLoggedMessage& BySeq(qint64 ASeq) const { return FMessages[static_cast<size_t>(ASeq - FirstSeq())]; }

 private:
  qsizetype FCapacity;
  std::deque<TLoggedMessage> FMessages;
  qint64 FNextSeq = 0;
  qint64 FDropped = 0;
};

// Whether a topic name matches an MQTT topic filter ("+" one level, "#" the
// rest). An empty filter matches everything.
bool TopicMatches(const QString& AFilter, const QString& ATopic);

struct TMessageFilter {
  QString Topic;  // MQTT topic filter; empty: every topic
  QString Text;   // found in the topic or the payload text, ignoring case; empty: all
  bool Matches(const TLoggedMessage& AMessage) const;
};

// Views of a payload. Each is capped (about 1 MB of text) with a mark.
bool IsUtf8(const QByteArray& APayload);
QString PayloadAsText(const QByteArray& APayload);
QString PayloadAsJson(const QByteArray& APayload);
QString PayloadAsHex(const QByteArray& APayload);
QString PayloadAsGbk(const QByteArray& APayload);
// A print task envelope: a JSON object whose kind is PRINT_TASK.
bool IsPrintTask(const QByteArray& APayload);

// One JSON object per line: time (ISO 8601, UTC, milliseconds), topic, qos,
// retain, dup, packet_id, size, and the payload as "payload" (text) when it
// is valid UTF-8, as "payload_base64" otherwise.
QByteArray MessageJsonLine(const TLoggedMessage& AMessage);
// Writes the lines of the given messages; false when the file can't be written.
bool ExportJsonLines(const QString& AFileName, const QList<const TLoggedMessage*>& AMessages);
