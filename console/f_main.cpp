#include "f_main.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringDecoder>
#include <QStyle>
#include <QTextDocument>
#include <QThread>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "ConsoleWidgets.h"
#include "MessageInspector.h"
#include "MessageLog.h"
#include "PrintPresets.h"
#include "ProfileStore.h"
#include "RecvDisplay.h"
#include "SFunc.h"
#include "TaskEnvelope.h"
#include "TopicField.h"
#include "f_add_server.h"
#include "f_add_topic.h"
#include "f_bitmap_print.h"
#include "f_print_preview.h"
#include "ui_f_main.h"

namespace {
// The print task envelope's device serial placeholder.
const QString kDefaultSerial = QStringLiteral("xxx");

QString InputErrorCaption() { return Tmain::tr("输入错误"); }

// The engine's logger, which also keeps the system's error of a failed
// connect for the connection indicator (the display gets the bare message).
class TConsoleLogger : public TNeloMQTTLogger {
 public:
  using TNeloMQTTLogger::TNeloMQTTLogger;
  std::function<void(const QString&)> OnConnectFailed;

 protected:
  void DoLog(TNeloObject* ASender, TNeloMQTTLogLevel ALevel, const std::exception* AException,
             const std::string& AMessage) override {
    TNeloMQTTLogger::DoLog(ASender, ALevel, AException, AMessage);
    // Connecting runs on the main thread only.
    if (AException && AMessage == "Failed to connect" && OnConnectFailed && NeloIsMainThread())
      OnConnectFailed(QString::fromUtf8(AException->what()));
  }
};
}  // namespace

// ---------------------------------------------------------------------------
// JSON formatter

QString FormatJson(const QString& AIndentUnit, const QString& ASource, qsizetype ACap) {
  QString src = ASource;
  src.remove(QStringLiteral("\r\n"));
  src.remove(QLatin1Char('\t'));
  const qsizetype start = src.indexOf(QLatin1Char('{'));
  if (start < 0) return src;

  // Every piece goes straight into the output; once the output reaches the
  // cap the rest is dropped and a mark says so. The work done is bounded by
  // the output, however deep the input nests.
  QString out;
  out.reserve(std::min<qsizetype>(ACap, src.size() * 2) + 16);
  bool full = false;
  auto put = [&](QStringView APiece) {
    if (full) return;
    const qsizetype room = ACap - out.size();
    if (APiece.size() > room) {
      out += APiece.left(room);
      full = true;
    } else {
      out += APiece;
    }
  };
  auto putIndent = [&](int ALevel) {
    for (int i = 0; i < ALevel && !full; ++i) put(AIndentUnit);
  };
  const QStringView lineBreak = u"\r\n";
  put(QStringView(src).left(start));
  int level = 0;
  bool inString = false, escape = false, afterColon = false;
  for (qsizetype i = start; i < src.size() && !full; ++i) {
    const QChar c = src[i];
    const QStringView self(&src.constData()[i], 1);
    const QStringView piece = c == QLatin1Char(' ') ? QStringView() : self;
    if (escape) {
      escape = false;
      put(piece);
    } else if (inString && c != QLatin1Char('"') && c != QLatin1Char('\\')) {
      put(self);
    } else if (c == QLatin1Char('\\')) {
      escape = true;
      put(self);
    } else if (c == QLatin1Char('"')) {
      inString = !inString;
      if (inString && !afterColon) putIndent(level);
      put(self);
      afterColon = false;
    } else if (c == QLatin1Char(',')) {
      put(self);
      put(lineBreak);
      afterColon = false;
    } else if (c == QLatin1Char(':')) {
      put(u": ");
      afterColon = true;
    } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
      if (!afterColon) putIndent(level);
      put(self);
      put(lineBreak);
      ++level;
      afterColon = false;
    } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
      put(lineBreak);
      putIndent(level - 1);
      put(self);
      --level;
    } else {
      put(piece);
    }
  }
  if (full) {
    out += lineBreak;
    out += FormatJsonCutMark();
  }
  return out;
}

QString FormatJsonCutMark() {
  return QCoreApplication::translate("FormatJson", "【内容过长，格式化输出已在 %1 个字符处截断】")
      .arg(kFormatJsonCap);
}

QString DecodePayloadUtf8(const std::string& APayload) {
  // A byte-order mark at the start is text like any other character.
  QStringDecoder decoder(QStringDecoder::Utf8,
                         QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  QString text = decoder.decode(QByteArrayView(APayload.data(), static_cast<qsizetype>(APayload.size())));
  if (decoder.hasError()) {
    throw std::runtime_error(
        "No mapping for the Unicode character exists in the target multi-byte code page");
  }
  return text;
}

// ---------------------------------------------------------------------------
// Window

Tmain::Tmain(QWidget* AParent)
    : QWidget(AParent), ui(std::make_unique<Ui::Tmain>()), FMessageLog(std::make_unique<TMessageLog>()) {
  EnsureConsoleResources();
  ui->setupUi(this);
  QFont f = font();
  f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("WenQuanYi Micro Hei")});
  f.setPixelSize(11);
  setFont(f);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);

  ui->spl1->setSizes({223 + 8, 919 - 223 - 8});
  ui->spl1->setStretchFactor(0, 0);
  ui->spl1->setStretchFactor(1, 1);
  FRecv = new TRecvDisplay(ui->mmo_recv, 1);  // "消息显示区"

  // The publish topic: a history drop-down, a prompt and a clear button.
  ui->edt_atopic->setCompleter(nullptr);
  AllowFullTopicLength(ui->edt_atopic->lineEdit());
  ui->edt_atopic->lineEdit()->setPlaceholderText(tr("输入需要发布的主题"));
  ui->edt_atopic->setCurrentIndex(-1);
  ui->edt_atopic->setEditText(QString());
  QAction* clear = ui->edt_atopic->lineEdit()->addAction(
      style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::LeadingPosition);
  clear->setObjectName(QStringLiteral("edt_atopicLeftButton"));
  connect(clear, &QAction::triggered, this, [this] { RunCommand([this] { edt_atopicLeftButtonClick(); }); });

  // The engine's hand-offs are hosted by the program (HostEngineHandOffs).
  auto logger = std::make_unique<TConsoleLogger>(nullptr);
  logger->OnConnectFailed = [this](const QString& AError) { ConnectFailed(AError); };
  FLogger = std::move(logger);
  FLogger->SetVerbosity(vINFO);
  FLogger->OnLog = [this](TNeloObject*, TNeloMQTTLogLevel, const std::string& AMessage) {
    nelomqtlgr1Log(AMessage);
  };
  FClient = std::make_unique<TNeloMQTTClient>(nullptr);
  // Replaced from the selected profile before every connect.
  FClient->SetBrokerHostName("localhost");
  FClient->Credentials()->SetUsername("user");
  FClient->Credentials()->SetPassword("password");
  FClient->KeepAliveSettings()->SetAutoReconnect(true);
  FClient->SetLogger(FLogger.get());
  // A received message comes as one value, its flags with it.
  FClient->OnMessageReceived = [this](TNeloObject*, const TNeloMQTTMessage& AMessage) {
    TLoggedFlags flags;
    flags.QoS = AMessage.QoS;
    flags.Retain = AMessage.Retain;
    flags.Duplicate = AMessage.Dup;
    nelomqtclnt1PublishReceived(AMessage.PacketId, AMessage.Topic,
                                std::string(AMessage.Payload.begin(), AMessage.Payload.end()), flags);
  };
  FClient->OnConnectedStatusChanged = [this](TNeloObject*, bool, TNeloMQTTConnectionStatus AStatus) {
    ConnectionStatusChanged(AStatus);
  };

  AddControls();
  WireHandlers();
}

Tmain::~Tmain() {
  // The inspector shows the message log, which goes with this object's
  // members, before the widget base would delete the inspector.
  delete FInspector;
  FInspector = nullptr;
  // The client ends its threads (serving their hand-offs) before the window goes.
  FClient.reset();
  FLogger.reset();
}

void Tmain::AddControls() {
  // Under the profile list: the state of the connection.
  auto* state = new QWidget(ui->pnl_left);
  state->setObjectName(QStringLiteral("pnl_state"));
  auto* stateLayout = new QHBoxLayout(state);
  stateLayout->setContentsMargins(4, 2, 4, 2);
  stateLayout->setSpacing(4);
  FStateIcon = new QLabel(state);
  FStateIcon->setObjectName(QStringLiteral("img_state"));
  FStateIcon->setFixedSize(16, 16);
  FStateText = new QLabel(state);
  FStateText->setObjectName(QStringLiteral("lbl_state"));
  FStateText->setTextFormat(Qt::PlainText);
  FStateText->setMinimumWidth(1);
  stateLayout->addWidget(FStateIcon);
  stateLayout->addWidget(FStateText, 1);
  ui->pnl_left_layout->insertWidget(ui->pnl_left_layout->indexOf(ui->lst_server) + 1, state);
  SetState(stNotConnected, tr("未连接"));

  // In the display's strip: the message inspector.
  FMsgLogButton = new QPushButton(ConsoleIcon(icMessageLog), tr("消息记录"), ui->pnl_recv_bar);
  FMsgLogButton->setObjectName(QStringLiteral("btn_msglog"));
  FMsgLogButton->setFixedWidth(88);
  ui->pnl_recv_bar_layout->insertWidget(ui->pnl_recv_bar_layout->indexOf(ui->btn4) + 1, FMsgLogButton);

  // In the print row: the device serial and a fresh task id per job.
  auto* serialLabel = new QLabel(tr("设备号"), ui->pnl_print_bar);
  serialLabel->setObjectName(QStringLiteral("lbl_dvsno"));
  FDvsno = new QLineEdit(kDefaultSerial, ui->pnl_print_bar);
  FDvsno->setObjectName(QStringLiteral("edt_dvsno"));
  FDvsno->setFixedWidth(90);
  FDvsno->setToolTip(tr("打印任务的 dvsno（设备序列号）"));
  FFreshTaskId = new QCheckBox(tr("新任务号"), ui->pnl_print_bar);
  FFreshTaskId->setObjectName(QStringLiteral("chk_fresh_task_id"));
  FFreshTaskId->setToolTip(tr("每个打印任务使用新生成的 task_id"));
  const int at = ui->pnl_print_bar_layout->indexOf(ui->btn32) + 1;
  ui->pnl_print_bar_layout->insertWidget(at, serialLabel);
  ui->pnl_print_bar_layout->insertWidget(at + 1, FDvsno);
  ui->pnl_print_bar_layout->insertWidget(at + 2, FFreshTaskId);

  // The display's own context menu, with the print preview once it exists.
  ui->mmo_recv->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ui->mmo_recv, &QWidget::customContextMenuRequested, this, &Tmain::RecvContextMenu);
}

void Tmain::WireHandlers() {
  auto bind = [this](auto* ASender, auto ASignal, void (Tmain::*AHandler)()) {
    connect(ASender, ASignal, this,
            [this, AHandler] { RunCommand([this, AHandler] { (this->*AHandler)(); }); });
  };
  bind(ui->btn1, &QPushButton::clicked, &Tmain::btn1Click);
  bind(ui->lst_server, &TListBox::ItemClick, &Tmain::lst_serverItemClick);
  bind(ui->scGPButton1, &QPushButton::clicked, &Tmain::scGPButton1Click);
  bind(ui->btn4, &QPushButton::clicked, &Tmain::btn4Click);
  bind(ui->btn_send, &QPushButton::clicked, &Tmain::btn_sendClick);
  bind(ui->btn5, &QPushButton::clicked, &Tmain::btn5Click);
  bind(ui->btn33, &QPushButton::clicked, &Tmain::btn33Click);
  bind(ui->btn34, &QPushButton::clicked, &Tmain::btn34Click);
  bind(ui->btn32, &QPushButton::clicked, &Tmain::btn32Click);
  bind(ui->btn_preview, &QPushButton::clicked, &Tmain::btn_previewClick);
  bind(ui->cbb_print_mode, &QComboBox::activated, &Tmain::cbb_print_modeClick);
  bind(ui->cbb_charset, &QComboBox::activated, &Tmain::cbb_charsetChange);
  bind(ui->cbb_print_demo, &QComboBox::activated, &Tmain::cbb_print_demoClick);
  bind(FMsgLogButton, &QPushButton::clicked, &Tmain::btn_msglogClick);

  // Context menus; their commands act on the row selected before the right click.
  auto* pm_server = new QMenu(this);
  pm_server->setObjectName(QStringLiteral("pm_server"));
  auto addItem = [this, &bind](QMenu* AMenu, const char* AName, const QString& AText, int AIcon,
                               void (Tmain::*AHandler)()) {
    QAction* a = AMenu->addAction(ConsoleIcon(AIcon), AText);
    a->setObjectName(QString::fromLatin1(AName));
    bind(a, &QAction::triggered, AHandler);
  };
  addItem(pm_server, "MQTT1", tr("连接服务器"), icConnect, &Tmain::MQTT1Click);
  addItem(pm_server, "N1", tr("断开连接"), icDisconnect, &Tmain::N1Click);
  pm_server->addSeparator()->setObjectName(QStringLiteral("N2"));
  addItem(pm_server, "N3", tr("服务器属性"), icServerProperties, &Tmain::N3Click);
  addItem(pm_server, "N4", tr("删除服务器档案"), icDelete, &Tmain::N4Click);
  connect(ui->lst_server, &QWidget::customContextMenuRequested, this, [this, pm_server](const QPoint& APos) {
    pm_server->popup(ui->lst_server->viewport()->mapToGlobal(APos));
  });

  auto* pm_topic = new QMenu(this);
  pm_topic->setObjectName(QStringLiteral("pm_topic"));
  addItem(pm_topic, "N5", tr("订阅"), icSubscribe, &Tmain::N5Click);
  addItem(pm_topic, "N6", tr("取消订阅"), icUnsubscribe, &Tmain::N6Click);
  pm_topic->addSeparator()->setObjectName(QStringLiteral("N7"));
  addItem(pm_topic, "N8", tr("删除主题"), icDelete, &Tmain::N8Click);
  connect(ui->lst_topic, &QWidget::customContextMenuRequested, this, [this, pm_topic](const QPoint& APos) {
    pm_topic->popup(ui->lst_topic->viewport()->mapToGlobal(APos));
  });
}

void Tmain::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  if (!FCentred && screen()) {
    // Centred on the screen when first shown.
    FCentred = true;
    const QRect area = screen()->availableGeometry();
    move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
  if (!AEvent->spontaneous()) RunCommand([this] { FormShow(); });
}

void Tmain::FormShow() { Load_ServerList(); }

// ---------------------------------------------------------------------------
// Profiles

bool Tmain::HasSelectedProfile() const { return ui->lst_server->ItemIndex() >= 0; }

QString Tmain::SelectedProfile() const {
  const int i = ui->lst_server->ItemIndex();
  return i < 0 ? QString() : ui->lst_server->Caption(i);
}

void Tmain::Load_ServerList() {
  ui->lst_server->Clear();
  ui->lst_topic->Clear();
  const QStringList names = ReadProfileNames();
  if (names.isEmpty()) return;
  for (const QString& name : names) ui->lst_server->AddRow(name, icServerRow);
  ui->lst_server->SetItemIndex(0);
}

void Tmain::lst_serverItemClick() {
  ui->lst_topic->Clear();
  if (ui->lst_server->count() == 0 || ui->lst_server->ItemIndex() < 0) return;
  const QString profile = SelectedProfile();
  const QStringList rows = ReadProfileTopics(profile);
  if (rows.isEmpty()) return;
  for (const QString& t : rows) ui->lst_topic->AddRow(t, icTopicRow);
  if (ui->lst_topic->count() > 0) ui->lst_topic->SetItemIndex(0);
  SetHistory(ReadProfileHistory(profile));
}

void Tmain::btn1Click() {
  Tadd_server dlg(this);
  dlg.servername.clear();
  if (ShowModal(&dlg) == QDialog::Accepted) Load_ServerList();
}

void Tmain::N3Click() {
  if (ui->lst_server->ItemIndex() < 0) return;
  Tadd_server dlg(this);
  dlg.servername = SelectedProfile();
  ShowModal(&dlg);
}

void Tmain::N4Click() {
  const int row = ui->lst_server->ItemIndex();
  if (row < 0) return;
  EraseProfile(ui->lst_server->Caption(row));
  ui->lst_server->DeleteRow(row, false);
  // The topic list belonged to the deleted profile: show the topics of the
  // profile that now holds the selection, so no later topic command writes
  // the deleted profile's topics into another profile's section. Done before
  // the list is rewritten, so a refused write can't leave them in view.
  lst_serverItemClick();
  WriteProfileNames(ui->lst_server->Captions());
}

// ---------------------------------------------------------------------------
// Connection

void Tmain::MQTT1Click() {
  if (ui->lst_server->count() == 0 || ui->lst_server->ItemIndex() < 0) return;
  const TProfileConnection c = ReadProfileConnection(SelectedProfile());
  FClient->SetClientID(NewGuidStr().toStdString());
  FClient->SetBrokerHostName(c.Server.toStdString());
  FClient->SetBrokerPort(c.Port);
  FClient->Credentials()->SetUsername(c.Username.toStdString());
  FClient->Credentials()->SetPassword(c.Password.toStdString());
  FClient->SetUseSSL(c.Tls.Enabled);
  TNeloMQTTTlsSettings* tls = FClient->Connection()->SSLIOHandler();
  tls->CAFile = QFile::encodeName(c.Tls.CAFile).toStdString();
  tls->CertFile = QFile::encodeName(c.Tls.CertFile).toStdString();
  tls->KeyFile = QFile::encodeName(c.Tls.KeyFile).toStdString();
  tls->VerifyHostName = c.Tls.VerifyHostName;
  FClient->Disconnect();
  QThread::msleep(500);
  // A new attempt: its reasons are news again.
  FLastReason.clear();
  FClient->Connect(true);
}

void Tmain::N1Click() {
  FLastReason.clear();
  FClient->Disconnect();
}

QString Tmain::Target() const {
  QString host = QString::fromStdString(FClient->BrokerHostName());
  if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
  return host + QLatin1Char(':') + QString::number(FClient->BrokerPort());
}

QString RefusalReason(TNeloMQTTConnectionStatus AStatus) {
  switch (AStatus) {
    case csConnectionRejected_InvalidProtocolVersion:
      return Tmain::tr("服务器不接受此协议版本（返回码 1）");
    case csConnectionRejected_InvalidIdentifier:
      return Tmain::tr("服务器不接受此客户端标识符（返回码 2）");
    case csConnectionRejected_ServerUnavailable:
      return Tmain::tr("MQTT 服务不可用（返回码 3）");
    case csConnectionRejected_InvalidCredentials:
      return Tmain::tr("用户名或密码错误（返回码 4）");
    case csConnectionRejected_ClientNotAuthorized:
      return Tmain::tr("客户端未获授权（返回码 5）");
    default:
      return QString();
  }
}

void Tmain::SetState(TConnectionState AState, const QString& AText) {
  FState = AState;
  int icon = icStateOff;
  if (AState == stConnecting || AState == stReconnecting) icon = icStateBusy;
  if (AState == stConnected) icon = icStateOn;
  if (AState == stRefused || AState == stFailed) icon = icStateRefused;
  FStateIcon->setPixmap(ConsoleIcon(icon).pixmap(16, 16));
  FStateText->setText(AText);
  FStateText->setToolTip(AText);
}

void Tmain::PutReason(const QString& AReason) {
  if (AReason == FLastReason) return;
  FLastReason = AReason;
  PutMessage(AReason);
}

void Tmain::ConnectFailed(const QString& AError) {
  FConnectError = AError;
  SetState(stFailed, tr("连接失败 %1").arg(Target()));
  PutReason(tr("无法连接 %1：%2").arg(Target(), AError));
}

void Tmain::ConnectionStatusChanged(TNeloMQTTConnectionStatus AStatus) {
  switch (AStatus) {
    case csNotConnected:
      SetState(stNotConnected, tr("未连接"));
      break;
    case csConnecting:
      FConnectError.clear();
      SetState(stConnecting, tr("正在连接 %1").arg(Target()));
      break;
    case csReconnecting:
      FConnectError.clear();
      SetState(stReconnecting, tr("正在重新连接 %1").arg(Target()));
      break;
    case csConnected:
      FLastReason.clear();
      SetState(stConnected, tr("已连接 %1").arg(Target()));
      break;
    case csConnectionLost:
      SetState(stLost, tr("连接已断开 %1").arg(Target()));
      break;
    default:
      // A failed connect ends in the same status as a refusal with code 3;
      // its own reason is already in the display.
      if (AStatus == csConnectionRejected_ServerUnavailable && !FConnectError.isEmpty()) {
        SetState(stFailed, tr("连接失败 %1").arg(Target()));
        break;
      }
      SetState(stRefused, tr("连接被拒绝 %1").arg(Target()));
      PutReason(tr("服务器 %1 拒绝了连接：%2").arg(Target(), RefusalReason(AStatus)));
      break;
  }
}

// ---------------------------------------------------------------------------
// Topics

void Tmain::WriteTopicList() {
  if (!HasSelectedProfile()) return;
  WriteProfileTopics(SelectedProfile(), ui->lst_topic->Captions());
}

void Tmain::scGPButton1Click() {
  Tadd_topic dlg(this);
  if (ShowModal(&dlg) != QDialog::Accepted) return;
  ui->lst_topic->AddRow(dlg.Topic(), icTopicRow);
  WriteTopicList();
}

void Tmain::N5Click() {
  if (ui->lst_topic->count() == 0 || ui->lst_topic->ItemIndex() < 0) return;
  const uint16_t id =
      FClient->Subscribe(ui->lst_topic->Caption(ui->lst_topic->ItemIndex()).toStdString(), qosAtMostOnce);
  AppendRecv(QStringLiteral("Subscribe:") + QString::number(id));
}

void Tmain::N6Click() {
  if (ui->lst_topic->count() == 0 || ui->lst_topic->ItemIndex() < 0) return;
  const uint16_t id = FClient->Unsubscribe(ui->lst_topic->Caption(ui->lst_topic->ItemIndex()).toStdString());
  AppendRecv(QStringLiteral("Unsubscribe:") + QString::number(id));
}

void Tmain::N8Click() {
  const int row = ui->lst_topic->ItemIndex();
  if (row < 0) return;
  ui->lst_topic->DeleteRow(row, true);
  WriteTopicList();
}

void Tmain::edt_atopicLeftButtonClick() {
  SetHistory({});
  if (HasSelectedProfile()) DeleteProfileHistory(SelectedProfile());
  ui->edt_atopic->setEditText(QString());
}

// ---------------------------------------------------------------------------
// Publishing and display

QStringList Tmain::History() const {
  QStringList items;
  for (int i = 0; i < ui->edt_atopic->count(); ++i) items << ui->edt_atopic->itemText(i);
  return items;
}

void Tmain::SetHistory(const QStringList& AItems) {
  // Changing the items must not change the typed topic.
  const QString typed = ui->edt_atopic->currentText();
  ui->edt_atopic->clear();
  ui->edt_atopic->addItems(AItems);
  ui->edt_atopic->setCurrentIndex(-1);
  ui->edt_atopic->setEditText(typed);
}

QString Tmain::SendText() const {
  // The raw text: toPlainText() would turn no-break spaces into spaces and
  // so change the payload. Lines end with CR LF.
  QString text = ui->mmo_send->document()->toRawText();
  text.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
  text.replace(QChar(QChar::LineSeparator), QStringLiteral("\r\n"));
  return text;
}

void Tmain::SetSendText(const QString& AText) {
  QString text = WithPrintOptions(AText);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  ui->mmo_send->setPlainText(text);
}

QString Tmain::WithPrintOptions(const QString& AEnvelope) const {
  // Addressed in place by the envelope's own code: only the two values change.
  std::optional<std::string> dvsno, taskId;
  if (FDvsno->text() != kDefaultSerial) dvsno = FDvsno->text().toStdString();
  if (FFreshTaskId->isChecked()) taskId = NewTaskId();
  if (!dvsno && !taskId) return AEnvelope;
  return QString::fromStdString(ReaddressEnvelope(AEnvelope.toStdString(), dvsno, taskId));
}

void Tmain::btn_sendClick() {
  if (!FClient->IsConnected()) {
    MsgBox(mbWarning, InputErrorCaption(), tr("未连接MQTT服务器"));
    return;
  }
  const QString topic = ui->edt_atopic->currentText();
  if (topic.isEmpty()) {
    MsgBox(mbWarning, InputErrorCaption(), tr("未输入发布的主题"));
    return;
  }
  if (!TopicFitsMqtt(topic)) {
    MsgBox(mbWarning, InputErrorCaption(), TopicTooLongText(topic));
    return;
  }
  const QString payload = SendText();
  if (payload.isEmpty()) {
    MsgBox(mbWarning, InputErrorCaption(), tr("未输入消息的主体"));
    return;
  }
  FClient->Publish(topic.toStdString(), payload.toStdString(),
                   static_cast<TNeloMQTTQoS>(ui->cbb_publish_qos->currentIndex()), false);
  QStringList history = History();
  history.removeAll(topic);
  history << topic;
  SetHistory(history);
  if (HasSelectedProfile()) WriteProfileHistory(SelectedProfile(), history);
}

void Tmain::nelomqtclnt1PublishReceived(uint16_t APacketID, const std::string& ATopic,
                                        const std::string& APayload, const TLoggedFlags& AFlags) {
  // Every publication goes into the message log, whatever its bytes.
  FMessageLog->Add(QDateTime::currentMSecsSinceEpoch(), QString::fromStdString(ATopic), APacketID,
                   QByteArray(APayload.data(), static_cast<qsizetype>(APayload.size())), AFlags);
  const QString text = DecodePayloadUtf8(APayload);
  if (ui->cbb_format_recv->currentIndex() == 0) {
    PutMessage(text);
  } else {
    PutMessage(FormatJson(QStringLiteral("  "), text));
  }
  ++FShownPublications;
}

void Tmain::nelomqtlgr1Log(const std::string& AMessage) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(FLogLock);
    FLogQueue.push_back(QString::fromStdString(AMessage));
    post = !FLogDrainPosted;
    FLogDrainPosted = true;
  }
  if (QThread::currentThread() == thread()) {
    DrainLog();  // earlier lines from other threads go first
  } else if (post) {
    QMetaObject::invokeMethod(this, &Tmain::DrainLog, Qt::QueuedConnection);
  }
}

void Tmain::DrainLog() {
  std::deque<QString> lines;
  {
    std::lock_guard<std::mutex> lock(FLogLock);
    lines.swap(FLogQueue);
    FLogDrainPosted = false;
  }
  for (const QString& line : lines) PutMessage(line);
}

void Tmain::PutMessage(const QString& AMsg) {
  if (FRecv->LineCount() > kRecvLineCap) FRecv->Clear();
  AppendRecv(AMsg);
}

void Tmain::AppendRecv(const QString& AText) { FRecv->Append(AText); }

void Tmain::FlushRecv() { FRecv->Flush(); }

int Tmain::RecvLineCount() const { return FRecv->LineCount(); }

QStringList Tmain::RecvLines() { return FRecv->Lines(); }

void Tmain::btn4Click() { FRecv->Clear(); }

void Tmain::btn5Click() { ui->mmo_send->clear(); }

void Tmain::RecvContextMenu(const QPoint& APos) {
  std::unique_ptr<QMenu> menu(ui->mmo_recv->createStandardContextMenu(APos));
  // The print preview of the selected text when it is a print task.
  const QByteArray selected = ui->mmo_recv->textCursor()
                                  .selectedText()
                                  .replace(QChar::ParagraphSeparator, QLatin1Char('\n'))
                                  .toUtf8();
  if (IsPrintTask(selected)) {
    menu->addSeparator();
    QAction* preview = menu->addAction(tr("打印预览"));
    preview->setObjectName(QStringLiteral("mmo_recvPrintPreview"));
    connect(preview, &QAction::triggered, this,
            [this, selected] { RunCommand([this, selected] { ShowPrintPreview(selected, this); }); });
  }
  menu->exec(ui->mmo_recv->viewport()->mapToGlobal(APos));
}

void Tmain::btn_msglogClick() {
  if (!FInspector) FInspector = new Tinspector(*FMessageLog, this);
  FInspector->show();
  FInspector->raise();
  FInspector->activateWindow();
}

// ---------------------------------------------------------------------------
// Print row

void Tmain::btn33Click() { SetSendText(QString::fromStdString(BuzzerEnvelope())); }

void Tmain::btn34Click() { SetSendText(QString::fromStdString(CutterEnvelope())); }

void Tmain::cbb_print_modeClick() {
  SetSendText(QString::fromStdString(PrintModeEnvelope(ui->cbb_print_mode->currentIndex())));
}

void Tmain::cbb_charsetChange() {
  SetSendText(QString::fromStdString(CharsetEnvelope(ui->cbb_charset->currentIndex())));
}

void Tmain::cbb_print_demoClick() {
  SetSendText(QString::fromStdString(SampleEnvelope(ui->cbb_print_demo->currentIndex())));
}

void Tmain::btn32Click() {
  Tbitmap_print dlg(this);
  if (ShowModal(&dlg) == QDialog::Accepted) SetSendText(dlg.base64text);
}

void Tmain::btn_previewClick() { ShowPrintPreview(SendText().toUtf8(), this); }
