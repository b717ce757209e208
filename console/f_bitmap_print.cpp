#include "f_bitmap_print.h"

#include <QApplication>
#include <QFile>

#include "BitmapPrintJob.h"
#include "ConsoleWidgets.h"
#include "IniFile.h"
#include "SFunc.h"
#include "ui_f_bitmap_print.h"

Tbitmap_print::Tbitmap_print(QWidget* AOver) : QDialog(nullptr), ui(std::make_unique<Ui::Tbitmap_print>()) {
  EnsureConsoleResources();
  ui->setupUi(this);
  PrepareDialog(this, ui->lbl_title, AOver);
  connect(ui->btn_close, &QAbstractButton::clicked, this,
          [this] { RunCommand([this] { btn_closeClick(); }); });
  connect(ui->btn3, &QPushButton::clicked, this, [this] { RunCommand([this] { btn3Click(); }); });
  connect(ui->rb_recpet_escpos, &QRadioButton::clicked, this,
          [this] { RunCommand([this] { rb_recpet_escposClick(); }); });
  connect(ui->rb_recpet_tspl, &QRadioButton::clicked, this,
          [this] { RunCommand([this] { rb_recpet_tsplClick(); }); });
}

Tbitmap_print::~Tbitmap_print() = default;

namespace {
// An edit's integer as the conversion reads it. The console's integer texts
// also take hexadecimal after "$", "x" or "0x" (as the port does); such a
// text is handed on in decimal. Anything else goes as typed, so the
// conversion reports it with the operator's own text.
std::string DialogInteger(const QString& AText) {
  int value = 0;
  return TryStrToInt(AText, value) ? std::to_string(value) : AText.toStdString();
}
}  // namespace

void Tbitmap_print::rb_recpet_escposClick() {
  const bool labelSize = !ui->rb_recpet_escpos->isChecked();
  ui->edt_width->setEnabled(labelSize);
  ui->edt_height->setEnabled(labelSize);
}

void Tbitmap_print::rb_recpet_tsplClick() {
  const bool labelSize = ui->rb_recpet_tspl->isChecked();
  ui->edt_width->setEnabled(labelSize);
  ui->edt_height->setEnabled(labelSize);
}

void Tbitmap_print::btn_closeClick() { reject(); }

void Tbitmap_print::btn3Click() {
  const QString file = OpenPictureFile(this);
  if (file.isEmpty()) return;
  TBitmapPrintSettings settings;
  settings.PaperWidth = DialogInteger(ui->edt_paper_width->text());
  settings.EscPos = ui->rb_recpet_escpos->isChecked();
  settings.LabelWidth = DialogInteger(ui->edt_width->text());
  settings.LabelHeight = DialogInteger(ui->edt_height->text());
  settings.DumpDir = DumpDir.toStdString();
  // The conversion runs here, on the user-interface thread.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct TRestoreCursor {
    ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
  } restore;
  const TBitmapPrintResult result = MakeBitmapPrintTask(QFile::encodeName(file).toStdString(), settings);
  base64text = QString::fromStdString(result.base64text);
  accept();
}
