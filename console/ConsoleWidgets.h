// Widgets the console's forms are built from: a list box of icon rows with
// the selection rules the handlers rely on, a borderless dialog's title strip
// and its red close glyph.
#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QListWidget>
#include <QPoint>

// Rows with a caption and an icon. ItemClick is raised on every change of the
// selected row (mouse, keyboard or program) and on a left click on the row
// that is already selected. A right click never changes the selection.
class TListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TListBox(QWidget* AParent = nullptr);

  // The selected row, -1 when none.
  int ItemIndex() const;
  // Selects a row (or none with -1); raises ItemClick when that is a change.
  void SetItemIndex(int AIndex);
  void AddRow(const QString& ACaption, int AIcon);
  QString Caption(int AIndex) const;
  QStringList Captions() const;
  // Removes every row; raises ItemClick when a row was selected.
  void Clear();
  // Removes one row. When it was the last row nothing is selected afterwards,
  // otherwise the row that moved into its place is. ARaise says whether that
  // change of selection raises ItemClick.
  void DeleteRow(int AIndex, bool ARaise);

 signals:
  void ItemClick();

 protected:
  void mousePressEvent(QMouseEvent* AEvent) override;
  // The operator moves the selection from row to row but can't take it
  // away: a click below the last row or a Ctrl click keeps the selected row.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& AIndex,
                                                       const QEvent* AEvent = nullptr) const override;

 private:
  void SelectionMoved();
  static constexpr int kRowHeight = 30;
  int FLastIndex = -1;
  bool FQuiet = false;
};

// The title strip of a borderless dialog: dragging it moves the dialog.
class TTitleStrip : public QFrame {
  Q_OBJECT
 public:
  explicit TTitleStrip(QWidget* AParent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* AEvent) override;
  void mouseMoveEvent(QMouseEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;

 private:
  bool FDragging = false;
  QPoint FGrabOffset;
};

// The red close glyph at the right end of a title strip.
class TCloseGlyph : public QAbstractButton {
  Q_OBJECT
 public:
  explicit TCloseGlyph(QWidget* AParent = nullptr);
  QSize sizeHint() const override { return QSize(28, 28); }

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void enterEvent(QEnterEvent* AEvent) override;
  void leaveEvent(QEvent* AEvent) override;

 private:
  bool FHover = false;
};

class QDialog;
class QLabel;
// Makes a dialog borderless and modal, gives its title text the strip's font,
// and centres it over AOver (the main window) when shown.
void PrepareDialog(QDialog* ADialog, QLabel* ATitle, QWidget* AOver);
