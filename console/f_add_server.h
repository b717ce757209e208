// The profile dialog: adds a broker profile, or edits one when servername is set.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class Tadd_server;
}

class Tadd_server : public QDialog {
  Q_OBJECT
 public:
  // AOver is the window the dialog is centred on; the dialog has no owner.
  explicit Tadd_server(QWidget* AOver = nullptr);
  ~Tadd_server() override;

  // Empty when adding a profile; the profile's name when editing one.
  QString servername;

  Ui::Tadd_server* Form() const { return ui.get(); }

  void FormShow();
  void btn3Click();

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  std::unique_ptr<Ui::Tadd_server> ui;
  bool FShown = false;
};
