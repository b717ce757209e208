// The picture dialog: target, picture width and label size; OK picks a
// picture and turns it into a print task for the send memo.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

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

  void rb_recpet_escposClick();
  void rb_recpet_tsplClick();
  void btn_closeClick();
  void btn3Click();

 private:
  std::unique_ptr<Ui::Tbitmap_print> ui;
};
