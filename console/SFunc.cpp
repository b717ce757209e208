#include "SFunc.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <exception>

namespace {
QString& TitleStorage() {
  static QString title = QStringLiteral("Tessiva");
  return title;
}
std::function<int(int, const QString&, const QString&)>& MsgBoxHandler() {
  static std::function<int(int, const QString&, const QString&)> handler;
  return handler;
}
std::function<int(QDialog*)>& ModalHandler() {
  static std::function<int(QDialog*)> handler;
  return handler;
}
std::function<QString(QWidget*)>& OpenPictureHandler() {
  static std::function<QString(QWidget*)> handler;
  return handler;
}
std::function<QString(QWidget*)>& SaveFileHandler() {
  static std::function<QString(QWidget*)> handler;
  return handler;
}
QString& ExePathOverride() {
  static QString path;
  return path;
}

// The file dialog's preview pane: shows the picture under the cursor, scaled.
class TPicturePreview : public QLabel {
 public:
  explicit TPicturePreview(QWidget* AParent) : QLabel(AParent) {
    setFixedSize(200, 200);
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::StyledPanel);
  }
  void ShowFile(const QString& AFileName) {
    QPixmap pic(AFileName);
    if (pic.isNull()) {
      clear();
      return;
    }
    setPixmap(pic.scaled(size() - QSize(8, 8), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
};
}  // namespace

QString ApplicationTitle() { return TitleStorage(); }
void SetApplicationTitle(const QString& ATitle) { TitleStorage() = ATitle; }

int MsgBox(int AKind, const QString& ACaption, const QString& ABody) {
  if (AKind < mbPlain || AKind > mbErrorCancel) return -1;
  const QString caption = ACaption.isEmpty() ? ApplicationTitle() : ACaption;
  try {
    if (MsgBoxHandler()) return MsgBoxHandler()(AKind, caption, ABody);
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(ABody);
    box.setTextFormat(Qt::PlainText);
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon,   QMessageBox::Information,
                                              QMessageBox::Question, QMessageBox::Warning,
                                              QMessageBox::Critical, QMessageBox::Critical};
    box.setIcon(icons[AKind]);
    QAbstractButton* ok = box.addButton(QMessageBox::Ok);
    QAbstractButton* cancel = nullptr;
    if (AKind == mbQuestion || AKind == mbErrorCancel) cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(AKind == mbQuestion ? QMessageBox::Cancel : QMessageBox::Ok);
    box.setEscapeButton(cancel ? cancel : ok);
    box.exec();
    return box.clickedButton() == cancel && cancel ? 2 : 1;
  } catch (...) {
    return -1;
  }
}

QString GetExePath() {
  QString dir = ExePathOverride().isEmpty() ? QCoreApplication::applicationDirPath() : ExePathOverride();
  if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
  return dir;
}

QString NewGuidStr() {
  const QUuid id = QUuid::createUuid();
  if (id.isNull()) return QString();
  return id.toString(QUuid::WithBraces).toUpper();
}

static QString FailureText(const QString& AMessage) {
  QString text = AMessage;
  if (!text.isEmpty() && text.back() > QLatin1Char('.')) text += QLatin1Char('.');
  return text;
}

void ReportFailure(const QString& AMessage) { MsgBox(mbError, ApplicationTitle(), FailureText(AMessage)); }

void RunCommand(const std::function<void()>& AHandler) {
  try {
    AHandler();
  } catch (const std::exception& e) {
    ReportFailure(QString::fromUtf8(e.what()));
  } catch (...) {
    ReportFailure(QStringLiteral("Unknown failure"));
  }
}

int ShowModal(QDialog* ADialog) {
  if (ModalHandler()) {
    // Shown without a modal loop of its own; the handler drives it and the
    // dialog's result is what it left.
    ADialog->setResult(QDialog::Rejected);
    ADialog->show();
    const int result = ModalHandler()(ADialog);
    ADialog->hide();
    return result;
  }
  return ADialog->exec();
}

static QString RunPictureDialog(QWidget* AParent);

void WithoutQtSettings(const std::function<void()>& AWork) {
  QTemporaryDir scratch;
  struct TRestore {
    bool Active;
    ~TRestore() {
      if (!Active) return;
      const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
      QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home);
      QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home);
    }
  } restore{scratch.isValid()};
  if (restore.Active) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratch.path());
  }
  AWork();
}

QString OpenPictureFile(QWidget* AParent) {
  if (OpenPictureHandler()) return OpenPictureHandler()(AParent);
  QString chosen;
  // The dialog reads and writes its history when it is made and destroyed.
  WithoutQtSettings([&] { chosen = RunPictureDialog(AParent); });
  return chosen;
}

static QString RunPictureDialog(QWidget* AParent) {
  QFileDialog dlg(AParent, QString(), QString(),
                  QCoreApplication::translate("SFunc", "图片 (*.jpg *.JPG *.png *.PNG);;所有文件 (*)"));
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  // The preview pane needs the toolkit's own dialog, not the desktop's.
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  auto* preview = new TPicturePreview(&dlg);
  if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout())) {
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
  }
  QObject::connect(&dlg, &QFileDialog::currentChanged, preview,
                   [preview](const QString& AFile) { preview->ShowFile(AFile); });
  // A typed name previews too.
  if (auto* name = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    QObject::connect(name, &QLineEdit::textChanged, preview, [preview, &dlg](const QString& AName) {
      if (!AName.isEmpty()) preview->ShowFile(dlg.directory().absoluteFilePath(AName));
    });
  }
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return QString();
  return dlg.selectedFiles().first();
}

QString SaveFileName(QWidget* AParent, const QString& ACaption, const QString& AFilter) {
  if (SaveFileHandler()) return SaveFileHandler()(AParent);
  QString chosen;
  WithoutQtSettings([&] {
    QFileDialog dlg(AParent, ACaption, QString(), AFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
      chosen = dlg.selectedFiles().first();
  });
  return chosen;
}

static void InitIconResources() { Q_INIT_RESOURCE(icons); }

void EnsureConsoleResources() {
  static const bool done = (InitIconResources(), true);
  (void)done;
}

QIcon ConsoleIcon(int AIndex) {
  EnsureConsoleResources();
  return QIcon(QStringLiteral(":/icons/%1").arg(AIndex));
}

namespace SFuncSeams {
void SetMsgBoxHandler(std::function<int(int, const QString&, const QString&)> AHandler) {
  MsgBoxHandler() = std::move(AHandler);
}
void SetModalHandler(std::function<int(QDialog*)> AHandler) { ModalHandler() = std::move(AHandler); }
void SetOpenPictureHandler(std::function<QString(QWidget*)> AHandler) {
  OpenPictureHandler() = std::move(AHandler);
}
void SetSaveFileHandler(std::function<QString(QWidget*)> AHandler) {
  SaveFileHandler() = std::move(AHandler);
}
void SetExePathOverride(const QString& APath) { ExePathOverride() = APath; }
}  // namespace SFuncSeams
