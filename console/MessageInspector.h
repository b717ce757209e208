// The message inspector: a window listing every received publication (time
// of arrival, topic, QoS, retain and duplicate flags, packet id, size), with
// filters by topic and text, the selected payload as text, JSON, hex and GBK
// text, and the export of the shown rows as JSON Lines.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <functional>
#include <vector>

#include "MessageLog.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTreeView;
class QTimer;

// The view the inspector shows for a payload holding a print task: by
// default the renderer's preview (pages, listing, findings); tests may set
// another, or an empty function for no preview view.
using TPrintPreviewFactory = std::function<QWidget*(const QByteArray& APayload, QWidget* AParent)>;
void SetPrintPreviewFactory(TPrintPreviewFactory AFactory);
const TPrintPreviewFactory& PrintPreviewFactory();

// The rows of the inspector: the logged publications that pass the filter.
class TMessageTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TMessageTableModel(const TMessageLog& ALog, QObject* AParent = nullptr);
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole = Qt::DisplayRole) const override;

  void SetFilter(const TMessageFilter& AFilter);
  // Takes in what the log gained and lost since the last call.
  void Sync();
  // Whether a row's publication is still in the log (the log may drop the
  // oldest between two syncs).
  bool Has(int ARow) const;
  const TLoggedMessage& Message(int ARow) const;

 private:
  const TMessageLog& FLog;
  TMessageFilter FFilter;
  std::vector<qint64> FRows;  // sequence numbers, oldest first
  qint64 FSeen = 0;           // the next sequence number to look at
};

class Tinspector : public QWidget {
  Q_OBJECT
 public:
  Tinspector(const TMessageLog& ALog, QWidget* AParent);

  TMessageTableModel* Model() const { return FModel; }
  QTreeView* Table() const { return FTable; }
  QLineEdit* TopicFilter() const { return FTopicFilter; }
  QLineEdit* TextFilter() const { return FTextFilter; }
  QTabWidget* Views() const { return FViews; }
  QLabel* Counts() const { return FCounts; }

  // Brings the rows up to date with the log (a timer does it every 100 ms).
  void Refresh();
  // Applies the filter fields.
  void ApplyFilter();
  // Shows the payload of a row in the views.
  void ShowRow(int ARow);
  // The view texts of the row shown: text, JSON, hex, GBK.
  QString ViewText(int AView) const;
  // Asks for a file and writes the shown rows as JSON Lines.
  void btn_exportClick();

 private:
  const TMessageLog& FLog;
  TMessageTableModel* FModel;
  QTreeView* FTable;
  QLineEdit* FTopicFilter;
  QLineEdit* FTextFilter;
  QPushButton* FExport;
  QLabel* FCounts;
  QTabWidget* FViews;
  QPlainTextEdit* FTextViews[4];
  QString FViewTexts[4];
  QWidget* FPreview = nullptr;
  QTimer* FRefresh;
  bool FFollow = true;
  qint64 FLastSeen = -1;   // the log's next sequence number at the last refresh
  qint64 FLastFirst = -1;  // and its oldest
};
