#include "f_print_preview.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSizeGrip>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

#include "ConsoleWidgets.h"
#include "JobReader.h"
#include "SFunc.h"
#include "ui_f_print_preview.h"

namespace {
const QColor kGround(0xe9, 0xed, 0xf2);
const QColor kPageEdge(0xc3, 0xcb, 0xd6);
const QColor kCaption(0x4a, 0x55, 0x68);
const QColor kMark(0xe0, 0x44, 0x3e);
const QColor kErrorText(0xb4, 0x23, 0x18);
const QColor kErrorGround(0xfd, 0xec, 0xea);
const QColor kWarningText(0x8a, 0x5a, 0x00);
const QColor kWarningGround(0xff, 0xf6, 0xe0);

// The receipt widths of the width choice, in its item order.
constexpr int kWidths[] = {576, 384};
// The zoom choice: factors, then "fit width".
constexpr double kZooms[] = {0.5, 1.0, 2.0};
constexpr int kZoomFitWidth = 3;

// A page as a one-bit image: white paper, black dots, one pixel per dot.
QImage PageImage(const TRenderPage& APage) {
  const int width = std::max(APage.Width(), 1);
  const int height = std::max(APage.Height(), 1);
  QImage image(width, height, QImage::Format_Mono);
  image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
  image.fill(0);
  if (APage.Width() > 0) {
    for (int y = 0; y < APage.Height(); ++y)
      std::memcpy(image.scanLine(y), APage.Row(y), static_cast<size_t>(APage.RowBytes()));
  }
  return image;
}
}  // namespace

// ---------------------------------------------------------------------------
// Pages

TPreviewPages::TPreviewPages(QWidget* AParent) : QWidget(AParent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  Relayout();
}

void TPreviewPages::SetPages(std::vector<TPage> APages) {
  FPages = std::move(APages);
  Relayout();
}

void TPreviewPages::SetZoom(double AZoom) {
  FZoom = std::clamp(AZoom, 0.05, 8.0);
  Relayout();
}

int TPreviewPages::WidestPage() const {
  int widest = 0;
  for (const TPage& page : FPages) widest = std::max(widest, page.Image.width());
  return widest;
}

QRect TPreviewPages::PageRect(int AIndex) const {
  return AIndex >= 0 && AIndex < static_cast<int>(FRects.size()) ? FRects[static_cast<size_t>(AIndex)]
                                                                 : QRect();
}

QSize TPreviewPages::sizeHint() const { return FSize; }

void TPreviewPages::Relayout() {
  FRects.clear();
  const int widest = static_cast<int>(std::lround(WidestPage() * FZoom));
  const int contentWidth = std::max(widest, 200);
  int y = kMargin;
  for (const TPage& page : FPages) {
    const int w = std::max(1, static_cast<int>(std::lround(page.Image.width() * FZoom)));
    const int h = std::max(1, static_cast<int>(std::lround(page.Image.height() * FZoom)));
    y += kCaptionHeight;
    FRects.emplace_back(kMargin + (contentWidth - w) / 2, y, w, h);
    y += h + kGap;
  }
  if (FPages.empty()) y += 80;
  FSize = QSize(contentWidth + 2 * kMargin, y - (FPages.empty() ? 0 : kGap) + kMargin);
  setFixedSize(FSize);
  update();
}

void TPreviewPages::paintEvent(QPaintEvent* AEvent) {
  QPainter p(this);
  const QRect exposed = AEvent->rect();
  p.fillRect(exposed, kGround);
  if (FPages.empty()) {
    p.setPen(kCaption);
    p.drawText(rect(), Qt::AlignCenter, tr("没有可打印的页面"));
    return;
  }
  QFont small = font();
  small.setPixelSize(11);
  p.setFont(small);
  const QFontMetrics fm(small);
  for (size_t i = 0; i < FPages.size(); ++i) {
    const TPage& page = FPages[i];
    const QRect r = FRects[i];
    if (!r.adjusted(-kMargin, -kCaptionHeight, 200, kMargin).intersects(exposed)) continue;

    // Caption above the page, shadow and edge around it.
    p.setPen(kCaption);
    const int captionWidth = std::max(r.width(), 240);
    p.drawText(QRect(r.left(), r.top() - kCaptionHeight, captionWidth, kCaptionHeight - 5),
               Qt::AlignLeft | Qt::AlignBottom, fm.elidedText(page.Caption, Qt::ElideRight, captionWidth));
    p.fillRect(r.translated(3, 3), QColor(0, 0, 0, 28));
    p.setPen(kPageEdge);
    p.drawRect(r.adjusted(-1, -1, 0, 0));

    // Only the rows in view are scaled and drawn: a long receipt has
    // thousands of them.
    const QRect visible = r & exposed;
    if (!visible.isEmpty()) {
      const int rows = page.Image.height();
      const int first =
          std::clamp(static_cast<int>(std::floor((visible.top() - r.top()) / FZoom)), 0, rows - 1);
      const int last =
          std::clamp(static_cast<int>(std::ceil((visible.bottom() + 1 - r.top()) / FZoom)), first + 1, rows);
      const QRectF source(0, first, page.Image.width(), last - first);
      const QRectF target(r.left(), r.top() + first * FZoom, r.width(), (last - first) * FZoom);
      p.setRenderHint(QPainter::SmoothPixmapTransform, FZoom < 1.0);
      p.drawImage(target, page.Image, source);
    }

    // Marks: a dashed line across the page where the printer cuts, beeps
    // or opens the drawer, with its words at the right end.
    for (const TPageMark& mark : page.Marks) {
      const int y = r.top() + static_cast<int>(std::lround(mark.Y * FZoom));
      p.setPen(QPen(kMark, 1, Qt::DashLine));
      p.drawLine(r.left() - 6, y, r.right() + 6, y);
      const QString text = QString::fromStdString(mark.Text);
      const int tw = fm.horizontalAdvance(text) + 10;
      const QRect tag(r.right() - tw, y - fm.height() - 3, tw, fm.height() + 2);
      p.fillRect(tag, QColor(255, 255, 255, 230));
      p.setPen(kMark);
      p.drawRect(tag.adjusted(0, 0, -1, -1));
      p.drawText(tag, Qt::AlignCenter, text);
    }
  }
}

// ---------------------------------------------------------------------------
// Dialog

void ShowPrintPreview(const QByteArray& APayload, QWidget* AOver) {
  Tprint_preview dlg(APayload, AOver);
  ShowModal(&dlg);
}

Tprint_preview::Tprint_preview(const QByteArray& APayload, QWidget* AOver)
    : QDialog(nullptr), ui(std::make_unique<Ui::Tprint_preview>()), FPayload(APayload) {
  EnsureConsoleResources();
  ui->setupUi(this);
  PrepareDialog(this, ui->lbl_title, AOver);

  FPagesView = new TPreviewPages;
  FPagesView->setObjectName(QStringLiteral("pnl_pages"));
  ui->scr_pages->setWidget(FPagesView);
  QPalette ground = ui->scr_pages->palette();
  ground.setColor(QPalette::Window, kGround);
  ground.setColor(QPalette::Base, kGround);
  ui->scr_pages->setPalette(ground);
  ui->scr_pages->setBackgroundRole(QPalette::Window);
  ui->scr_pages->viewport()->setAutoFillBackground(true);
  ui->scr_pages->setFrameShape(QFrame::NoFrame);
  ui->scr_pages->viewport()->installEventFilter(this);

  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  mono.setPixelSize(11);
  ui->mmo_listing->setFont(mono);
  ui->lst_findings->setFont(mono);
  ui->lst_findings->setIconSize(QSize(16, 16));
  QFont heading = ui->lbl_listing->font();
  heading.setBold(true);
  ui->lbl_listing->setFont(heading);
  ui->lbl_findings->setFont(heading);
  ui->lbl_summary->setTextInteractionFlags(Qt::NoTextInteraction);

  ui->spl_preview->setStretchFactor(0, 1);
  ui->spl_preview->setStretchFactor(1, 0);
  // The pages at one pixel per dot beside a listing wide enough for its
  // mnemonics and arguments.
  ui->spl_preview->setSizes({650, 530});
  ui->spl_text->setSizes({440, 190});

  // The dialog has no frame to drag: a grip in the corner resizes it.
  FGrip = new QSizeGrip(this);
  FGrip->setObjectName(QStringLiteral("grip"));
  FGrip->resize(FGrip->sizeHint());

  connect(ui->btn_close, &QAbstractButton::clicked, this,
          [this] { RunCommand([this] { btn_closeClick(); }); });
  // One entry per printer profile, the seed's printer first.
  for (const TPrinterProfile& p : PrinterProfiles())
    ui->cbb_profile->addItem(tr("%1（%2 点）").arg(QString::fromStdString(p.Name)).arg(p.Width),
                             QString::fromStdString(p.Name));
  ui->cbb_profile->setCurrentIndex(0);
  connect(ui->cbb_profile, &QComboBox::currentIndexChanged, this,
          [this] { RunCommand([this] { cbb_profileChange(); }); });
  connect(ui->cbb_width, &QComboBox::currentIndexChanged, this,
          [this] { RunCommand([this] { cbb_widthChange(); }); });
  connect(ui->cbb_zoom, &QComboBox::currentIndexChanged, this,
          [this] { RunCommand([this] { cbb_zoomChange(); }); });

  RenderPayload();
}

Tprint_preview::~Tprint_preview() = default;

int Tprint_preview::ReceiptWidth() const {
  const int i = ui->cbb_width->currentIndex();
  return i >= 0 && i < static_cast<int>(std::size(kWidths)) ? kWidths[i] : kWidths[0];
}

std::string Tprint_preview::ProfileName() const {
  const QString name = ui->cbb_profile->currentData().toString();
  return name.isEmpty() ? DefaultPrinterProfile().Name : name.toStdString();
}

void Tprint_preview::cbb_profileChange() {
  // The width choice follows the profile's paper; a label printer's width
  // is its own.
  const TPrinterProfile* p = FindPrinterProfile(ProfileName());
  const bool receipt = p && p->Kind == pkReceipt;
  ui->cbb_width->setEnabled(receipt);
  if (receipt) {
    for (int i = 0; i < static_cast<int>(std::size(kWidths)); ++i)
      if (kWidths[i] == p->Width) {
        const QSignalBlocker block(ui->cbb_width);
        ui->cbb_width->setCurrentIndex(i);
      }
  }
  RenderPayload();
}

void Tprint_preview::cbb_widthChange() { RenderPayload(); }

void Tprint_preview::cbb_zoomChange() { ApplyZoom(); }

void Tprint_preview::btn_closeClick() { reject(); }

void Tprint_preview::RenderPayload() {
  const std::string bytes(FPayload.constData(), static_cast<size_t>(FPayload.size()));
  FIsEnvelope = LooksLikeEnvelope(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  FResult = TRenderResult();
  QString failure;
  if (FIsEnvelope) {
    TRenderOptions options;
    options.Profile = ProfileName();
    if (ui->cbb_width->isEnabled()) options.Width = ReceiptWidth();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
      FResult = RenderEnvelope(bytes, options);
    } catch (const std::exception& e) {
      failure = QString::fromStdString(e.what());
    }
    QApplication::restoreOverrideCursor();
  }

  std::vector<TPreviewPages::TPage> pages;
  const int count = static_cast<int>(FResult.Pages.size());
  for (int i = 0; i < count; ++i) {
    const TRenderedPage& rendered = FResult.Pages[static_cast<size_t>(i)];
    TPreviewPages::TPage page;
    page.Image = PageImage(rendered.Page);
    QString caption = tr("第 %1/%2 页").arg(i + 1).arg(count);
    if (FResult.JobLanguages.size() > 1)
      caption += QStringLiteral(" · ") + tr("任务 %1").arg(rendered.Job + 1);
    caption += QStringLiteral(" · ") + QString::fromLatin1(LanguageName(rendered.Language));
    caption +=
        QStringLiteral(" · ") + tr("%1 × %2 点").arg(rendered.Page.Width()).arg(rendered.Page.Height());
    if (rendered.Copies > 1) caption += QStringLiteral(" · ") + tr("%1 份").arg(rendered.Copies);
    page.Caption = caption;
    page.Marks = rendered.Marks;
    pages.push_back(std::move(page));
  }
  FPagesView->SetPages(std::move(pages));
  ApplyZoom();

  ui->mmo_listing->setPlainText(QString::fromStdString(FResult.ListingText()));
  ShowFindings();
  if (!failure.isEmpty()) {
    auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_MessageBoxCritical),
                                     tr("预览失败：%1").arg(failure));
    item->setData(Qt::UserRole, static_cast<int>(fsError));
    item->setForeground(kErrorText);
    item->setBackground(kErrorGround);
    ui->lst_findings->insertItem(0, item);
  }
  ShowSummary();
}

void Tprint_preview::ShowFindings() {
  QListWidget* list = ui->lst_findings;
  list->clear();
  auto add = [&](TFindingSeverity ASeverity, const QString& AText) {
    QStyle::StandardPixmap icon = QStyle::SP_MessageBoxInformation;
    auto* item = new QListWidgetItem;
    item->setText(AText);  // plain text: findings quote the payload
    item->setData(Qt::UserRole, static_cast<int>(ASeverity));
    if (ASeverity == fsError) {
      icon = QStyle::SP_MessageBoxCritical;
      item->setForeground(kErrorText);
      item->setBackground(kErrorGround);
      QFont bold = list->font();
      bold.setBold(true);
      item->setFont(bold);
    } else if (ASeverity == fsWarning) {
      icon = QStyle::SP_MessageBoxWarning;
      item->setForeground(kWarningText);
      item->setBackground(kWarningGround);
    }
    item->setIcon(style()->standardIcon(icon));
    list->addItem(item);
  };
  if (FPayload.trimmed().isEmpty()) {
    add(fsError, tr("消息为空，没有可预览的内容"));
  } else if (!FIsEnvelope) {
    add(fsError, tr("不是打印任务信封：消息不以“{”开头，没有可预览的打印指令"));
  }
  for (const TFinding& f : FResult.Findings) add(f.Severity, QString::fromStdString(FormatFinding(f)));
  if (FIsEnvelope && FResult.Findings.empty()) add(fsInfo, tr("没有发现问题"));
}

void Tprint_preview::ShowSummary() {
  int errors = 0, warnings = 0;
  for (int i = 0; i < ui->lst_findings->count(); ++i) {
    const int severity = ui->lst_findings->item(i)->data(Qt::UserRole).toInt();
    if (severity == fsError) ++errors;
    if (severity == fsWarning) ++warnings;
  }
  QString text = tr("%1 页").arg(FResult.Pages.size());
  text += QStringLiteral(" · ") + tr("%1 个错误").arg(errors);
  text += QStringLiteral(" · ") + tr("%1 个警告").arg(warnings);
  ui->lbl_summary->setText(text);
  QPalette pal = ui->lbl_summary->palette();
  pal.setColor(QPalette::WindowText, errors ? kErrorText : (warnings ? kWarningText : kCaption));
  ui->lbl_summary->setPalette(pal);
}

QStringList Tprint_preview::FindingLines() const {
  QStringList lines;
  for (int i = 0; i < ui->lst_findings->count(); ++i) lines << ui->lst_findings->item(i)->text();
  return lines;
}

void Tprint_preview::ApplyZoom() {
  const int choice = ui->cbb_zoom->currentIndex();
  double zoom = 1.0;
  if (choice >= 0 && choice < static_cast<int>(std::size(kZooms))) {
    zoom = kZooms[choice];
  } else if (choice == kZoomFitWidth && FPagesView->WidestPage() > 0) {
    // The widest page fills the area's width, a vertical scroll bar allowed for.
    const int room = ui->scr_pages->viewport()->width() - 2 * TPreviewPages::kMargin -
                     (ui->scr_pages->verticalScrollBar()->isVisible()
                          ? 0
                          : ui->scr_pages->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    zoom = std::max(room, 40) / static_cast<double>(FPagesView->WidestPage());
  }
  FPagesView->SetZoom(zoom);
}

void Tprint_preview::resizeEvent(QResizeEvent* AEvent) {
  QDialog::resizeEvent(AEvent);
  FGrip->move(width() - FGrip->width(), height() - FGrip->height());
  FGrip->raise();
}

bool Tprint_preview::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == ui->scr_pages->viewport() && AEvent->type() == QEvent::Resize &&
      ui->cbb_zoom->currentIndex() == kZoomFitWidth) {
    ApplyZoom();
  }
  return QDialog::eventFilter(AWatched, AEvent);
}
