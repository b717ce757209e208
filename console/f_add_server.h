// The profile dialog: adds a broker profile, or edits one when servername is set.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QCheckBox;
class QLineEdit;
class QGroupBox;

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
  // The TLS area below the fields.
  QGroupBox* chk_tls() const { return FTls; }
  QLineEdit* edt_cafile() const { return FCAFile; }
  QLineEdit* edt_certfile() const { return FCertFile; }
  QLineEdit* edt_keyfile() const { return FKeyFile; }
  QCheckBox* chk_verifyhost() const { return FVerifyHost; }

  void FormShow();
  void btn3Click();

 protected:
  void showEvent(QShowEvent* AEvent) override;

 private:
  std::unique_ptr<Ui::Tadd_server> ui;
  bool FShown = false;
  QGroupBox* FTls;
  QLineEdit* FCAFile;
  QLineEdit* FCertFile;
  QLineEdit* FKeyFile;
  QCheckBox* FVerifyHost;
};
