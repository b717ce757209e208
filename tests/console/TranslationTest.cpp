// English: with an English locale every text the operator sees in the main
// window, its menus, the dialogs and the inspector is English; with a Chinese
// one the window keeps its texts and Qt's own buttons speak Chinese too.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>

#include "ConsoleFixture.h"
#include "MessageInspector.h"
#include "PrintPresets.h"
#include "Translations.h"
#include "f_add_server.h"
#include "f_add_topic.h"
#include "f_bitmap_print.h"
#include "f_print_preview.h"
#include "ui_f_main.h"

namespace {

bool HasChinese(const QString& AText) {
  for (const QChar c : AText) {
    const char16_t u = c.unicode();
    if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF00 && u <= 0xFFEF))
      return true;
  }
  return false;
}

// Every text a widget and its children show: captions, prompts, items,
// titles, tool tips, menu items, tab and column titles.
QStringList VisibleTexts(QWidget* ARoot) {
  QStringList texts;
  QList<QWidget*> all = ARoot->findChildren<QWidget*>();
  all.prepend(ARoot);
  for (QWidget* w : all) {
    texts << w->windowTitle() << w->toolTip();
    if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) texts << e->placeholderText() << e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) texts << g->title();
    if (auto* p = qobject_cast<QPlainTextEdit*>(w)) texts << p->placeholderText() << p->toPlainText();
    if (auto* c = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
      if (c->lineEdit()) texts << c->lineEdit()->placeholderText();
    }
    if (auto* t = qobject_cast<QTabWidget*>(w)) {
      for (int i = 0; i < t->count(); ++i) texts << t->tabText(i);
    }
    if (auto* v = qobject_cast<QTreeView*>(w)) {
      for (int i = 0; i < v->model()->columnCount(); ++i)
        texts << v->model()->headerData(i, Qt::Horizontal).toString();
    }
    for (QAction* a : w->actions()) texts << a->text() << a->toolTip();
  }
  for (QMenu* m : ARoot->findChildren<QMenu*>()) {
    for (QAction* a : m->actions()) texts << a->text();
  }
  texts.removeAll(QString());
  return texts;
}

class TranslationTest : public ConsoleTest {
 protected:
  void TearDown() override {
    ConsoleTest::TearDown();
    RemoveTranslations();
  }
  void ExpectEnglish(QWidget* AWidget) {
    const QStringList texts = VisibleTexts(AWidget);
    EXPECT_GT(texts.size(), 3) << AWidget->objectName().toStdString();
    for (const QString& t : texts)
      EXPECT_FALSE(HasChinese(t)) << AWidget->objectName().toStdString() << ": " << t.toStdString();
  }
};

TEST_F(TranslationTest, EveryVisibleTextIsEnglishOutsideAChineseLocale) {
  ASSERT_TRUE(InstallTranslations(QLocale(QLocale::English, QLocale::UnitedStates)));
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\nserver=h\ntopic=a,\n"));
  Tmain& w = Window();
  w.btn_msglogClick();
  ExpectEnglish(&w);
  ExpectEnglish(w.Inspector());
  EXPECT_EQ(w.Form()->btn4->text(), QStringLiteral("Clear display"));
  EXPECT_EQ(w.StateText()->text(), QStringLiteral("Not connected"));
  Tadd_server server(&w);
  ExpectEnglish(&server);
  Tadd_topic topic(&w);
  ExpectEnglish(&topic);
  Tbitmap_print picture(&w);
  ExpectEnglish(&picture);
  // The print preview (a job without text, so the listing holds no
  // printed Chinese): captions, choices, summary.
  Tprint_preview preview(QByteArray::fromStdString(BuzzerEnvelope()), &w);
  ExpectEnglish(&preview);

  // Message boxes and display lines too.
  w.btn_sendClick();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0].Caption, QStringLiteral("Input error"));
  EXPECT_EQ(Boxes[0].Body, QStringLiteral("Not connected to an MQTT broker"));
  EXPECT_FALSE(HasChinese(FormatJsonCutMark()));
  for (int code = 1; code <= 5; ++code) {
    EXPECT_FALSE(HasChinese(RefusalReason(static_cast<TNeloMQTTConnectionStatus>(code)))) << code;
    EXPECT_FALSE(RefusalReason(static_cast<TNeloMQTTConnectionStatus>(code)).isEmpty());
  }
  // Qt's own buttons stay English.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST_F(TranslationTest, AChineseLocaleKeepsTheTextsAndTranslatesQtsOwnButtons) {
  EXPECT_FALSE(InstallTranslations(QLocale(QLocale::Chinese, QLocale::China)));
  Tmain& w = Window();
  EXPECT_EQ(w.Form()->btn4->text(), QStringLiteral("清除显示"));
  EXPECT_EQ(w.StateText()->text(), QStringLiteral("未连接"));
  EXPECT_TRUE(HasChinese(QCoreApplication::translate("QPlatformTheme", "Cancel")));
  EXPECT_TRUE(HasChinese(QCoreApplication::translate("QFileDialog", "Look in:")));
}

}  // namespace
