// tessiva-screenshots: renders the main window, its context menus and every
// dialog with sample profiles, and writes one PNG each into a folder.
// Run it on a real display server (scripts/screenshots uses Xvfb).
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

#include "ConsoleWidgets.h"
#include "EngineHost.h"
#include "MessageInspector.h"
#include "SFunc.h"
#include "Translations.h"
#include "f_add_server.h"
#include "f_add_topic.h"
#include "f_bitmap_print.h"
#include "f_main.h"
#include "f_print_preview.h"
#include "ui_f_add_server.h"
#include "ui_f_add_topic.h"
#include "ui_f_main.h"
#include "ui_f_print_preview.h"

namespace {
QString GOut;
QString GSuffix;

void Settle() {
  for (int i = 0; i < 30; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Save(QWidget* AWidget, const QString& AName) {
  Settle();
  const QPixmap shot = AWidget->grab();
  const QString file = GOut + QLatin1Char('/') + AName + GSuffix + QStringLiteral(".png");
  if (!shot.save(file))
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  else
    std::printf("%s\n", qPrintable(file));
}

// A popup menu over the window it belongs to.
void SaveMenu(Tmain& AMain, QMenu* AMenu, QWidget* AAnchor, const QString& AName) {
  AMenu->popup(AAnchor->mapToGlobal(QPoint(40, 40)));
  Settle();
  QPixmap base = AMain.grab();
  QPainter p(&base);
  p.drawPixmap(AMain.mapFromGlobal(AMenu->pos()), AMenu->grab());
  p.end();
  AMenu->hide();
  base.save(GOut + QLatin1Char('/') + AName + GSuffix + QStringLiteral(".png"));
  std::printf("%s/%s%s.png\n", qPrintable(GOut), qPrintable(AName), qPrintable(GSuffix));
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetApplicationTitle(QStringLiteral("Tessiva"));
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessiva-screenshots OUTPUT-FOLDER\n");
    return 2;
  }
  GOut = QString::fromLocal8Bit(argv[1]);
  // The second argument picks the language: zh (default) or en; English
  // pictures are named with an -en suffix.
  const bool english = argc > 2 && QByteArray(argv[2]) == "en";
  InstallTranslations(english ? QLocale(QLocale::English, QLocale::UnitedStates)
                              : QLocale(QLocale::Chinese, QLocale::China));
  GSuffix = english ? QStringLiteral("-en") : QString();
  HostEngineHandOffs();
  QDir().mkpath(GOut);

  QTemporaryDir dir;
  SFuncSeams::SetExePathOverride(dir.path());
  QFile cfg(dir.filePath(QStringLiteral("config.ini")));
  cfg.open(QIODevice::WriteOnly);
  cfg.write(QStringLiteral(
                "[system]\r\nlist=办公室,lab,\r\n"
                "[办公室]\r\nserver=127.0.0.1\r\nport=1883\r\nusername=printer\r\npassword=secret\r\n"
                "topic=printer/001/status,printer/001/ack,printer/+/event,\r\ndvsno=printer/001/task,\r\n"
                "[lab]\r\nserver=127.0.0.1\r\nport=1884\r\n")
                .toUtf8());
  cfg.close();

  Tmain main;
  main.resize(919, 560);
  main.show();
  Settle();
  Ui::Tmain* f = main.Form();
  main.PutMessage(QStringLiteral("CLIENT- Connecting --------------------------- "));
  main.PutMessage(QStringLiteral("Subscribe:1"));
  main.PutMessage(
      FormatJson(QStringLiteral("  "),
                 QStringLiteral("{\"dvsno\":\"A1B2C3\",\"kind\":\"PRINT_RESULT\",\"list\":[{\"task_id\":"
                                "\"C147956F-C688-40CB-B0C5-A68E9677AA41\",\"status\":\"ok\"}]}")));
  f->btn33->click();
  f->edt_atopic->setEditText(QStringLiteral("printer/001/task"));
  f->cbb_publish_qos->setCurrentIndex(1);
  Save(&main, QStringLiteral("main"));
  SaveMenu(main, main.findChild<QMenu*>(QStringLiteral("pm_server")), f->lst_server,
           QStringLiteral("menu-server"));
  SaveMenu(main, main.findChild<QMenu*>(QStringLiteral("pm_topic")), f->lst_topic,
           QStringLiteral("menu-topic"));

  // The message inspector with a few publications as printers send them.
  struct TSample {
    const char* Topic;
    QByteArray Payload;
    int QoS;
    uint16_t Id;
    bool Retain;
  };
  const TSample samples[] = {
      {"printer/001/status", "{\"dvsno\":\"A1B2C3\",\"state\":\"idle\",\"paper\":\"ok\"}", 0, 0, true},
      {"printer/001/ack",
       "{\"dvsno\":\"A1B2C3\",\"kind\":\"PRINT_RESULT\",\"list\":[{\"task_id\":"
       "\"C147956F-C688-40CB-B0C5-A68E9677AA41\",\"status\":\"ok\"}]}",
       1, 1, false},
      {"printer/002/status", QByteArray("\xb4\xf2\xd3\xa1\xbb\xfa\xc8\xb1\xd6\xbd"), 0, 0, false},
      {"printer/001/event", "{\"event\":\"cover_open\"}", 2, 2, false},
  };
  for (const TSample& m : samples) {
    try {
      main.nelomqtclnt1PublishReceived(m.Id, m.Topic, m.Payload.toStdString());
    } catch (const std::exception&) {
    }
    TNeloMQTTPacketInfo info;
    info.PacketType = mtPUBLISH;
    info.PacketId = m.Id;
    info.PacketQos = static_cast<TNeloMQTTQoS>(m.QoS);
    info.IsRetained = m.Retain;
    main.nelomqtclnt1()->OnPacketReceived(main.nelomqtclnt1(), info);
  }
  main.btn_msglogClick();
  Tinspector* inspector = main.Inspector();
  inspector->resize(900, 560);
  inspector->Refresh();
  inspector->Table()->setCurrentIndex(inspector->Model()->index(1, 0));
  inspector->Views()->setCurrentIndex(1);
  Save(inspector, QStringLiteral("message-log"));
  inspector->Table()->setCurrentIndex(inspector->Model()->index(2, 0));
  inspector->Views()->setCurrentIndex(3);
  Save(inspector, QStringLiteral("message-log-gbk"));
  inspector->close();

  // Dialogs: each is shown, photographed and closed.
  SFuncSeams::SetMsgBoxHandler([](int, const QString&, const QString&) { return 1; });
  SFuncSeams::SetModalHandler([](QDialog* ADialog) {
    QString name = ADialog->objectName();
    if (auto* s = qobject_cast<Tadd_server*>(ADialog)) {
      if (!s->servername.isEmpty()) name += QStringLiteral("-edit");
    }
    if (auto* p = qobject_cast<Tprint_preview*>(ADialog)) {
      // A faulty job is shown on the narrow receipt.
      if (!p->Result().Findings.empty()) {
        name += QStringLiteral("-findings");
        p->Form()->cbb_width->setCurrentIndex(1);
      }
    }
    Save(ADialog, QStringLiteral("dialog-") + name);
    return static_cast<int>(QDialog::Rejected);
  });
  f->btn1->click();                                           // add profile
  main.findChild<QAction*>(QStringLiteral("N3"))->trigger();  // edit profile
  f->scGPButton1->click();                                    // add topic
  f->btn32->click();                                          // picture dialog
  emit f->cbb_print_demo->activated(0);                       // the sample receipt...
  f->btn_preview->click();                                    // ...in the print preview
  {
    // An edited envelope with a wrong size and count, as a device would get it.
    QByteArray faulty = main.SendText().toUtf8();
    faulty.replace("\"count\":\"1\"", "\"count\":\"2\"");
    faulty.replace("\"file_size\":\"1164\"", "\"file_size\":\"1146\"");
    ShowPrintPreview(faulty, &main);
  }

  // The picture picker with its preview, on a sample picture.
  QImage sample(320, 200, QImage::Format_RGB32);
  sample.fill(Qt::white);
  {
    QPainter p(&sample);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x2d, 0x7b, 0xe0));
    p.drawEllipse(QPoint(110, 100), 70, 70);
    p.setBrush(QColor(0xef, 0x8f, 0x2f));
    p.drawRect(170, 50, 110, 100);
  }
  const QString picture = dir.filePath(QStringLiteral("logo.png"));
  sample.save(picture);
  QTimer::singleShot(300, [&] {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dlg) return;
    dlg->setDirectory(dir.path());
    // Select once the folder is listed, so the preview follows the selection.
    QTimer::singleShot(1200, dlg, [dlg, picture] {
      dlg->selectFile(QFileInfo(picture).fileName());
      if (auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(QFileInfo(picture).fileName());
      QTimer::singleShot(600, dlg, [dlg] {
        Save(dlg, QStringLiteral("dialog-open-picture"));
        dlg->reject();
      });
    });
  });
  // Never hang on a dialog that did not come up as expected.
  QTimer::singleShot(15000, [] {
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  OpenPictureFile(&main);
  StopHostingEngineHandOffs();
  return 0;
}
