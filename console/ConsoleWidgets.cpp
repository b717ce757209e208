#include "ConsoleWidgets.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "SFunc.h"

TListBox::TListBox(QWidget* AParent) : QListWidget(AParent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setIconSize(QSize(16, 16));
  setUniformItemSizes(true);
  setStyleSheet(QStringLiteral(
      "QListWidget { border: 1px solid #d9dee6; border-radius: 4px; background: white; outline: none; }"
      "QListWidget::item { border-bottom: 1px solid #e8ebf0; padding-left: 4px; color: #1f2a37; }"
      "QListWidget::item:selected { background: #dbe9fb; color: #1f2a37; }"));
  connect(this, &QListWidget::itemSelectionChanged, this, &TListBox::SelectionMoved);
}

int TListBox::ItemIndex() const {
  const QList<QListWidgetItem*> sel = selectedItems();
  return sel.isEmpty() ? -1 : row(sel.first());
}

void TListBox::SetItemIndex(int AIndex) {
  if (AIndex < 0 || AIndex >= count()) {
    clearSelection();
    setCurrentItem(nullptr);
  } else {
    setCurrentRow(AIndex, QItemSelectionModel::ClearAndSelect);
  }
  SelectionMoved();
}

void TListBox::AddRow(const QString& ACaption, int AIcon) {
  auto* item = new QListWidgetItem(ConsoleIcon(AIcon), ACaption);
  item->setSizeHint(QSize(0, kRowHeight));
  addItem(item);
}

QString TListBox::Caption(int AIndex) const {
  const QListWidgetItem* it = item(AIndex);
  return it ? it->text() : QString();
}

QStringList TListBox::Captions() const {
  QStringList all;
  for (int i = 0; i < count(); ++i) all << item(i)->text();
  return all;
}

void TListBox::Clear() {
  clear();
  SelectionMoved();
}

void TListBox::DeleteRow(int AIndex, bool ARaise) {
  if (AIndex < 0 || AIndex >= count()) return;
  FQuiet = true;
  delete takeItem(AIndex);
  if (AIndex < count()) {
    setCurrentRow(AIndex, QItemSelectionModel::ClearAndSelect);
  } else {
    clearSelection();
    setCurrentItem(nullptr);
  }
  FQuiet = false;
  if (ARaise) {
    FLastIndex = -2;  // force: the row in this place is another one now
    SelectionMoved();
  } else {
    FLastIndex = ItemIndex();
  }
}

void TListBox::SelectionMoved() {
  if (FQuiet) return;
  const int now = ItemIndex();
  if (now == FLastIndex) return;
  FLastIndex = now;
  emit ItemClick();
}

void TListBox::mousePressEvent(QMouseEvent* AEvent) {
  if (AEvent->button() != Qt::LeftButton) {
    AEvent->accept();  // the context menu acts on the row selected before
    return;
  }
  const QListWidgetItem* under = itemAt(AEvent->position().toPoint());
  const bool onSelected = under && row(under) == ItemIndex();
  QListWidget::mousePressEvent(AEvent);
  if (onSelected && ItemIndex() == row(under)) emit ItemClick();
}

QItemSelectionModel::SelectionFlags TListBox::selectionCommand(const QModelIndex& AIndex,
                                                               const QEvent* AEvent) const {
  if (!AIndex.isValid()) return QItemSelectionModel::NoUpdate;
  const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(AIndex, AEvent);
  if (flags & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle | QItemSelectionModel::Clear)) {
    if (flags & QItemSelectionModel::Select) return flags;  // ClearAndSelect
    return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
  }
  return flags;
}

TTitleStrip::TTitleStrip(QWidget* AParent) : QFrame(AParent) {
  setAutoFillBackground(true);
  setStyleSheet(QStringLiteral("TTitleStrip { background: #eef2f7; border-bottom: 1px solid #d9dee6; }"));
  setCursor(Qt::SizeAllCursor);
}

void TTitleStrip::mousePressEvent(QMouseEvent* AEvent) {
  if (AEvent->button() == Qt::LeftButton) {
    FDragging = true;
    FGrabOffset = AEvent->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    AEvent->accept();
    return;
  }
  QFrame::mousePressEvent(AEvent);
}

void TTitleStrip::mouseMoveEvent(QMouseEvent* AEvent) {
  if (FDragging && (AEvent->buttons() & Qt::LeftButton)) {
    window()->move(AEvent->globalPosition().toPoint() - FGrabOffset);
    AEvent->accept();
    return;
  }
  QFrame::mouseMoveEvent(AEvent);
}

void TTitleStrip::mouseReleaseEvent(QMouseEvent* AEvent) {
  FDragging = false;
  QFrame::mouseReleaseEvent(AEvent);
}

TCloseGlyph::TCloseGlyph(QWidget* AParent) : QAbstractButton(AParent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setToolTip(tr("关闭"));
}

void TCloseGlyph::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (FHover) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe0, 0x44, 0x3e));
    p.drawRoundedRect(rect().adjusted(2, 2, -2, -2), 4, 4);
  }
  p.setPen(QPen(FHover ? QColor(Qt::white) : QColor(0xe0, 0x44, 0x3e), 2.2, Qt::SolidLine, Qt::RoundCap));
  const QRectF r = QRectF(rect()).adjusted(9, 9, -9, -9);
  p.drawLine(r.topLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomLeft());
}

void TCloseGlyph::enterEvent(QEnterEvent*) {
  FHover = true;
  update();
}

void TCloseGlyph::leaveEvent(QEvent*) {
  FHover = false;
  update();
}

namespace {
// Centres a dialog over a window the moment it is first shown.
class TCentreOnShow : public QObject {
 public:
  TCentreOnShow(QDialog* ADialog, QWidget* AOver) : QObject(ADialog), FOver(AOver) {}
  bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
    if (AEvent->type() == QEvent::Show) {
      auto* dlg = static_cast<QWidget*>(AWatched);
      QRect area = FOver ? FOver->frameGeometry() : dlg->screen()->availableGeometry();
      dlg->move(area.center() - QPoint(dlg->width() / 2, dlg->height() / 2));
    }
    return false;
  }

 private:
  QWidget* FOver;
};
}  // namespace

void PrepareDialog(QDialog* ADialog, QLabel* ATitle, QWidget* AOver) {
  ADialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  ADialog->setWindowModality(Qt::ApplicationModal);
  ADialog->setWindowTitle(ATitle->text());
  QFont f = ATitle->font();
  f.setFamilies(
      {QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei")});
  f.setPixelSize(13);
  f.setBold(true);
  ATitle->setFont(f);
  ADialog->installEventFilter(new TCentreOnShow(ADialog, AOver));
}
