// The print preview: the print row's button opens it for the send memo, the
// pages are drawn dot for dot at the chosen receipt width and zoom, and the
// listing and findings say what the job does and what is wrong with it.
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>

#include "ConsoleFixture.h"
#include "PrintPresets.h"
#include "Render.h"
#include "f_print_preview.h"
#include "ui_f_main.h"
#include "ui_f_print_preview.h"

namespace {

QByteArray SampleReceipt() { return QByteArray::fromStdString(SampleEnvelope(0)); }

// Every dot of every page the dialog shows equals the rendered page's.
void ExpectPagesShownDotForDot(const Tprint_preview& ADialog) {
  const std::vector<TRenderedPage>& rendered = ADialog.Result().Pages;
  const std::vector<TPreviewPages::TPage>& shown = ADialog.PagesView()->Pages();
  ASSERT_EQ(shown.size(), rendered.size());
  for (size_t i = 0; i < shown.size(); ++i) {
    const TRenderPage& page = rendered[i].Page;
    const QImage& image = shown[i].Image;
    ASSERT_EQ(image.size(), QSize(page.Width(), page.Height())) << "page " << i;
    size_t black = 0, differing = 0;
    for (int y = 0; y < page.Height(); ++y) {
      for (int x = 0; x < page.Width(); ++x) {
        const bool dark = qGray(image.pixel(x, y)) < 128;
        black += dark;
        differing += dark != page.Dot(x, y);
      }
    }
    EXPECT_EQ(differing, 0u) << "page " << i;
    EXPECT_EQ(black, page.BlackDots()) << "page " << i;
  }
}

TEST_F(ConsoleTest, PreviewButtonSitsAtTheRightEndOfThePrintRowAndOpensTheMemo) {
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  QLayout* row = f->pnl_print_bar->layout();
  EXPECT_EQ(row->itemAt(row->count() - 1)->widget(), f->btn_preview);
  EXPECT_GT(f->btn_preview->geometry().left(), f->btn32->geometry().right());

  // The memo as the operator left it: the sample receipt with an edited
  // serial number.
  emit f->cbb_print_demo->activated(0);
  f->mmo_send->setPlainText(
      f->mmo_send->toPlainText().replace(QStringLiteral("xxx"), QStringLiteral("SN-7")));
  const std::string memo = w.SendText().toStdString();
  const TRenderResult expected = RenderEnvelope(memo);
  ASSERT_FALSE(expected.Pages.empty());

  bool seen = false;
  AnswerDialogs({[&](QDialog* ADialog) {
    auto* dlg = qobject_cast<Tprint_preview*>(ADialog);
    EXPECT_NE(dlg, nullptr);
    if (!dlg) return static_cast<int>(QDialog::Rejected);
    seen = true;
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dlg->IsEnvelope());
    EXPECT_EQ(dlg->Form()->mmo_listing->toPlainText().toStdString(), expected.ListingText());
    EXPECT_EQ(dlg->Result().Pages.size(), expected.Pages.size());
    for (size_t i = 0; i < expected.Pages.size() && i < dlg->Result().Pages.size(); ++i)
      EXPECT_EQ(dlg->Result().Pages[i].Page.Bits(), expected.Pages[i].Page.Bits()) << "page " << i;
    ExpectPagesShownDotForDot(*dlg);
    dlg->Form()->btn_close->click();
    return dlg->result();
  }});
  f->btn_preview->click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(DialogsShown, 1);
  EXPECT_TRUE(Failures().isEmpty());
  // Previewing leaves the memo as it was.
  EXPECT_EQ(w.SendText().toStdString(), memo);
}

TEST_F(ConsoleTest, PreviewDrawsForTheChosenPrinterProfile) {
  Tprint_preview dlg(SampleReceipt());
  Ui::Tprint_preview* f = dlg.Form();
  EXPECT_EQ(f->lbl_profile->text(), QStringLiteral("打印机"));
  ASSERT_EQ(f->cbb_profile->count(), static_cast<int>(PrinterProfiles().size()));
  EXPECT_EQ(dlg.ProfileName(), "gbk-80");
  EXPECT_TRUE(dlg.Result().ListingText().find("结帐单") != std::string::npos);
  struct TCase {
    const char* Profile;
    int Width;
    bool Hanzi;        // the sample's GBK text read as Chinese
    bool WidthChoice;  // the receipt width choice applies
  };
  const TCase cases[] = {{"epson-58", 384, false, true},
                         {"gbk-58", 384, true, true},
                         {"tspl-300", 1248, true, false},
                         {"epson-80", 576, false, true},
                         {"gbk-80", 576, true, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Profile);
    const int index = f->cbb_profile->findData(QString::fromLatin1(c.Profile));
    ASSERT_GE(index, 0);
    f->cbb_profile->setCurrentIndex(index);
    EXPECT_EQ(dlg.ProfileName(), c.Profile);
    ASSERT_FALSE(dlg.Result().Pages.empty());
    EXPECT_EQ(dlg.Result().Pages[0].Page.Width(), c.Width);
    EXPECT_EQ(dlg.Result().ListingText().find("结帐单") != std::string::npos, c.Hanzi);
    EXPECT_EQ(f->cbb_width->isEnabled(), c.WidthChoice);
    if (c.WidthChoice) {
      EXPECT_EQ(dlg.ReceiptWidth(), c.Width);
    }
    ExpectPagesShownDotForDot(dlg);
  }
  // The width choice still overrides the profile's paper.
  f->cbb_width->setCurrentIndex(1);
  EXPECT_EQ(dlg.Result().Pages[0].Page.Width(), 384);
}

TEST_F(ConsoleTest, PreviewShowsTheSampleReceiptAtEachReceiptWidth) {
  Tprint_preview dlg(SampleReceipt());
  Ui::Tprint_preview* f = dlg.Form();
  EXPECT_EQ(f->lbl_title->text(), QStringLiteral("打印预览"));
  EXPECT_EQ(dlg.ReceiptWidth(), 576);
  std::vector<uint8_t> firstAt576;
  for (const auto& [index, width] : std::vector<std::pair<int, int>>{{0, 576}, {1, 384}, {0, 576}}) {
    SCOPED_TRACE(width);
    f->cbb_width->setCurrentIndex(index);
    EXPECT_EQ(dlg.ReceiptWidth(), width);
    const std::vector<TRenderedPage>& pages = dlg.Result().Pages;
    ASSERT_FALSE(pages.empty());
    for (const TRenderedPage& page : pages) {
      EXPECT_EQ(page.Page.Width(), width);
      EXPECT_GT(page.Page.Height(), 200);
      EXPECT_GT(page.Page.BlackDots(), 2000u);
    }
    ExpectPagesShownDotForDot(dlg);
    // Nothing drawn past the receipt's width.
    EXPECT_FALSE(pages[0].Page.Clipped());

    const QString listing = f->mmo_listing->toPlainText();
    EXPECT_EQ(listing.toStdString(), dlg.Result().ListingText());
    EXPECT_TRUE(listing.contains(QStringLiteral("ESC a"))) << listing.left(400).toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("TEXT")));
    EXPECT_FALSE(dlg.Result().HasErrors()) << dlg.Result().FindingsText();
    if (width == 576 && firstAt576.empty()) firstAt576 = pages[0].Page.Bits();
    if (width == 576) {
      EXPECT_EQ(pages[0].Page.Bits(), firstAt576);  // same width, same dots
    }
  }
  // The pages the view holds follow the width: the narrower receipt is a
  // different drawing, not the wider one cut.
  f->cbb_width->setCurrentIndex(1);
  EXPECT_NE(dlg.Result().Pages[0].Page.Bits(), firstAt576);
  // The cut at the end of the receipt is marked on the page.
  const TRenderedPage& last = dlg.Result().Pages.back();
  EXPECT_EQ(dlg.PagesView()->Pages().back().Marks.size(), last.Marks.size());
}

TEST_F(ConsoleTest, PreviewZoomScalesThePages) {
  Tprint_preview dlg(SampleReceipt());
  dlg.resize(1000, 640);
  dlg.show();
  Ui::Tprint_preview* f = dlg.Form();
  const TRenderPage& page = dlg.Result().Pages.at(0).Page;
  struct TZoomCase {
    int Index;
    double Factor;
  };
  // 100 % is one screen pixel per dot.
  EXPECT_EQ(f->cbb_zoom->currentText(), QStringLiteral("100%"));
  for (const TZoomCase& c : std::vector<TZoomCase>{{0, 0.5}, {2, 2.0}, {1, 1.0}}) {
    f->cbb_zoom->setCurrentIndex(c.Index);
    const QRect r = dlg.PagesView()->PageRect(0);
    EXPECT_EQ(r.width(), qRound(page.Width() * c.Factor)) << c.Factor;
    EXPECT_EQ(r.height(), qRound(page.Height() * c.Factor)) << c.Factor;
    // The view is large enough for every page.
    EXPECT_TRUE(dlg.PagesView()->rect().contains(
        dlg.PagesView()->PageRect(static_cast<int>(dlg.PagesView()->Pages().size()) - 1)));
  }
  // Fit width: the page fills the area without a horizontal scroll bar, and
  // follows the area when it is made narrower.
  f->cbb_zoom->setCurrentIndex(3);
  QApplication::processEvents();
  const int viewport = f->scr_pages->viewport()->width();
  QRect r = dlg.PagesView()->PageRect(0);
  EXPECT_LE(dlg.PagesView()->width(), viewport);
  EXPECT_GE(r.width(), viewport - 2 * TPreviewPages::kMargin - 30);
  f->spl_preview->setSizes({360, 640});
  QApplication::processEvents();
  const QRect narrower = dlg.PagesView()->PageRect(0);
  EXPECT_LT(narrower.width(), r.width());
  EXPECT_LE(dlg.PagesView()->width(), f->scr_pages->viewport()->width());
}

struct TFindingCase {
  const char* Name;
  QByteArray Payload;
  bool Envelope;
  const char* Expected;  // a finding line contains this
  TFindingSeverity Severity;
  bool Pages;  // pages are still drawn
};

TEST_F(ConsoleTest, PreviewFindingsSayWhatIsWrongAndMarkErrors) {
  QByteArray wrongSize = SampleReceipt();
  wrongSize.replace("\"file_size\":\"1164\"", "\"file_size\":\"1000\"");
  ASSERT_NE(wrongSize, SampleReceipt());
  QByteArray markup = SampleReceipt();
  markup.replace("\"kind\":\"PRINT_TASK\"", "\"kind\":\"<b>LABEL</b>\"");
  const std::vector<TFindingCase> cases = {
      {"not an envelope", "hello printer", false, "不是打印任务信封", fsError, false},
      {"empty", "", false, "消息为空", fsError, false},
      {"broken JSON", "{\r\n    \"dvsno\":\"xxx\",\r\n    \"kind\":", true, "not valid JSON", fsError, false},
      {"no list", "{\"dvsno\":\"xxx\",\"kind\":\"PRINT_TASK\",\"count\":\"1\"}", true, "\"list\" is missing",
       fsError, false},
      {"wrong file_size", wrongSize, true, "file_size is 1000 but target_file has 1164", fsWarning, true},
      {"markup stays text", markup, true, "<b>LABEL</b>", fsWarning, true},
  };
  for (const TFindingCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Tprint_preview dlg(c.Payload);
    EXPECT_EQ(dlg.IsEnvelope(), c.Envelope);
    EXPECT_EQ(!dlg.Result().Pages.empty(), c.Pages);
    EXPECT_EQ(!dlg.PagesView()->Pages().empty(), c.Pages);
    QListWidget* list = dlg.Form()->lst_findings;
    QListWidgetItem* found = nullptr;
    for (int i = 0; i < list->count() && !found; ++i)
      if (list->item(i)->text().contains(QString::fromUtf8(c.Expected))) found = list->item(i);
    ASSERT_NE(found, nullptr) << dlg.FindingLines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(found->data(Qt::UserRole).toInt(), static_cast<int>(c.Severity));
    EXPECT_FALSE(found->icon().isNull());
    const QColor plain = list->palette().color(QPalette::Text);
    EXPECT_NE(found->foreground().color(), plain);
    if (c.Severity == fsError) {
      // Errors stand out: red on a light red ground, in bold.
      EXPECT_GT(found->foreground().color().red(), 2 * found->foreground().color().green());
      EXPECT_TRUE(found->font().bold());
      EXPECT_TRUE(dlg.Form()->lbl_summary->text().contains(QStringLiteral("错误")));
      EXPECT_FALSE(dlg.Form()->lbl_summary->text().contains(QStringLiteral("0 个错误")));
    } else {
      EXPECT_FALSE(found->font().bold());
    }
  }
}

TEST_F(ConsoleTest, PreviewOfAGoodReceiptReportsNoProblem) {
  Tprint_preview dlg(SampleReceipt());
  ASSERT_TRUE(dlg.Result().Findings.empty()) << dlg.Result().FindingsText();
  EXPECT_EQ(dlg.FindingLines(), QStringList{QStringLiteral("没有发现问题")});
  const QString summary = dlg.Form()->lbl_summary->text();
  EXPECT_TRUE(summary.contains(QStringLiteral("%1 页").arg(dlg.Result().Pages.size())))
      << summary.toStdString();
  EXPECT_TRUE(summary.contains(QStringLiteral("0 个错误")));
}

}  // namespace
