#include "f_bitmap_print.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <thread>

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

void Tbitmap_print::reject() {
  if (!FConverting) QDialog::reject();
}

namespace {

// The gamma edit: empty for none, otherwise a decimal number.
double DialogGamma(const QString& AText) {
  const QString t = AText.trimmed();
  if (t.isEmpty()) return 0;
  bool ok = false;
  const double g = t.toDouble(&ok);
  if (!ok) throw EPrintError("'" + AText.toStdString() + "' is not a valid floating point value");
  return g;
}

}  // namespace

void Tbitmap_print::btn3Click() {
  const QString file = OpenPictureFile(this);
  if (file.isEmpty()) return;
  TBitmapPrintSettings settings;
  settings.PaperWidth = DialogInteger(ui->edt_paper_width->text());
  settings.EscPos = ui->rb_recpet_escpos->isChecked();
  settings.LabelWidth = DialogInteger(ui->edt_width->text());
  settings.LabelHeight = DialogInteger(ui->edt_height->text());
  settings.DumpDir = DumpDir.toStdString();
  // The width is the first field read, as it always was.
  DialogTextToInt(settings.PaperWidth);
  TPictureOptions& options = settings.Picture;
  options.Scale = ui->cbb_scale->currentIndex() == 1 ? psArea : psNearest;
  const TDitherMethod methods[] = {dmFloydSteinberg, dmFloydSteinbergSerpentine, dmAtkinson, dmBayer,
                                   dmThreshold};
  const int method = ui->cbb_dither->currentIndex();
  options.Dither = method >= 0 && method < 5 ? methods[method] : dmFloydSteinberg;
  options.Threshold = DialogTextToInt(DialogInteger(ui->edt_threshold->text()));
  options.Gamma = DialogGamma(ui->edt_gamma->text());
  settings.BandRows = DialogTextToInt(DialogInteger(ui->edt_band_rows->text()));

  // The conversion runs on a worker thread; this thread keeps the window
  // alive and shows its progress until it ends or is cancelled.
  QProgressDialog progress(tr("正在转换图片…"), tr("取消"), 0, 1000, this);
  progress.setWindowTitle(tr("图片打印"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(400);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  std::atomic<bool> cancelled{false};
  std::atomic<long long> done{0}, total{0};
  connect(&progress, &QProgressDialog::canceled, &progress, [&cancelled] { cancelled = true; });
  options.Progress = [&](long long ADone, long long ATotal) {
    done = ADone;
    total = ATotal;
    return !cancelled.load();
  };
  if (OnConversionStart) OnConversionStart(this, &progress);

  const std::string fileName = QFile::encodeName(file).toStdString();
  TBitmapPrintResult result;
  std::exception_ptr failure;
  {
    // The fields and the buttons wait until the conversion has ended.
    struct TBusy {
      Tbitmap_print* Dialog;
      explicit TBusy(Tbitmap_print* ADialog) : Dialog(ADialog) {
        Dialog->FConverting = true;
        Dialog->ui->pnl_body->setEnabled(false);
        Dialog->ui->btn_close->setEnabled(false);
      }
      ~TBusy() {
        Dialog->FConverting = false;
        Dialog->ui->pnl_body->setEnabled(true);
        Dialog->ui->btn_close->setEnabled(true);
      }
    } busy(this);
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &progress, [&] {
      const long long t = total.load();
      if (t > 0) progress.setValue(static_cast<int>(done.load() * 1000 / t));
    });
    tick.start(50);
    std::thread worker([&] {
      try {
        result = MakeBitmapPrintTask(fileName, settings);
      } catch (...) {
        failure = std::current_exception();
      }
      QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    tick.stop();
    progress.reset();
  }
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const EPrintCancelled&) {
      return;  // the operator stopped it: the dialog stays as it was
    }
  }
  if (ui->chk_preview->isChecked()) {
    TDitheredPreview preview(result.Image, this);
    if (ShowModal(&preview) != QDialog::Accepted) return;
  }
  base64text = QString::fromStdString(result.base64text);
  accept();
}

//---------------------------------------------------------------- preview

QImage MonoBitmapToImage(const TMonoBitmap& AImage) {
  QImage img(AImage.Width, AImage.Height, QImage::Format_Mono);
  img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < AImage.Height; ++y)
    std::memcpy(img.scanLine(y), AImage.Row(y), static_cast<size_t>(AImage.RowBytes));
  return img;
}

TDitheredPreview::TDitheredPreview(const TMonoBitmap& AImage, QWidget* AOver)
    : QDialog(AOver), FPicture(MonoBitmapToImage(AImage)) {
  setObjectName(QStringLiteral("dithered_preview"));
  setWindowTitle(tr("打印预览"));
  auto* layout = new QVBoxLayout(this);
  auto* area = new QScrollArea(this);
  auto* view = new QLabel(area);
  view->setObjectName(QStringLiteral("img_preview"));
  view->setPixmap(QPixmap::fromImage(FPicture));
  view->setFixedSize(FPicture.size());
  area->setWidget(view);
  area->setAlignment(Qt::AlignCenter);
  layout->addWidget(area);
  auto* size = new QLabel(tr("%1 × %2 点").arg(AImage.Width).arg(AImage.Height), this);
  layout->addWidget(size);
  auto* buttons = new QHBoxLayout();
  auto* send = new QPushButton(tr("放入发送区"), this);
  auto* back = new QPushButton(tr("返回"), this);
  send->setObjectName(QStringLiteral("btn_send_preview"));
  back->setObjectName(QStringLiteral("btn_back_preview"));
  buttons->addStretch();
  buttons->addWidget(send);
  buttons->addWidget(back);
  layout->addLayout(buttons);
  FSend = send;
  FBack = back;
  connect(send, &QPushButton::clicked, this, &QDialog::accept);
  connect(back, &QPushButton::clicked, this, &QDialog::reject);
  // One dot per pixel, within the screen.
  resize(std::min(FPicture.width() + 40, 900), std::min(FPicture.height() + 100, 700));
}
