// The picture dialog: target, picture width and label size, and the
// conversion's choices (scaling, dithering, threshold, gamma, raster bands,
// preview); OK picks a picture and turns it into a print task for the send
// memo. The conversion runs on a worker thread behind a progress dialog
// that can cancel it.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>
#include <memory>

#include "DitheredBitmap.h"

class QAbstractButton;
class QProgressDialog;

namespace Ui {
class Tbitmap_print;
}

class Tbitmap_print : public QDialog {
  Q_OBJECT
 public:
  explicit Tbitmap_print(QWidget* AOver = nullptr);
  ~Tbitmap_print() override;

  Ui::Tbitmap_print* Form() const { return ui.get(); }

  // The finished envelope, set when the dialog closes with OK.
  QString base64text;
  // Folder of the two dump files (a.bin, base64.txt); empty: the print
  // library's default folder.
  QString DumpDir;

  // Raised on the user-interface thread once the progress dialog exists,
  // just before the conversion starts on its worker thread (tests and tools
  // drive the progress dialog through it).
  std::function<void(Tbitmap_print* ASender, QProgressDialog* AProgress)> OnConversionStart;

  void rb_recpet_escposClick();
  void rb_recpet_tsplClick();
  void btn_closeClick();
  void btn3Click();

  // Escape and the close glyph wait while a conversion runs.
  void reject() override;

 private:
  std::unique_ptr<Ui::Tbitmap_print> ui;
  bool FConverting = false;
};

// The dithered picture at one dot per pixel, before it goes to the send
// memo: "放入发送区" accepts, "返回" goes back to the picture dialog.
class TDitheredPreview : public QDialog {
  Q_OBJECT
 public:
  TDitheredPreview(const TMonoBitmap& AImage, QWidget* AOver = nullptr);

  // The picture as shown: black dots black, the rest white.
  const QImage& Picture() const { return FPicture; }
  QAbstractButton* SendButton() const { return FSend; }
  QAbstractButton* BackButton() const { return FBack; }

 private:
  QImage FPicture;
  QAbstractButton* FSend = nullptr;
  QAbstractButton* FBack = nullptr;
};

// The one-bit image as a QImage (Format_Mono, 0 black, 1 white).
QImage MonoBitmapToImage(const TMonoBitmap& AImage);
