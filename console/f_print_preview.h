// The print preview: a payload (a print task envelope) drawn as the printer
// would print it, page by page, with the command listing and the findings,
// for a printer profile and a receipt width of 576 or 384 dots.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

#include "Render.h"

namespace Ui {
class Tprint_preview;
}

class QScrollArea;

// Opens the preview for a payload (the bytes as they travel, e.g. the send
// memo's text as UTF-8 or a received publication) over AOver, modally, and
// returns when it is closed. A payload that is not an envelope is said so
// in the findings.
void ShowPrintPreview(const QByteArray& APayload, QWidget* AOver = nullptr);

// The pages of a rendered job, one below the other on a grey ground, drawn
// at a zoom factor (1 = one screen pixel per dot), with the marks (cuts,
// buzzer, drawer) across the page.
class TPreviewPages : public QWidget {
  Q_OBJECT
 public:
  struct TPage {
    QImage Image;  // one pixel per dot, black on white
    QString Caption;
    std::vector<TPageMark> Marks;
  };

  explicit TPreviewPages(QWidget* AParent = nullptr);

  void SetPages(std::vector<TPage> APages);
  const std::vector<TPage>& Pages() const { return FPages; }
  void SetZoom(double AZoom);
  double Zoom() const { return FZoom; }
  // Where a page is drawn, in this widget's coordinates.
  QRect PageRect(int AIndex) const;
  // The widest page in dots (0 without pages).
  int WidestPage() const;
  // Margin around the pages and the room above each for its caption.
  static constexpr int kMargin = 16;
  static constexpr int kCaptionHeight = 22;
  static constexpr int kGap = 14;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* AEvent) override;

 private:
  void Relayout();
  std::vector<TPage> FPages;
  std::vector<QRect> FRects;
  QSize FSize;
  double FZoom = 1.0;
};

class Tprint_preview : public QDialog {
  Q_OBJECT
 public:
  // The preview of APayload, rendered at once at the first width (576 dots).
  explicit Tprint_preview(const QByteArray& APayload, QWidget* AOver = nullptr);
  ~Tprint_preview() override;

  Ui::Tprint_preview* Form() const { return ui.get(); }
  TPreviewPages* PagesView() const { return FPagesView; }

  // The receipt width the width choice stands for (576 or 384 dots).
  int ReceiptWidth() const;
  // The printer profile chosen (gbk-80 at first).
  std::string ProfileName() const;
  // The last rendering and whether the payload looked like an envelope.
  const TRenderResult& Result() const { return FResult; }
  bool IsEnvelope() const { return FIsEnvelope; }
  // The findings as shown, one line each.
  QStringList FindingLines() const;

  void cbb_profileChange();
  void cbb_widthChange();
  void cbb_zoomChange();
  void btn_closeClick();
  // Renders the payload again with the current width.
  void RenderPayload();

 protected:
  // Keeps "fit width" fitted while the page area changes size.
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;

 private:
  void ShowFindings();
  void ShowSummary();
  void ApplyZoom();

  std::unique_ptr<Ui::Tprint_preview> ui;
  QByteArray FPayload;
  TRenderResult FResult;
  bool FIsEnvelope = false;
  TPreviewPages* FPagesView = nullptr;
  class QSizeGrip* FGrip = nullptr;
};
