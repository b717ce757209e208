// The print row: every preset's memo text, and the picture dialog with its
// enable rule, its errors and a finished picture job.
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>

#include "ConsoleFixture.h"
#include "SFunc.h"
#include "f_bitmap_print.h"
#include "ui_f_bitmap_print.h"
#include "ui_f_main.h"

namespace {

// The thirteen envelope lines around a Base64 text (CR LF after each).
QString Envelope(const QString& AB) {
  return QStringLiteral(
             "{\r\n    \"dvsno\":\"xxx\",\r\n    \"kind\":\"PRINT_TASK\",\r\n    \"count\":\"1\",\r\n    "
             "\"list\":[\r\n"
             "        {\r\n            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\",\r\n"
             "            \"usbidx\":\"0\",\r\n            \"file_size\":\"%1\",\r\n            "
             "\"target_file\":\"%2\"\r\n"
             "            }\r\n    ]\r\n}\r\n")
      .arg(AB.size())
      .arg(AB);
}

QString TargetFile(const QString& AEnvelope) {
  const QStringList lines = AEnvelope.split(QStringLiteral("\r\n"));
  if (lines.size() < 10) return QString();
  QString l = lines[9].trimmed();
  l.remove(QStringLiteral("\"target_file\":\""));
  l.chop(1);
  return l;
}

struct TPresetCase {
  const char* Name;
  std::function<void(Ui::Tmain*)> Press;
  const char* Base64;  // empty: only the file size is checked
  int FileSize;
};

TEST_F(ConsoleTest, EveryPresetReplacesThePayloadWithItsEnvelope) {
  const std::vector<TPresetCase> cases = {
      {"buzzer", [](Ui::Tmain* f) { f->btn33->click(); }, "G0IDAQAAAAA=", 12},
      {"cutter", [](Ui::Tmain* f) { f->btn34->click(); }, "HVMAAAAAAAA=", 12},
      {"receipt mode", [](Ui::Tmain* f) { emit f->cbb_print_mode->activated(0); }, "EKIBAAEAALQ=", 12},
      {"label mode",
       [](Ui::Tmain* f) {
         f->cbb_print_mode->setCurrentIndex(1);
         emit f->cbb_print_mode->activated(1);
       },
       "EKIBAAEAAbU=", 12},
      {"label mode again", [](Ui::Tmain* f) { emit f->cbb_print_mode->activated(1); }, "EKIBAAEAAbU=", 12},
      {"GBK",
       [](Ui::Tmain* f) {
         f->cbb_charset->setCurrentIndex(0);
         emit f->cbb_charset->activated(0);
       },
       "EKYBAAEAALg=", 12},
      {"UTF-8",
       [](Ui::Tmain* f) {
         f->cbb_charset->setCurrentIndex(1);
         emit f->cbb_charset->activated(1);
       },
       "EKYBAAEAAbk=", 12},
      {"receipt sample", [](Ui::Tmain* f) { emit f->cbb_print_demo->activated(0); }, "", 1164},
      {"label sample",
       [](Ui::Tmain* f) {
         f->cbb_print_demo->setCurrentIndex(1);
         emit f->cbb_print_demo->activated(1);
       },
       "", 220},
  };
  Tmain& w = Window();
  for (const TPresetCase& c : cases) {
    w.Form()->mmo_send->setPlainText(QStringLiteral("an edited payload"));
    c.Press(w.Form());
    const QString sent = w.SendText();
    const QString b = TargetFile(sent);
    EXPECT_EQ(b.size(), c.FileSize) << c.Name;
    if (*c.Base64) {
      EXPECT_EQ(b, QString::fromLatin1(c.Base64)) << c.Name;
    }
    EXPECT_EQ(sent, Envelope(b)) << c.Name;
  }
  // The label sample decodes to the TSPL text.
  emit w.Form()->cbb_print_demo->activated(1);
  const QByteArray label = QByteArray::fromBase64(TargetFile(w.SendText()).toLatin1());
  EXPECT_TRUE(label.startsWith("SIZE 40 mm,20 mm\r\nCLS\r\n"));
  EXPECT_TRUE(label.endsWith("PRINT 1,5\r\n"));
  EXPECT_TRUE(Failures().isEmpty());
}

// Drives the picture dialog: AFill edits it, then "确定" (or the close glyph).
std::function<int(QDialog*)> PictureDialog(std::function<void(Tbitmap_print*)> AFill, bool AClose = false,
                                           Tbitmap_print** AKeep = nullptr, int* AResult = nullptr) {
  return [=](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tbitmap_print*>(ADialog);
    EXPECT_NE(dlg, nullptr);
    if (!dlg) return static_cast<int>(QDialog::Rejected);
    if (AKeep) *AKeep = dlg;
    if (AFill) AFill(dlg);
    (AClose ? static_cast<QAbstractButton*>(dlg->Form()->btn_close) : dlg->Form()->btn3)->click();
    if (AResult) *AResult = dlg->result();
    return dlg->result();
  };
}

TEST_F(ConsoleTest, PictureDialogOpensWithItsDefaultsAndEnablesTheLabelSizeForTspl) {
  Tmain& w = Window();
  bool checked = false;
  AnswerDialogs({PictureDialog(
      [&](Tbitmap_print* d) {
        Ui::Tbitmap_print* f = d->Form();
        EXPECT_EQ(f->edt_paper_width->text(), QStringLiteral("576"));
        EXPECT_EQ(f->edt_width->text(), QStringLiteral("50"));
        EXPECT_EQ(f->edt_height->text(), QStringLiteral("50"));
        EXPECT_EQ(f->edt_paper_width->placeholderText(), QStringLiteral("小票纸张宽度"));
        EXPECT_TRUE(f->rb_recpet_escpos->isChecked());
        EXPECT_FALSE(f->edt_width->isEnabled());
        EXPECT_FALSE(f->edt_height->isEnabled());
        f->rb_recpet_tspl->click();
        EXPECT_TRUE(f->edt_width->isEnabled());
        EXPECT_TRUE(f->edt_height->isEnabled());
        f->rb_recpet_escpos->click();
        EXPECT_FALSE(f->edt_width->isEnabled());
        EXPECT_FALSE(f->edt_height->isEnabled());
        checked = true;
      },
      true)});
  w.Form()->mmo_send->setPlainText(QStringLiteral("kept"));
  w.Form()->btn32->click();
  EXPECT_TRUE(checked);
  EXPECT_EQ(w.SendText(), QStringLiteral("kept"));
}

class PictureTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    // A 16 x 4 picture: left half black, right half white.
    QImage img(16, 4, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) img.setPixel(x, y, qRgb(0, 0, 0));
    Picture = Dir() + QStringLiteral("logo.png");
    ASSERT_TRUE(img.save(Picture));
    SFuncSeams::SetOpenPictureHandler([this](QWidget*) {
      ++Picks;
      return NextPick;
    });
  }
  QString Picture;
  QString NextPick;
  int Picks = 0;
};

TEST_F(PictureTest, CancellingThePickerKeepsTheDialogOpenAndErrorsAreReported) {
  Tmain& w = Window();
  w.Form()->mmo_send->setPlainText(QStringLiteral("kept"));
  struct TCase {
    QString Pick, PaperWidth, LabelWidth;
    bool Tspl;
    QString Failure;  // empty: no failure, the dialog just stays open
  };
  const QString other = Dir() + QStringLiteral("photo.jpeg");
  QFile::copy(Picture, other);
  const std::vector<TCase> cases = {
      {QString(), "576", "50", false, QString()},
      {other, "576", "50", false, "Unsupported file format."},
      {Picture, "abc", "50", false, "'abc' is not a valid integer value."},
      {Picture, "0", "50", false, "Scan line index out of range."},
      {Picture, "16", "5x", true, "'5x' is not a valid integer value."},
  };
  for (const TCase& c : cases) {
    Boxes.clear();
    NextPick = c.Pick;
    int result = -1;
    AnswerDialogs({PictureDialog(
        [&](Tbitmap_print* d) {
          d->DumpDir = Dir();
          d->Form()->edt_paper_width->setText(c.PaperWidth);
          if (c.Tspl) d->Form()->rb_recpet_tspl->click();
          d->Form()->edt_width->setText(c.LabelWidth);
        },
        false, nullptr, &result)});
    w.Form()->btn32->click();
    EXPECT_EQ(result, QDialog::Rejected) << c.Failure.toStdString();
    EXPECT_EQ(Failures(), c.Failure.isEmpty() ? QStringList() : QStringList{c.Failure});
    EXPECT_EQ(w.SendText(), QStringLiteral("kept"));
  }
  EXPECT_EQ(Picks, static_cast<int>(cases.size()));
}

TEST_F(PictureTest, APictureBecomesAnEscPosRasterTaskInThePayload) {
  Tmain& w = Window();
  NextPick = Picture;
  AnswerDialogs({PictureDialog([&](Tbitmap_print* d) {
    d->DumpDir = Dir();
    d->Form()->edt_paper_width->setText(QStringLiteral("12"));
  })});
  w.Form()->btn32->click();
  ASSERT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  const QString sent = w.SendText();
  const QString b = TargetFile(sent);
  EXPECT_EQ(sent, Envelope(b));
  const QByteArray job = QByteArray::fromBase64(b.toLatin1());
  // 12 dots wide: 2 bytes a row, 16 x 4 scaled to 12 x 3.
  ASSERT_EQ(job.size(), 8 + 2 * 3 + 2);
  EXPECT_EQ(job.left(8), QByteArray::fromHex("1d76300002000300"));
  // Left 6 dots black (printed), the rest white, the 4 padding bits unprinted.
  for (int row = 0; row < 3; ++row) EXPECT_EQ(job.mid(8 + row * 2, 2), QByteArray::fromHex("fc00")) << row;
  EXPECT_EQ(job.right(2), QByteArray("\r\n"));
  EXPECT_TRUE(QFile::exists(Dir() + QStringLiteral("logo_dithered.bmp")));
  EXPECT_TRUE(QFile::exists(Dir() + QStringLiteral("a.bin")));
  EXPECT_TRUE(QFile::exists(Dir() + QStringLiteral("base64.txt")));
}

TEST_F(PictureTest, ALabelTaskTakesHexadecimalSizesLikeThePort) {
  Tmain& w = Window();
  NextPick = Picture;
  AnswerDialogs({PictureDialog([&](Tbitmap_print* d) {
    d->DumpDir = Dir();
    d->Form()->rb_recpet_tspl->click();
    d->Form()->edt_paper_width->setText(QStringLiteral("$C"));
    d->Form()->edt_width->setText(QStringLiteral("0x28"));
    d->Form()->edt_height->setText(QStringLiteral("x1E"));
  })});
  w.Form()->btn32->click();
  ASSERT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  const QByteArray job = QByteArray::fromBase64(TargetFile(w.SendText()).toLatin1());
  const QByteArray head("SIZE 40 mm,30 mm\n\rCLS\n\rBITMAP 0,0,2,3,1,");
  ASSERT_TRUE(job.startsWith(head)) << job.toStdString();
  // Rows as dithered: 1 light, 0 dark, padding bits 0.
  EXPECT_EQ(job.mid(head.size(), 6), QByteArray::fromHex("03f003f003f0"));
  EXPECT_TRUE(job.endsWith("PRINT 1,1\n\r"));
}

}  // namespace

namespace {

TEST_F(ConsoleTest, TheSerialAndAFreshTaskIdGoIntoEveryPresetAndOnlyWhenAsked) {
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  // At their defaults the memo is byte for byte the preset's envelope.
  EXPECT_EQ(w.DeviceSerial()->text(), QStringLiteral("xxx"));
  EXPECT_FALSE(w.FreshTaskId()->isChecked());
  f->btn33->click();
  EXPECT_EQ(w.SendText(), Envelope(QStringLiteral("G0IDAQAAAAA=")));

  w.DeviceSerial()->setText(QStringLiteral("SN\"42\\"));
  const std::vector<std::function<void()>> presets = {[&] { f->btn33->click(); },
                                                      [&] { f->btn34->click(); },
                                                      [&] { emit f->cbb_print_mode->activated(0); },
                                                      [&] { emit f->cbb_charset->activated(1); },
                                                      [&] { emit f->cbb_print_demo->activated(0); },
                                                      [&] { emit f->cbb_print_demo->activated(1); }};
  for (const auto& press : presets) {
    press();
    const QStringList lines = w.SendText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[1], QStringLiteral("    \"dvsno\":\"SN\\\"42\\\\\","));
    EXPECT_EQ(lines[6], QStringLiteral("            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\","));
  }
  w.FreshTaskId()->setChecked(true);
  QSet<QString> ids;
  for (const auto& press : presets) {
    press();
    const QStringList lines = w.SendText().split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 14);
    const QRegularExpression id(QStringLiteral(
        "^            \"task_id\":\"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\",$"));
    EXPECT_TRUE(id.match(lines[6]).hasMatch()) << lines[6].toStdString();
    ids.insert(lines[6]);
  }
  EXPECT_EQ(ids.size(), static_cast<qsizetype>(presets.size()));
  EXPECT_FALSE(
      ids.contains(QStringLiteral("            \"task_id\":\"C147956F-C688-40CB-B0C5-A68E9677AA41\",")));
  // A picture job is a print task like the others.
  EXPECT_TRUE(
      w.WithPrintOptions(Envelope(QStringLiteral("AAAA"))).contains(QStringLiteral("\"dvsno\":\"SN")));
}

}  // namespace
