#include "f_main.h"

#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <stdexcept>

#include "ConfigFile.h"
#include "ConsoleWidgets.h"
#include "Nelo.MQTT.HandOff.h"
#include "PrintPresets.h"
#include "SFunc.h"
#include "f_add_server.h"
#include "f_add_topic.h"
#include "f_bitmap_print.h"
#include "f_print_preview.h"
#include "ui_f_main.h"

namespace {
const QString cInputError = QStringLiteral("输入错误");
const QString cSystem = QStringLiteral("system");

}  // namespace

// ---------------------------------------------------------------------------
// JSON formatter

QString FormatJson(const QString& AIndentUnit, const QString& ASource) {
  QString src = ASource;
  src.remove(QStringLiteral("\r\n"));
  src.remove(QLatin1Char('\t'));
  const int start = src.indexOf(QLatin1Char('{'));
  if (start < 0) return src;

  auto indent = [&](int ALevel) {
    QString s;
    for (int i = 0; i < ALevel; ++i) s += AIndentUnit;
    return s;
  };
  const QString lineBreak = QStringLiteral("\r\n");
  int level = 0;
  bool inString = false, escape = false, afterColon = false;
  QString out = src.left(start);
  out.reserve(src.size() * 2);
  for (int i = start; i < src.size(); ++i) {
    const QChar c = src[i];
    QString piece = c == QLatin1Char(' ') ? QString() : QString(c);
    if (escape) {
      escape = false;
    } else if (inString && c != QLatin1Char('"') && c != QLatin1Char('\\')) {
      piece = c;
    } else if (c == QLatin1Char('\\')) {
      escape = true;
      piece = c;
    } else if (c == QLatin1Char('"')) {
      inString = !inString;
      if (inString && !afterColon) piece = indent(level) + c;
      afterColon = false;
    } else if (c == QLatin1Char(',')) {
      piece = QStringLiteral(",") + lineBreak;
      afterColon = false;
    } else if (c == QLatin1Char(':')) {
      piece = QStringLiteral(": ");
      afterColon = true;
    } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
      if (!afterColon) piece = indent(level) + c;
      piece += lineBreak;
      ++level;
      afterColon = false;
    } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
      piece = lineBreak + indent(level - 1) + c;
      --level;
    }
    out += piece;
  }
  return out;
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

Tmain::Tmain(QWidget* AParent) : QWidget(AParent), ui(std::make_unique<Ui::Tmain>()) {
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
  FRecvLines = FDocLines = 1;  // "消息显示区"
  FRecvFlush = new QTimer(this);
  FRecvFlush->setSingleShot(true);
  FRecvFlush->setInterval(20);
  connect(FRecvFlush, &QTimer::timeout, this, &Tmain::FlushRecv);

  // The publish topic: a history drop-down, a prompt and a clear button.
  ui->edt_atopic->setCompleter(nullptr);
  ui->edt_atopic->lineEdit()->setPlaceholderText(QStringLiteral("输入需要发布的主题"));
  ui->edt_atopic->setCurrentIndex(-1);
  ui->edt_atopic->setEditText(QString());
  QAction* clear = ui->edt_atopic->lineEdit()->addAction(
      style()->standardIcon(QStyle::SP_LineEditClearButton), QLineEdit::LeadingPosition);
  clear->setObjectName(QStringLiteral("edt_atopicLeftButton"));
  connect(clear, &QAction::triggered, this, [this] { RunCommand([this] { edt_atopicLeftButtonClick(); }); });

  // Worker threads hand steps to this thread through the Qt event loop.
  NeloSetMainThread();
  NeloSetWakeMainThread([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { NeloCheckSynchronize(0); }, Qt::QueuedConnection);
  });
  FLogger = std::make_unique<TNeloMQTTLogger>(nullptr);
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
  FClient->OnPublishReceived = [this](TNeloObject*, uint16_t APacketID, const std::string& ATopic,
                                      const TNeloMQTTBytes& APayload) {
    nelomqtclnt1PublishReceived(APacketID, ATopic, std::string(APayload.begin(), APayload.end()));
  };

  WireHandlers();
}

Tmain::~Tmain() {
  // The client ends its threads (serving their hand-offs) before the window goes.
  FClient.reset();
  FLogger.reset();
  NeloSetWakeMainThread(nullptr);
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

  // Context menus; their commands act on the row selected before the right click.
  auto* pm_server = new QMenu(this);
  pm_server->setObjectName(QStringLiteral("pm_server"));
  auto addItem = [this, &bind](QMenu* AMenu, const char* AName, const QString& AText, int AIcon,
                               void (Tmain::*AHandler)()) {
    QAction* a = AMenu->addAction(ConsoleIcon(AIcon), AText);
    a->setObjectName(QString::fromLatin1(AName));
    bind(a, &QAction::triggered, AHandler);
  };
  addItem(pm_server, "MQTT1", QStringLiteral("连接服务器"), 5, &Tmain::MQTT1Click);
  addItem(pm_server, "N1", QStringLiteral("断开连接"), 6, &Tmain::N1Click);
  pm_server->addSeparator()->setObjectName(QStringLiteral("N2"));
  addItem(pm_server, "N3", QStringLiteral("服务器属性"), 4, &Tmain::N3Click);
  addItem(pm_server, "N4", QStringLiteral("删除服务器档案"), 9, &Tmain::N4Click);
  connect(ui->lst_server, &QWidget::customContextMenuRequested, this, [this, pm_server](const QPoint& APos) {
    pm_server->popup(ui->lst_server->viewport()->mapToGlobal(APos));
  });

  auto* pm_topic = new QMenu(this);
  pm_topic->setObjectName(QStringLiteral("pm_topic"));
  addItem(pm_topic, "N5", QStringLiteral("订阅"), 10, &Tmain::N5Click);
  addItem(pm_topic, "N6", QStringLiteral("取消订阅"), 3, &Tmain::N6Click);
  pm_topic->addSeparator()->setObjectName(QStringLiteral("N7"));
  addItem(pm_topic, "N8", QStringLiteral("删除主题"), 9, &Tmain::N8Click);
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
  const QString list = ConfigFile().ReadString(cSystem, QStringLiteral("list"), QString());
  if (list.isEmpty()) return;
  const QStringList names = CommaListItems(list);
  if (names.isEmpty()) return;
  for (const QString& name : names) ui->lst_server->AddRow(name, 12);
  ui->lst_server->SetItemIndex(0);
}

void Tmain::lst_serverItemClick() {
  ui->lst_topic->Clear();
  if (ui->lst_server->count() == 0 || ui->lst_server->ItemIndex() < 0) return;
  const QString profile = SelectedProfile();
  const TIniFile ini = ConfigFile();
  const QString topics = ini.ReadString(profile, QStringLiteral("topic"), QString());
  if (topics.isEmpty()) return;
  const QStringList rows = CommaListItems(topics);
  if (rows.isEmpty()) return;
  for (const QString& t : rows) ui->lst_topic->AddRow(t, 15);
  if (ui->lst_topic->count() > 0) ui->lst_topic->SetItemIndex(0);
  SetHistory(CommaListItems(ini.ReadString(profile, QStringLiteral("dvsno"), QString())));
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
  ConfigFile().EraseSection(ui->lst_server->Caption(row));
  ui->lst_server->DeleteRow(row, false);
  // The topic list belonged to the deleted profile: show the topics of the
  // profile that now holds the selection, so no later topic command writes
  // the deleted profile's topics into another profile's section. Done before
  // the list is rewritten, so a refused write can't leave them in view.
  lst_serverItemClick();
  ConfigFile().WriteString(cSystem, QStringLiteral("list"), JoinCommaList(ui->lst_server->Captions()));
}

// ---------------------------------------------------------------------------
// Connection

void Tmain::MQTT1Click() {
  if (ui->lst_server->count() == 0 || ui->lst_server->ItemIndex() < 0) return;
  const QString profile = SelectedProfile();
  const TIniFile ini = ConfigFile();
  const QString server = ini.ReadString(profile, QStringLiteral("server"), QString());
  const int port = ini.ReadInteger(profile, QStringLiteral("port"), 1883);
  const QString username = ini.ReadString(profile, QStringLiteral("username"), QString());
  const QString password = ini.ReadString(profile, QStringLiteral("password"), QString());
  FClient->SetClientID(NewGuidStr().toStdString());
  FClient->SetBrokerHostName(server.toStdString());
  FClient->SetBrokerPort(port);
  FClient->Credentials()->SetUsername(username.toStdString());
  FClient->Credentials()->SetPassword(password.toStdString());
  FClient->Disconnect();
  QThread::msleep(500);
  FClient->Connect(true);
}

void Tmain::N1Click() { FClient->Disconnect(); }

// ---------------------------------------------------------------------------
// Topics

void Tmain::WriteTopicList() {
  if (!HasSelectedProfile()) return;
  ConfigFile().WriteString(SelectedProfile(), QStringLiteral("topic"),
                           JoinCommaList(ui->lst_topic->Captions()));
}

void Tmain::scGPButton1Click() {
  Tadd_topic dlg(this);
  if (ShowModal(&dlg) != QDialog::Accepted) return;
  ui->lst_topic->AddRow(dlg.Topic(), 15);
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
  if (HasSelectedProfile()) ConfigFile().DeleteKey(SelectedProfile(), QStringLiteral("dvsno"));
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

void Tmain::SetSendText(const std::string& AText) {
  QString text = QString::fromStdString(AText);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  ui->mmo_send->setPlainText(text);
}

void Tmain::btn_sendClick() {
  if (!FClient->IsConnected()) {
    MsgBox(3, cInputError, QStringLiteral("未连接MQTT服务器"));
    return;
  }
  const QString topic = ui->edt_atopic->currentText();
  if (topic.isEmpty()) {
    MsgBox(3, cInputError, QStringLiteral("未输入发布的主题"));
    return;
  }
  const QString payload = SendText();
  if (payload.isEmpty()) {
    MsgBox(3, cInputError, QStringLiteral("未输入消息的主体"));
    return;
  }
  FClient->Publish(topic.toStdString(), payload.toStdString(),
                   static_cast<TNeloMQTTQoS>(ui->cbb_publish_qos->currentIndex()), false);
  QStringList history = History();
  history.removeAll(topic);
  history << topic;
  SetHistory(history);
  if (HasSelectedProfile()) {
    ConfigFile().WriteString(SelectedProfile(), QStringLiteral("dvsno"), JoinCommaList(history));
  }
}

void Tmain::nelomqtclnt1PublishReceived(uint16_t, const std::string&, const std::string& APayload) {
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
  if (FRecvLines > kRecvLineCap) {
    ui->mmo_recv->clear();
    FPendingRecv.clear();
    FRecvLines = FDocLines = 0;
  }
  AppendRecv(AMsg);
}

void Tmain::AppendRecv(const QString& AText) {
  // Plain text; every line break form starts a new line. The text widget
  // also breaks its lines at U+2029 and at its frame marks U+FDD0/U+FDD1, so
  // they count as line breaks too and the line count stays exact.
  QString text = AText;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  for (const char16_t brk : {u'\r', u'\u2029', u'\uFDD0', u'\uFDD1'})
    text.replace(QChar(brk), QLatin1Char('\n'));
  FRecvLines += static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
  FPendingRecv << text;
  if (!FRecvFlush->isActive()) FRecvFlush->start();
}

void Tmain::FlushRecv() {
  FRecvFlush->stop();
  if (FPendingRecv.isEmpty()) return;
  QString text = FPendingRecv.join(QLatin1Char('\n'));
  if (FDocLines > 0) text.prepend(QLatin1Char('\n'));
  FPendingRecv.clear();
  QTextCursor cursor(ui->mmo_recv->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(text);
  FDocLines = FRecvLines;
  // Keep the newest entry in view.
  QScrollBar* bar = ui->mmo_recv->verticalScrollBar();
  bar->setValue(bar->maximum());
}

QStringList Tmain::RecvLines() {
  FlushRecv();
  if (FRecvLines == 0) return {};
  return ui->mmo_recv->document()->toRawText().split(QChar(QChar::ParagraphSeparator));
}

void Tmain::btn4Click() {
  ui->mmo_recv->clear();
  FPendingRecv.clear();
  FRecvLines = FDocLines = 0;
}

void Tmain::btn5Click() { ui->mmo_send->clear(); }

// ---------------------------------------------------------------------------
// Print row

void Tmain::btn33Click() { SetSendText(BuzzerEnvelope()); }

void Tmain::btn34Click() { SetSendText(CutterEnvelope()); }

void Tmain::cbb_print_modeClick() { SetSendText(PrintModeEnvelope(ui->cbb_print_mode->currentIndex())); }

void Tmain::cbb_charsetChange() { SetSendText(CharsetEnvelope(ui->cbb_charset->currentIndex())); }

void Tmain::cbb_print_demoClick() { SetSendText(SampleEnvelope(ui->cbb_print_demo->currentIndex())); }

void Tmain::btn32Click() {
  Tbitmap_print dlg(this);
  if (ShowModal(&dlg) == QDialog::Accepted) SetSendText(dlg.base64text.toStdString());
}

void Tmain::btn_previewClick() { ShowPrintPreview(SendText().toUtf8(), this); }
