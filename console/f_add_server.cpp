#include "f_add_server.h"

#include "ConfigFile.h"
#include "ConsoleWidgets.h"
#include "SFunc.h"
#include "ui_f_add_server.h"

Tadd_server::Tadd_server(QWidget* AOver) : QDialog(nullptr), ui(std::make_unique<Ui::Tadd_server>()) {
  EnsureConsoleResources();
  ui->setupUi(this);
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
  const TIniFile ini = ConfigFile();
  ui->edt_servername->setText(servername);
  ui->edt_servername->setEnabled(false);
  ui->edt_server->setText(ini.ReadString(servername, QStringLiteral("server"), QString()));
  ui->edt_port->setText(ini.ReadString(servername, QStringLiteral("port"), QString()));
  ui->edt_username->setText(ini.ReadString(servername, QStringLiteral("username"), QString()));
  ui->edt_password->setText(ini.ReadString(servername, QStringLiteral("password"), QString()));
}

void Tadd_server::btn3Click() {
  const QString caption = QStringLiteral("输入错误");
  const QString name = ui->edt_servername->text();
  if (name.isEmpty()) {
    MsgBox(3, caption, QStringLiteral("请输入自定义名称"));
    ui->edt_servername->setFocus();
    return;
  }
  if (ui->edt_server->text().isEmpty()) {
    MsgBox(3, caption, QStringLiteral("请输入服务器地址"));
    ui->edt_server->setFocus();
    return;
  }
  int port = 0;
  if (!TryStrToInt(ui->edt_port->text(), port)) {
    MsgBox(3, caption, QStringLiteral("请输入正确的端口号"));
    ui->edt_port->setFocus();
    return;
  }
  TIniFile ini = ConfigFile();
  const QString list = ini.ReadString(QStringLiteral("system"), QStringLiteral("list"), QString());
  if (list.isEmpty()) {
    ini.WriteString(QStringLiteral("system"), QStringLiteral("list"), name + QLatin1Char(','));
  } else if (!SplitCommaList(list).contains(name, Qt::CaseSensitive)) {
    ini.WriteString(QStringLiteral("system"), QStringLiteral("list"), list + name + QLatin1Char(','));
  }
  ini.WriteString(name, QStringLiteral("server"), ui->edt_server->text());
  ini.WriteInteger(name, QStringLiteral("port"), port);
  ini.WriteString(name, QStringLiteral("username"), ui->edt_username->text());
  ini.WriteString(name, QStringLiteral("password"), ui->edt_password->text());
  MsgBox(1, QString(), QStringLiteral("保存完成"));
  accept();
}
