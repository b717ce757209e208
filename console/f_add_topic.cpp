#include "f_add_topic.h"

#include "ConsoleWidgets.h"
#include "SFunc.h"
#include "TopicField.h"
#include "ui_f_add_topic.h"

Tadd_topic::Tadd_topic(QWidget* AOver) : QDialog(nullptr), ui(std::make_unique<Ui::Tadd_topic>()) {
  EnsureConsoleResources();
  ui->setupUi(this);
  AllowFullTopicLength(ui->edt_topic);
  PrepareDialog(this, ui->lbl_title, AOver);
  connect(ui->btn_close, &QAbstractButton::clicked, this, [this] { reject(); });
  connect(ui->btn3, &QPushButton::clicked, this, [this] { RunCommand([this] { btn3Click(); }); });
}

Tadd_topic::~Tadd_topic() = default;

QString Tadd_topic::Topic() const { return ui->edt_topic->text(); }

void Tadd_topic::btn3Click() {
  if (ui->edt_topic->text().isEmpty()) {
    MsgBox(mbWarning, tr("输入错误"), tr("请输入需要订阅的主题"));
    return;
  }
  if (!TopicFitsMqtt(ui->edt_topic->text())) {
    MsgBox(mbWarning, tr("输入错误"), TopicTooLongText(ui->edt_topic->text()));
    return;
  }
  accept();
}
