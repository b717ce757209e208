// The windows as the operator sees them: every caption, prompt, item list,
// icon index and initial state of the main window, its menus and dialogs.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "ConsoleFixture.h"
#include "ConsoleWidgets.h"
#include "SFunc.h"
#include "f_add_server.h"
#include "f_add_topic.h"
#include "f_bitmap_print.h"
#include "ui_f_add_server.h"
#include "ui_f_add_topic.h"
#include "ui_f_bitmap_print.h"
#include "ui_f_main.h"

namespace {

// Icons are compared by their 16 x 16 artwork.
QImage Art(const QIcon& AIcon) {
  return AIcon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct TCaption {
  const char* Name;
  const char* Text;
  int Icon;  // -1: none checked
};

TEST_F(ConsoleTest, MainWindowButtonsAndMenusCarryTheirTextsAndIcons) {
  Tmain& w = Window();
  for (const TCaption& c : std::vector<TCaption>{{"btn1", "添加服务器连接", 0},
                                                 {"scGPButton1", "添加订阅主题", 2},
                                                 {"btn4", "清除显示", 16},
                                                 {"btn_send", "发布消息", 8},
                                                 {"btn5", "清空", 16},
                                                 {"btn34", "切刀控制", 23},
                                                 {"btn33", "蜂鸣器", 22},
                                                 {"btn32", "打印图片", 17},
                                                 {"btn_preview", "打印预览", 18}}) {
    auto* b = w.findChild<QAbstractButton*>(QString::fromLatin1(c.Name));
    ASSERT_NE(b, nullptr) << c.Name;
    EXPECT_EQ(b->text(), QString::fromUtf8(c.Text)) << c.Name;
    EXPECT_EQ(Art(b->icon()), Art(ConsoleIcon(c.Icon))) << c.Name;
  }
  for (const TCaption& c : std::vector<TCaption>{{"MQTT1", "连接服务器", 5},
                                                 {"N1", "断开连接", 6},
                                                 {"N3", "服务器属性", 4},
                                                 {"N4", "删除服务器档案", 9},
                                                 {"N5", "订阅", 10},
                                                 {"N6", "取消订阅", 3},
                                                 {"N8", "删除主题", 9}}) {
    auto* a = w.findChild<QAction*>(QString::fromLatin1(c.Name));
    ASSERT_NE(a, nullptr) << c.Name;
    EXPECT_EQ(a->text(), QString::fromUtf8(c.Text)) << c.Name;
    EXPECT_EQ(Art(a->icon()), Art(ConsoleIcon(c.Icon))) << c.Name;
  }
  // Menu order, separators included.
  auto order = [](const char* AMenu, QWidget* AOwner) {
    QStringList names;
    for (QAction* a : AOwner->findChild<QMenu*>(QString::fromLatin1(AMenu))->actions())
      names << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    return names;
  };
  EXPECT_EQ(order("pm_server", &w), (QStringList{"MQTT1", "N1", "-", "N3", "N4"}));
  EXPECT_EQ(order("pm_topic", &w), (QStringList{"N5", "N6", "-", "N8"}));
  // The icons are distinct artwork for distinct indices.
  EXPECT_NE(Art(ConsoleIcon(12)), Art(ConsoleIcon(15)));
  EXPECT_FALSE(ConsoleIcon(23).isNull());
}

TEST_F(ConsoleTest, MainWindowDropDownsAndFieldsStartAsDescribed) {
  WriteConfig(QStringLiteral("[system]\nlist=p,\n[p]\ntopic=t,\n"));
  Tmain& w = Window();
  Ui::Tmain* f = w.Form();
  struct TDropDown {
    QComboBox* Box;
    QStringList Items;
    std::vector<int> Icons;  // per item, -1 for none
  };
  for (const TDropDown& d :
       std::vector<TDropDown>{{f->cbb_format_recv, {"TEXT", "JSON"}, {-1, -1}},
                              {f->cbb_publish_qos, {"QOS 0", "QOS 1", "QOS 2"}, {-1, -1, -1}},
                              {f->cbb_print_mode, {"切换小票模式", "切换标签模式"}, {20, 19}},
                              {f->cbb_charset, {"GBK编码", "UTF8编码"}, {-1, -1}},
                              {f->cbb_print_demo, {"票据示例数据", "标签示例数据"}, {20, 19}}}) {
    QStringList items;
    for (int i = 0; i < d.Box->count(); ++i) {
      items << d.Box->itemText(i);
      if (d.Icons[static_cast<size_t>(i)] >= 0) {
        EXPECT_EQ(Art(d.Box->itemIcon(i)), Art(ConsoleIcon(d.Icons[static_cast<size_t>(i)])))
            << d.Box->objectName().toStdString();
      }
    }
    EXPECT_EQ(items, d.Items) << d.Box->objectName().toStdString();
    EXPECT_EQ(d.Box->currentIndex(), 0) << d.Box->objectName().toStdString();
  }
  EXPECT_EQ(f->edt_atopic->count(), 0);
  EXPECT_EQ(f->edt_atopic->currentText(), QString());
  EXPECT_EQ(f->edt_atopic->lineEdit()->placeholderText(), QStringLiteral("输入需要发布的主题"));
  EXPECT_EQ(f->edt_atopic->maxVisibleItems(), 7);
  EXPECT_TRUE(w.SendText().isEmpty());
  EXPECT_EQ(Art(f->lst_server->item(0)->icon()), Art(ConsoleIcon(12)));
  EXPECT_EQ(Art(f->lst_topic->item(0)->icon()), Art(ConsoleIcon(15)));
  EXPECT_EQ(f->lst_server->item(0)->sizeHint().height(), 30);
}

TEST_F(ConsoleTest, DialogsCarryTheirTitlesPromptsAndInitialState) {
  Tmain& w = Window();
  Tadd_server server(&w);
  Ui::Tadd_server* s = server.Form();
  EXPECT_EQ(s->lbl_title->text(), QStringLiteral("添加MQTT服务器连接"));
  EXPECT_TRUE(server.windowFlags() & Qt::FramelessWindowHint);
  const std::vector<std::pair<QLineEdit*, const char*>> prompts = {{s->edt_servername, "请输入自定义名称"},
                                                                   {s->edt_server, "MQTT服务器地址"},
                                                                   {s->edt_port, "MQTT服务器的端口号"},
                                                                   {s->edt_username, "登录用户名"},
                                                                   {s->edt_password, "登录密码"}};
  for (const auto& [edit, prompt] : prompts) {
    EXPECT_EQ(edit->placeholderText(), QString::fromUtf8(prompt));
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(edit->echoMode(), QLineEdit::Normal);  // the password too is shown as typed
  }
  EXPECT_EQ(s->btn3->text(), QStringLiteral("确定"));
  // The focus runs down the fields, then to the button.
  QWidget* at = s->edt_servername;
  for (QWidget* next :
       std::vector<QWidget*>{s->edt_server, s->edt_port, s->edt_username, s->edt_password, s->btn3}) {
    at = at->nextInFocusChain();
    while (at->focusPolicy() == Qt::NoFocus) at = at->nextInFocusChain();
    EXPECT_EQ(at, next) << next->objectName().toStdString();
  }

  Tadd_topic topic(&w);
  EXPECT_EQ(topic.Form()->lbl_title->text(), QStringLiteral("添加订阅主题"));
  EXPECT_EQ(topic.Form()->edt_topic->placeholderText(), QStringLiteral("请输入需订阅的主题"));
  EXPECT_EQ(topic.Form()->btn3->text(), QStringLiteral("确定"));
  EXPECT_TRUE(topic.windowFlags() & Qt::FramelessWindowHint);

  Tbitmap_print picture(&w);
  Ui::Tbitmap_print* p = picture.Form();
  EXPECT_EQ(p->lbl_title->text(), QStringLiteral("图片打印"));
  EXPECT_EQ(p->scgplbl1->text(), QStringLiteral("图片的宽度"));
  EXPECT_EQ(p->scgplbl11->text(), QStringLiteral("标签宽度"));
  EXPECT_EQ(p->scgplbl111->text(), QStringLiteral("标签高度"));
  EXPECT_EQ(p->rb_recpet_escpos->text(), QStringLiteral("票据ESC_POS"));
  EXPECT_EQ(p->rb_recpet_tspl->text(), QStringLiteral("标签TSPL"));
  EXPECT_FALSE(p->rb_recpet_tspl->isChecked());
  EXPECT_EQ(p->btn3->text(), QStringLiteral("确定"));
  for (QLineEdit* e : {p->edt_paper_width, p->edt_width, p->edt_height}) {
    EXPECT_EQ(e->placeholderText(), QStringLiteral("小票纸张宽度"));
  }
  EXPECT_TRUE(picture.windowFlags() & Qt::FramelessWindowHint);
}

}  // namespace
