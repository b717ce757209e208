// The print row: every preset's memo text, and the picture dialog with its
// enable rule, its errors and a finished picture job.
#include <zlib.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include "BitmapPrintJob.h"
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

TEST_F(ConsoleTest, PictureChoicesSitBelowTheSeedFieldsWithTheOriginalDefaults) {
  Tmain& w = Window();
  Tbitmap_print picture(&w);
  picture.show();
  Ui::Tbitmap_print* f = picture.Form();
  EXPECT_EQ(f->cbb_scale->currentIndex(), 0);
  EXPECT_EQ(f->cbb_scale->count(), 2);
  EXPECT_EQ(f->cbb_dither->currentIndex(), 0);
  EXPECT_EQ(f->cbb_dither->count(), 5);
  EXPECT_EQ(f->edt_threshold->text(), QStringLiteral("128"));
  EXPECT_EQ(f->edt_gamma->text(), QString());
  EXPECT_EQ(f->edt_band_rows->text(), QStringLiteral("0"));
  EXPECT_FALSE(f->chk_preview->isChecked());
  EXPECT_EQ(f->lbl_scale->text(), QStringLiteral("缩放方式"));
  EXPECT_EQ(f->lbl_dither->text(), QStringLiteral("抖动方式"));
  // Below the target buttons, above the OK button.
  const int radios = f->rb_recpet_tspl->mapTo(&picture, QPoint(0, 0)).y();
  const int ok = f->btn3->mapTo(&picture, QPoint(0, 0)).y();
  for (QWidget* c : std::vector<QWidget*>{f->cbb_scale, f->cbb_dither, f->edt_threshold, f->edt_gamma,
                                          f->edt_band_rows, f->chk_preview}) {
    const int y = c->mapTo(&picture, QPoint(0, 0)).y();
    EXPECT_GT(y, radios) << c->objectName().toStdString();
    EXPECT_LT(y, ok) << c->objectName().toStdString();
  }
}

// A PNG whose header claims AWidth x AHeight pixels, with a token IDAT.
void WriteOversizedPng(const QString& AFile, uint32_t AWidth, uint32_t AHeight) {
  QByteArray out("\x89PNG\r\n\x1a\n", 8);
  auto be32 = [](QByteArray& AOut, uint32_t AValue) {
    for (int shift = 24; shift >= 0; shift -= 8) AOut.append(static_cast<char>(AValue >> shift));
  };
  auto chunk = [&](const char* AType, const QByteArray& AData) {
    be32(out, static_cast<uint32_t>(AData.size()));
    QByteArray body(AType, 4);
    body += AData;
    out += body;
    be32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.constData()),
                                          static_cast<uInt>(body.size()))));
  };
  QByteArray ihdr;
  be32(ihdr, AWidth);
  be32(ihdr, AHeight);
  ihdr.append(QByteArray("\x08\x00\x00\x00\x00", 5));
  chunk("IHDR", ihdr);
  chunk("IDAT", QByteArray(64, '\0'));
  chunk("IEND", QByteArray());
  QFile f(AFile);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(out);
}

TEST_F(PictureTest, TheChoicesReachTheJobAndBadValuesAreReported) {
  Tmain& w = Window();
  NextPick = Picture;
  AnswerDialogs({PictureDialog([&](Tbitmap_print* d) {
    d->DumpDir = Dir();
    Ui::Tbitmap_print* f = d->Form();
    f->edt_paper_width->setText(QStringLiteral("12"));
    f->cbb_scale->setCurrentIndex(1);
    f->cbb_dither->setCurrentIndex(3);
    f->edt_threshold->setText(QStringLiteral("$64"));
    f->edt_gamma->setText(QStringLiteral("2.2"));
    f->edt_band_rows->setText(QStringLiteral("2"));
  })});
  w.Form()->btn32->click();
  ASSERT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  const QByteArray job = QByteArray::fromBase64(TargetFile(w.SendText()).toLatin1());
  TPictureOptions o;
  o.Scale = psArea;
  o.Dither = dmBayer;
  o.Threshold = 100;
  o.Gamma = 2.2;
  const TPrintBytes want =
      MakeEscPosRasterJob(ConvertToDitheredBitmap(QFile::encodeName(Picture).toStdString(), 12, o), 2);
  EXPECT_EQ(job, QByteArray(reinterpret_cast<const char*>(want.data()), static_cast<int>(want.size())));
  // Two bands: rows 0-1 and row 2.
  EXPECT_EQ(job.left(8), QByteArray::fromHex("1d76300002000200"));
  EXPECT_EQ(job.mid(12, 8), QByteArray::fromHex("1d76300002000100"));

  const QString huge = Dir() + QStringLiteral("huge.png");
  WriteOversizedPng(huge, 1000000, 1000000);
  struct TCase {
    QString Pick;
    std::function<void(Ui::Tbitmap_print*)> Edit;
    QString Failure;
  };
  const std::vector<TCase> cases = {
      {Picture, [](Ui::Tbitmap_print* f) { f->edt_threshold->setText(QStringLiteral("abc")); },
       "'abc' is not a valid integer value."},
      {Picture, [](Ui::Tbitmap_print* f) { f->edt_threshold->setText(QStringLiteral("300")); },
       "Threshold out of range (0 to 256): 300."},
      {Picture, [](Ui::Tbitmap_print* f) { f->edt_gamma->setText(QStringLiteral("x")); },
       "'x' is not a valid floating point value."},
      {Picture, [](Ui::Tbitmap_print* f) { f->edt_band_rows->setText(QStringLiteral("-1")); },
       "Band rows out of range (0 to 65535): -1."},
      // The seed's first check still comes first.
      {Picture,
       [](Ui::Tbitmap_print* f) {
         f->edt_paper_width->setText(QStringLiteral("w"));
         f->edt_threshold->setText(QStringLiteral("t"));
       },
       "'w' is not a valid integer value."},
      {huge, [](Ui::Tbitmap_print*) {},
       "Picture too large: 1000000 x 1000000 pixels (the limit is 200000000 pixels)"},
      {huge, [](Ui::Tbitmap_print* f) { f->cbb_scale->setCurrentIndex(1); },
       "Picture too large: 1000000 x 1000000 pixels (the limit is 200000000 pixels)"},
  };
  w.Form()->mmo_send->setPlainText(QStringLiteral("kept"));
  for (const TCase& c : cases) {
    Boxes.clear();
    NextPick = c.Pick;
    int result = -1;
    AnswerDialogs({PictureDialog(
        [&](Tbitmap_print* d) {
          d->DumpDir = Dir();
          c.Edit(d->Form());
        },
        false, nullptr, &result)});
    w.Form()->btn32->click();
    EXPECT_EQ(result, QDialog::Rejected) << c.Failure.toStdString();
    EXPECT_EQ(Failures().join(QLatin1Char('\n')).toStdString(), c.Failure.toStdString());
    EXPECT_EQ(w.SendText(), QStringLiteral("kept"));
  }
  EXPECT_FALSE(QFile::exists(Dir() + QStringLiteral("huge_dithered.bmp")));
}

TEST_F(PictureTest, TheConversionRunsOffTheWindowThreadAndCanBeCancelled) {
  Tmain& w = Window();
  w.Form()->mmo_send->setPlainText(QStringLiteral("kept"));
  NextPick = Picture;
  // Cancelled: no box, no files, the dialog stays open and usable.
  bool started = false;
  int result = -1;
  AnswerDialogs({PictureDialog(
      [&](Tbitmap_print* d) {
        d->DumpDir = Dir();
        d->OnConversionStart = [&, d](Tbitmap_print* ASender, QProgressDialog* AProgress) {
          started = true;
          EXPECT_EQ(ASender, d);
          EXPECT_EQ(AProgress->labelText(), QStringLiteral("正在转换图片…"));
          // The operator presses its cancel button.
          auto* cancel = AProgress->findChild<QPushButton*>();
          ASSERT_NE(cancel, nullptr);
          EXPECT_EQ(cancel->text(), QStringLiteral("取消"));
          cancel->click();
        };
      },
      false, nullptr, &result)});
  w.Form()->btn32->click();
  EXPECT_TRUE(started);
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(w.SendText(), QStringLiteral("kept"));
  EXPECT_FALSE(QFile::exists(Dir() + QStringLiteral("logo_dithered.bmp")));
  EXPECT_FALSE(QFile::exists(Dir() + QStringLiteral("a.bin")));

  // Not cancelled: while the worker converts, the window thread goes on
  // serving its events (a call posted just before the start runs before
  // the dialog closes), and the fields are locked until the end.
  bool served = false, lockedWhileConverting = false, openAfterEscape = false;
  AnswerDialogs({PictureDialog([&](Tbitmap_print* d) {
    d->DumpDir = Dir();
    d->OnConversionStart = [&, d](Tbitmap_print*, QProgressDialog*) {
      QTimer::singleShot(0, d, [&, d] {
        served = true;
        lockedWhileConverting = !d->Form()->btn3->isEnabled();
      });
    };
    // Escape during the conversion does not close the dialog.
    QTimer::singleShot(0, d, [&, d] {
      d->reject();
      openAfterEscape = d->isVisible();
    });
  })});
  w.Form()->btn32->click();
  EXPECT_TRUE(served);
  EXPECT_TRUE(lockedWhileConverting);
  EXPECT_TRUE(openAfterEscape);
  ASSERT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  EXPECT_NE(w.SendText(), QStringLiteral("kept"));
  EXPECT_TRUE(QFile::exists(Dir() + QStringLiteral("a.bin")));
}

TEST_F(PictureTest, ThePreviewShowsTheDitheredDotsBeforeTheMemo) {
  Tmain& w = Window();
  w.Form()->mmo_send->setPlainText(QStringLiteral("kept"));
  NextPick = Picture;
  QImage shown;
  auto fill = [&](Tbitmap_print* d) {
    d->DumpDir = Dir();
    d->Form()->edt_paper_width->setText(QStringLiteral("12"));
    d->Form()->chk_preview->setChecked(true);
  };
  auto answerPreview = [&](bool ASend) {
    return [&shown, ASend](QDialog* ADialog) {
      auto* p = qobject_cast<TDitheredPreview*>(ADialog);
      EXPECT_NE(p, nullptr);
      if (!p) return static_cast<int>(QDialog::Rejected);
      shown = p->Picture();
      EXPECT_EQ(p->SendButton()->text(), QStringLiteral("放入发送区"));
      (ASend ? p->SendButton() : p->BackButton())->click();
      return p->result();
    };
  };
  // Going back keeps the memo and the picture dialog open.
  int result = -1;
  AnswerDialogs({PictureDialog(fill, false, nullptr, &result), answerPreview(false)});
  w.Form()->btn32->click();
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(w.SendText(), QStringLiteral("kept"));
  // One dot per pixel: 12 x 3, the left 6 dots black.
  ASSERT_EQ(shown.size(), QSize(12, 3));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(qGray(shown.pixel(x, y)), x < 6 ? 0 : 255) << x << "," << y;

  AnswerDialogs({PictureDialog(fill), answerPreview(true)});
  w.Form()->btn32->click();
  ASSERT_TRUE(Failures().isEmpty()) << Failures().join(QLatin1Char('\n')).toStdString();
  const QByteArray job = QByteArray::fromBase64(TargetFile(w.SendText()).toLatin1());
  EXPECT_EQ(job.left(8), QByteArray::fromHex("1d76300002000300"));
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
