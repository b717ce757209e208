// The console's main window: broker profiles, topics, the message display,
// publishing and the print row, on one MQTT client and its logger.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "MessageLog.h"
#include "Nelo.MQTT.Client.h"
#include "Nelo.MQTT.Logging.h"

namespace Ui {
class Tmain;
}

// The JSON message formatter: a one-pass character filter that lays out a
// payload with one indent unit per nesting level and CR LF line breaks. It
// never rejects its input. One entry's output is capped: past ACap characters
// the rest is dropped and a line with FormatJsonCutMark() ends it, so no
// payload can stall the window (deep nesting makes the output grow with the
// square of the input).
constexpr qsizetype kFormatJsonCap = 1024 * 1024;
QString FormatJson(const QString& AIndentUnit, const QString& ASource, qsizetype ACap = kFormatJsonCap);
QString FormatJsonCutMark();

// Strict UTF-8 decoding of a received payload; malformed input throws
// "No mapping for the Unicode character exists in the target multi-byte code page".
QString DecodePayloadUtf8(const std::string& APayload);

// The most lines the display holds before the next entry clears it.
constexpr int kRecvLineCap = 10000;

class TRecvDisplay;
class TMessageLog;
class Tinspector;
class QLabel;
class QLineEdit;
class QCheckBox;
class QPushButton;

// What the connection indicator under the profile list shows.
enum TConnectionState {
  stNotConnected,
  stConnecting,
  stConnected,
  stReconnecting,
  stLost,
  stRefused,
  stFailed
};

// The reason of a refused CONNACK in words (return codes 1 to 5).
QString RefusalReason(TNeloMQTTConnectionStatus AStatus);

class Tmain : public QWidget {
  Q_OBJECT
 public:
  explicit Tmain(QWidget* AParent = nullptr);
  ~Tmain() override;

  // The window's controls by their names.
  Ui::Tmain* Form() const { return ui.get(); }

  TNeloMQTTClient* nelomqtclnt1() const { return FClient.get(); }
  TNeloMQTTLogger* nelomqtlgr1() const { return FLogger.get(); }

  // Start-up and profiles
  void FormShow();
  void Load_ServerList();
  void lst_serverItemClick();
  void btn1Click();
  void N3Click();
  void N4Click();
  // Connection
  void MQTT1Click();
  void N1Click();
  // Topics
  void scGPButton1Click();
  void N5Click();
  void N6Click();
  void N8Click();
  void edt_atopicLeftButtonClick();
  // Publishing and display
  void btn_sendClick();
  void btn4Click();
  void btn5Click();
  void PutMessage(const QString& AMsg);
  // A received publication (user-interface thread); throws when the payload
  // is not UTF-8 (it is in the message log all the same).
  void nelomqtclnt1PublishReceived(uint16_t APacketID, const std::string& ATopic, const std::string& APayload,
                                   const TLoggedFlags& AFlags = TLoggedFlags());
  // A log line, from any thread; appended on the user-interface thread in order.
  void nelomqtlgr1Log(const std::string& AMessage);
  // Print row
  void btn33Click();
  void btn34Click();
  void cbb_print_modeClick();
  void cbb_charsetChange();
  void cbb_print_demoClick();
  void btn32Click();
  // The send memo's content drawn as the printer would print it.
  void btn_previewClick();
  // The message inspector ("消息记录").
  void btn_msglogClick();

  // Received publications shown so far.
  long long ShownPublications() const { return FShownPublications; }
  // The display's lines and their number (an empty display has none).
  int RecvLineCount() const;
  QStringList RecvLines();
  // Writes the entries waiting for the display into it (done by a timer
  // at most 20 ms after the first waiting entry, and before any reading).
  void FlushRecv();
  // The publish-topic history (drop-down items of edt_atopic).
  QStringList History() const;
  // The payload editor's text with CR LF line breaks.
  QString SendText() const;
  // Appends the log lines handed over so far (tests and the event loop).
  void DrainLog();

  // Connection indicator, message log and inspector, print-row options.
  TConnectionState ConnectionState() const { return FState; }
  QLabel* StateIcon() const { return FStateIcon; }
  QLabel* StateText() const { return FStateText; }
  const TMessageLog& MessageLog() const { return *FMessageLog; }
  Tinspector* Inspector() const { return FInspector; }
  QPushButton* MessageLogButton() const { return FMsgLogButton; }
  QLineEdit* DeviceSerial() const { return FDvsno; }
  QCheckBox* FreshTaskId() const { return FFreshTaskId; }
  // A print task envelope with the print row's serial and task id applied.
  QString WithPrintOptions(const QString& AEnvelope) const;

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  void WireHandlers();
  void AddControls();
  void AppendRecv(const QString& AText);
  void SetHistory(const QStringList& AItems);
  void SetSendText(const QString& AText);
  bool HasSelectedProfile() const;
  QString SelectedProfile() const;
  void WriteTopicList();
  void ConnectionStatusChanged(TNeloMQTTConnectionStatus AStatus);
  void ConnectFailed(const QString& AError);
  void SetState(TConnectionState AState, const QString& AText);
  void PutReason(const QString& AReason);
  QString Target() const;
  void RecvContextMenu(const QPoint& APos);

  std::unique_ptr<Ui::Tmain> ui;
  TRecvDisplay* FRecv = nullptr;
  long long FShownPublications = 0;
  bool FCentred = false;

  // Log lines raised on any thread wait here for the user-interface thread.
  std::mutex FLogLock;
  std::deque<QString> FLogQueue;
  bool FLogDrainPosted = false;

  // Connection indicator.
  QLabel* FStateIcon = nullptr;
  QLabel* FStateText = nullptr;
  TConnectionState FState = stNotConnected;
  QString FConnectError;  // the system's error of the last failed connect
  QString FLastReason;    // the reason last put into the display
  // Message log and its window.
  std::unique_ptr<TMessageLog> FMessageLog;
  Tinspector* FInspector = nullptr;
  QPushButton* FMsgLogButton = nullptr;
  // Print row options.
  QLineEdit* FDvsno = nullptr;
  QCheckBox* FFreshTaskId = nullptr;

  // The logger outlives the client, which refers to it.
  std::unique_ptr<TNeloMQTTLogger> FLogger;
  std::unique_ptr<TNeloMQTTClient> FClient;
};
