// The message log window: every received publication logged with its flags,
// the filters, the payload views, the JSON Lines export read back, and the
// cap of the log.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include "ConsoleFixture.h"
#include "MessageInspector.h"
#include "MessageLog.h"
#include "PrintPresets.h"
#include "SFunc.h"
#include "f_print_preview.h"

namespace {

class MessageLogWindowTest : public ConsoleTest {
 protected:
  // A publication as the client hands it over: one value, flags included.
  void Receive(const std::string& ATopic, const QByteArray& APayload, int AQoS = 0, uint16_t AId = 0,
               bool ARetain = false, bool ADup = false) {
    Tmain& w = Window();
    TNeloMQTTMessage message;
    message.Topic = ATopic;
    message.Payload.assign(APayload.begin(), APayload.end());
    message.QoS = static_cast<TNeloMQTTQoS>(AQoS);
    message.PacketId = AId;
    message.Retain = ARetain;
    message.Dup = ADup;
    try {
      w.nelomqtclnt1()->OnMessageReceived(w.nelomqtclnt1(), message);
    } catch (const std::exception&) {
      // not UTF-8: the display refuses it, the log has it
    }
  }
  Tinspector& Open() {
    Window().MessageLogButton()->click();
    Tinspector* i = Window().Inspector();
    EXPECT_TRUE(i && i->isVisible());
    i->Refresh();
    return *i;
  }
  QStringList Topics(Tinspector& AInspector) {
    AInspector.Refresh();
    QStringList t;
    for (int r = 0; r < AInspector.Model()->rowCount(); ++r) t << AInspector.Model()->Message(r).Topic;
    return t;
  }
};

TEST_F(MessageLogWindowTest, EveryPublicationIsListedWithItsFlagsEvenWhenItIsNotUtf8) {
  const QByteArray gbk("\xb4\xf2\xd3\xa1\xcd\xea\xb3\xc9");  // 打印完成 in GBK
  Receive("printer/1/ack", "{\"ok\":1}", 1, 7, false, true);
  Receive("printer/1/status", gbk, 0, 0, true, false);
  Tinspector& ins = Open();
  ASSERT_EQ(ins.Model()->rowCount(), 2);
  const TLoggedMessage& a = ins.Model()->Message(0);
  EXPECT_EQ(a.Topic, QStringLiteral("printer/1/ack"));
  EXPECT_EQ(a.QoS, 1);
  EXPECT_EQ(a.PacketId, 7);
  EXPECT_TRUE(a.Duplicate);
  EXPECT_FALSE(a.Retain);
  const TLoggedMessage& b = ins.Model()->Message(1);
  EXPECT_TRUE(b.Retain);
  EXPECT_EQ(b.Payload, gbk);
  // Table cells: topic, QoS, retain, dup, id, size.
  auto cell = [&](int ARow, int ACol) { return ins.Model()->index(ARow, ACol).data().toString(); };
  EXPECT_EQ(cell(0, 1), QStringLiteral("printer/1/ack"));
  EXPECT_EQ(cell(0, 2), QStringLiteral("1"));
  EXPECT_EQ(cell(0, 4), QStringLiteral("是"));
  EXPECT_EQ(cell(0, 5), QStringLiteral("7"));
  EXPECT_EQ(cell(1, 3), QStringLiteral("是"));
  EXPECT_EQ(cell(1, 5), QString());
  EXPECT_EQ(cell(1, 6), QStringLiteral("8"));
  EXPECT_EQ(QDateTime::fromString(cell(0, 0), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).isValid(), true);

  // The views of the GBK payload.
  ins.ShowRow(1);
  EXPECT_EQ(ins.ViewText(3), QStringLiteral("打印完成"));
  EXPECT_TRUE(ins.ViewText(0).contains(QChar(QChar::ReplacementCharacter)));
  EXPECT_EQ(ins.ViewText(2),
            QStringLiteral("00000000  b4 f2 d3 a1 cd ea b3 c9                          |........|\n"));
  ins.ShowRow(0);
  EXPECT_EQ(ins.ViewText(0), QStringLiteral("{\"ok\":1}"));
  EXPECT_EQ(ins.ViewText(1), QStringLiteral("{\r\n  \"ok\": 1\r\n}"));
  EXPECT_EQ(ins.ViewText(2).left(10), QStringLiteral("00000000  "));
}

// A received print task gets a preview view drawn by the renderer; other
// payloads get none.
TEST_F(MessageLogWindowTest, AReceivedPrintTaskIsPreviewedWithItsPages) {
  Receive("printer/1/jobs", QByteArray::fromStdString(SampleEnvelope(0)), 1, 3);
  Receive("printer/1/ack", "{\"ok\":1}");
  Tinspector& ins = Open();
  ins.ShowRow(0);
  ASSERT_EQ(ins.Views()->count(), 5);
  EXPECT_EQ(ins.Views()->tabText(4), QStringLiteral("打印预览"));
  auto* preview = qobject_cast<Tprint_preview*>(ins.Views()->widget(4));
  ASSERT_NE(preview, nullptr);
  EXPECT_FALSE(preview->isWindow());
  ASSERT_GE(preview->Result().Pages.size(), 1u);
  EXPECT_EQ(preview->Result().Pages[0].Page.Width(), 576);
  EXPECT_GT(preview->Result().Pages[0].Page.BlackDots(), 1000u);
  ins.ShowRow(1);
  EXPECT_EQ(ins.Views()->count(), 4);
}

TEST(MessageLogViews, HexLinesShowOffsetBytesAndPrintableAscii) {
  QByteArray p;
  for (int i = 0; i < 20; ++i) p += static_cast<char>('A' + i);
  p[3] = '\n';
  EXPECT_EQ(PayloadAsHex(p),
            QStringLiteral("00000000  41 42 43 0a 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50 |ABC.EFGHIJKLMNOP|\n"
                           "00000010  51 52 53 54                                      |QRST|\n"));
  EXPECT_EQ(PayloadAsHex(QByteArray()), QString());
}

TEST(MessageLogViews, TopicFiltersFollowMqttWildcards) {
  struct TCase {
    const char* Filter;
    const char* Topic;
    bool Match;
  };
  for (const TCase& c : {TCase{"", "a/b", true}, TCase{"a/b", "a/b", true}, TCase{"a/b", "a/c", false},
                         TCase{"a/+", "a/b", true}, TCase{"a/+", "a/b/c", false}, TCase{"a/#", "a", true},
                         TCase{"a/#", "a/b/c", true}, TCase{"#", "x/y", true}, TCase{"+/+", "/x", true},
                         TCase{"#", "$SYS/x", false}, TCase{"+/x", "$SYS/x", false},
                         TCase{"a/+/c", "a//c", true}, TCase{"a", "a/b", false}}) {
    EXPECT_EQ(TopicMatches(QString::fromUtf8(c.Filter), QString::fromUtf8(c.Topic)), c.Match)
        << c.Filter << " " << c.Topic;
  }
}

TEST_F(MessageLogWindowTest, FiltersByTopicAndTextAndKeepsUpWithNewRows) {
  Receive("printer/1/status", "{\"state\":\"idle\"}");
  Receive("printer/2/status", "{\"state\":\"PAPER OUT\"}");
  Receive("printer/1/ack", "ok");
  Tinspector& ins = Open();
  ins.TopicFilter()->setText(QStringLiteral("printer/+/status"));
  EXPECT_EQ(Topics(ins), (QStringList{"printer/1/status", "printer/2/status"}));
  ins.TextFilter()->setText(QStringLiteral("paper out"));
  EXPECT_EQ(Topics(ins), (QStringList{"printer/2/status"}));
  Receive("printer/3/status", "paper out again");
  Receive("printer/3/ack", "paper out");
  EXPECT_EQ(Topics(ins), (QStringList{"printer/2/status", "printer/3/status"}));
  ins.TopicFilter()->clear();
  EXPECT_EQ(Topics(ins), (QStringList{"printer/2/status", "printer/3/status", "printer/3/ack"}));
  ins.TextFilter()->clear();
  EXPECT_EQ(Topics(ins).size(), 5);
}

TEST_F(MessageLogWindowTest, ExportWritesTheShownRowsAsJsonLines) {
  const QByteArray binary("\x00\xff\x10", 3);
  Receive("a/1", "héllo \"x\"", 2, 9, true, false);
  Receive("a/2", binary, 1, 3);
  Receive("b/1", "other");
  Tinspector& ins = Open();
  ins.TopicFilter()->setText(QStringLiteral("a/#"));
  const QString file = Dir() + QStringLiteral("log.jsonl");
  SFuncSeams::SetSaveFileHandler([&](QWidget*) { return file; });
  ins.findChild<QPushButton*>(QStringLiteral("btn_export"))->click();
  SFuncSeams::SetSaveFileHandler(nullptr);
  EXPECT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = f.readAll().split('\n');
  ASSERT_EQ(lines.size(), 3);  // two rows and the empty rest after the last line break
  EXPECT_TRUE(lines[2].isEmpty());
  const QJsonObject a = QJsonDocument::fromJson(lines[0]).object();
  EXPECT_EQ(a.value("topic").toString(), QStringLiteral("a/1"));
  EXPECT_EQ(a.value("payload").toString(), QStringLiteral("héllo \"x\""));
  EXPECT_FALSE(a.contains("payload_base64"));
  EXPECT_EQ(a.value("qos").toInt(), 2);
  EXPECT_EQ(a.value("packet_id").toInt(), 9);
  EXPECT_TRUE(a.value("retain").toBool());
  EXPECT_FALSE(a.value("dup").toBool());
  EXPECT_EQ(a.value("size").toInt(), QByteArray("héllo \"x\"").size());
  const QDateTime t = QDateTime::fromString(a.value("time").toString(), Qt::ISODateWithMs);
  EXPECT_TRUE(t.isValid());
  EXPECT_LE(std::abs(t.msecsTo(QDateTime::currentDateTimeUtc())), 60000);
  const QJsonObject b = QJsonDocument::fromJson(lines[1]).object();
  EXPECT_FALSE(b.contains("payload"));
  EXPECT_EQ(QByteArray::fromBase64(b.value("payload_base64").toString().toLatin1()), binary);
  EXPECT_EQ(b.value("size").toInt(), 3);
  // Cancelling the picker writes nothing.
  SFuncSeams::SetSaveFileHandler([](QWidget*) { return QString(); });
  QFile::remove(file);
  ins.btn_exportClick();
  SFuncSeams::SetSaveFileHandler(nullptr);
  EXPECT_FALSE(QFile::exists(file));
}

TEST(MessageLogCap, KeepsTheLastMessagesAndCountsTheDropped) {
  TMessageLog log(3);
  for (int i = 0; i < 5; ++i) log.Add(i, QStringLiteral("t/%1").arg(i), 0, QByteArray());
  EXPECT_EQ(log.Count(), 3);
  EXPECT_EQ(log.Dropped(), 2);
  EXPECT_EQ(log.FirstSeq(), 2);
  EXPECT_EQ(log.BySeq(2).Topic, QStringLiteral("t/2"));
  EXPECT_EQ(log.BySeq(4).Topic, QStringLiteral("t/4"));
  // The rows follow: the dropped go, the new come.
  TMessageTableModel model(log);
  model.SetFilter({});
  EXPECT_EQ(model.rowCount(), 3);
  log.Add(5, QStringLiteral("t/5"), 0, QByteArray());
  log.Add(6, QStringLiteral("t/6"), 0, QByteArray());
  // Before the next sync the rows of dropped publications show nothing.
  EXPECT_FALSE(model.Has(0));
  EXPECT_FALSE(model.index(0, 1).data().isValid());
  EXPECT_TRUE(model.Has(2));
  model.Sync();
  ASSERT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.Message(0).Topic, QStringLiteral("t/4"));
  EXPECT_EQ(model.Message(2).Topic, QStringLiteral("t/6"));
  EXPECT_EQ(TMessageLog::kCapacity, 100000);
}

TEST_F(MessageLogWindowTest, TheCountsLineShowsTheDropped) {
  Receive("t", "x");
  Tinspector& ins = Open();
  EXPECT_EQ(ins.Counts()->text(), QStringLiteral("已记录 1 条，显示 1 条，因超出 100000 条上限已丢弃 0 条"));
}

}  // namespace
