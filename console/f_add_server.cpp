#include "f_add_server.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ConfigFile.h"
#include "ConsoleWidgets.h"
#include "ProfileStore.h"
#include "SFunc.h"
#include "ui_f_add_server.h"

Tadd_server::Tadd_server(QWidget* AOver) : QDialog(nullptr), ui(std::make_unique<Ui::Tadd_server>()) {
  EnsureConsoleResources();
  ui->setupUi(this);
  // Below the fields: TLS on or off, CA file, client certificate and key,
  // host-name check.
  FTls = new QGroupBox(tr("使用 TLS 加密连接"), ui->pnl_body);
  FTls->setObjectName(QStringLiteral("chk_tls"));
  FTls->setCheckable(true);
  FTls->setChecked(false);
  auto* tlsLayout = new QVBoxLayout(FTls);
  tlsLayout->setContentsMargins(6, 4, 6, 4);
  tlsLayout->setSpacing(4);
  auto addEdit = [this, tlsLayout](const char* AName, const QString& APrompt) {
    auto* e = new QLineEdit(FTls);
    e->setObjectName(QString::fromLatin1(AName));
    e->setPlaceholderText(APrompt);
    e->setMinimumHeight(26);
    tlsLayout->addWidget(e);
    return e;
  };
  FCAFile = addEdit("edt_cafile", tr("CA 证书文件（留空则用系统证书）"));
  FCertFile = addEdit("edt_certfile", tr("客户端证书文件（可选）"));
  FKeyFile = addEdit("edt_keyfile", tr("客户端私钥文件（可选）"));
  FVerifyHost = new QCheckBox(tr("校验服务器主机名"), FTls);
  FVerifyHost->setObjectName(QStringLiteral("chk_verifyhost"));
  FVerifyHost->setChecked(true);
  tlsLayout->addWidget(FVerifyHost);
  ui->pnl_body_layout->insertWidget(ui->pnl_body_layout->indexOf(ui->edt_password) + 1, FTls);
  // The seed's focus order stays (the fields, then the button); the TLS area follows it.
  setTabOrder(ui->edt_password, ui->btn3);
  setTabOrder(ui->btn3, FTls);
  setTabOrder(FTls, FCAFile);
  setTabOrder(FCAFile, FCertFile);
  setTabOrder(FCertFile, FKeyFile);
  setTabOrder(FKeyFile, FVerifyHost);
  resize(width(), height() + 150);

  PrepareDialog(this, ui->lbl_title, AOver);
  connect(ui->btn_close, &QAbstractButton::clicked, this, [this] { reject(); });
  connect(ui->btn3, &QPushButton::clicked, this, [this] { RunCommand([this] { btn3Click(); }); });
}

Tadd_server::~Tadd_server() = default;

void Tadd_server::showEvent(QShowEvent* AEvent) {
  QDialog::showEvent(AEvent);
  if (!FShown) FormShow();
}

void Tadd_server::FormShow() {
  FShown = true;
  if (servername.isEmpty()) return;
  const TProfileTexts texts = ReadProfileTexts(servername);
  ui->edt_servername->setText(servername);
  ui->edt_servername->setEnabled(false);
  ui->edt_server->setText(texts.Server);
  ui->edt_port->setText(texts.Port);
  ui->edt_username->setText(texts.Username);
  ui->edt_password->setText(texts.Password);
  const TProfileTls tls = ReadProfileTls(servername);
  FTls->setChecked(tls.Enabled);
  FCAFile->setText(tls.CAFile);
  FCertFile->setText(tls.CertFile);
  FKeyFile->setText(tls.KeyFile);
  FVerifyHost->setChecked(tls.VerifyHostName);
}

void Tadd_server::btn3Click() {
  const QString caption = tr("输入错误");
  const QString name = ui->edt_servername->text();
  if (name.isEmpty()) {
    MsgBox(mbWarning, caption, tr("请输入自定义名称"));
    ui->edt_servername->setFocus();
    return;
  }
  if (ui->edt_server->text().isEmpty()) {
    MsgBox(mbWarning, caption, tr("请输入服务器地址"));
    ui->edt_server->setFocus();
    return;
  }
  int port = 0;
  if (!TryStrToInt(ui->edt_port->text(), port)) {
    MsgBox(mbWarning, caption, tr("请输入正确的端口号"));
    ui->edt_port->setFocus();
    return;
  }
  AddProfileName(name);
  WriteProfileConnection(name, ui->edt_server->text(), port, ui->edt_username->text(),
                         ui->edt_password->text());
  TProfileTls tls;
  tls.Enabled = FTls->isChecked();
  tls.CAFile = FCAFile->text();
  tls.CertFile = FCertFile->text();
  tls.KeyFile = FKeyFile->text();
  tls.VerifyHostName = FVerifyHost->isChecked();
  WriteProfileTls(name, tls);
  MsgBox(mbInformation, QString(), tr("保存完成"));
  accept();
}
