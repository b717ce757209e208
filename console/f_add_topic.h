// The topic dialog: asks for one subscription topic.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class Tadd_topic;
}

class Tadd_topic : public QDialog {
  Q_OBJECT
 public:
  explicit Tadd_topic(QWidget* AOver = nullptr);
  ~Tadd_topic() override;

  Ui::Tadd_topic* Form() const { return ui.get(); }
  // The topic as typed.
  QString Topic() const;

  void btn3Click();

 private:
  std::unique_ptr<Ui::Tadd_topic> ui;
};
