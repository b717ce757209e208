#include "MessageInspector.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "SFunc.h"
#include "f_print_preview.h"
#include "ui_f_print_preview.h"

namespace {
// The renderer's preview dialog, embedded without its title strip when it
// goes into a parent (the inspector's views).
QWidget* EmbeddedPrintPreview(const QByteArray& APayload, QWidget* AParent) {
  auto* view = new Tprint_preview(APayload);
  if (AParent) {
    view->setParent(AParent, Qt::Widget);
    view->Form()->pnl_title->hide();
  }
  return view;
}

TPrintPreviewFactory& PreviewFactoryStorage() {
  static TPrintPreviewFactory factory = EmbeddedPrintPreview;
  return factory;
}
enum { colTime, colTopic, colQoS, colRetain, colDup, colPacketId, colSize, colCount };
}  // namespace

void SetPrintPreviewFactory(TPrintPreviewFactory AFactory) { PreviewFactoryStorage() = std::move(AFactory); }
const TPrintPreviewFactory& PrintPreviewFactory() { return PreviewFactoryStorage(); }

// ---------------------------------------------------------------------------
// Rows

TMessageTableModel::TMessageTableModel(const TMessageLog& ALog, QObject* AParent)
    : QAbstractTableModel(AParent), FLog(ALog) {}

int TMessageTableModel::rowCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TMessageTableModel::columnCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : colCount;
}

bool TMessageTableModel::Has(int ARow) const {
  return ARow >= 0 && ARow < rowCount() && FRows[static_cast<size_t>(ARow)] >= FLog.FirstSeq();
}

const TLoggedMessage& TMessageTableModel::Message(int ARow) const {
  return FLog.BySeq(FRows[static_cast<size_t>(ARow)]);
}

QVariant TMessageTableModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || !Has(AIndex.row())) return {};
  if (ARole == Qt::TextAlignmentRole && AIndex.column() != colTopic)
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (ARole != Qt::DisplayRole) return {};
  const TLoggedMessage& m = Message(AIndex.row());
  switch (AIndex.column()) {
    case colTime:
      return QDateTime::fromMSecsSinceEpoch(m.ArrivalMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    case colTopic:
      return m.Topic;
    case colQoS:
      return m.QoS;
    case colRetain:
      return m.Retain ? tr("是") : QString();
    case colDup:
      return m.Duplicate ? tr("是") : QString();
    case colPacketId:
      return m.PacketId == 0 ? QString() : QString::number(m.PacketId);
    case colSize:
      return static_cast<qlonglong>(m.Payload.size());
  }
  return {};
}

QVariant TMessageTableModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation != Qt::Horizontal || ARole != Qt::DisplayRole) return {};
  switch (ASection) {
    case colTime:
      return tr("到达时间");
    case colTopic:
      return tr("主题");
    case colQoS:
      return QStringLiteral("QoS");
    case colRetain:
      return tr("保留");
    case colDup:
      return tr("重复");
    case colPacketId:
      return tr("报文标识");
    case colSize:
      return tr("字节数");
  }
  return {};
}

void TMessageTableModel::SetFilter(const TMessageFilter& AFilter) {
  beginResetModel();
  FFilter = AFilter;
  FRows.clear();
  for (qint64 seq = FLog.FirstSeq(); seq < FLog.NextSeq(); ++seq) {
    if (FFilter.Matches(FLog.BySeq(seq))) FRows.push_back(seq);
  }
  FSeen = FLog.NextSeq();
  endResetModel();
}

void TMessageTableModel::Sync() {
  // Rows whose publication the log dropped go first.
  size_t gone = 0;
  while (gone < FRows.size() && FRows[gone] < FLog.FirstSeq()) ++gone;
  if (gone > 0) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
    FRows.erase(FRows.begin(), FRows.begin() + static_cast<std::ptrdiff_t>(gone));
    endRemoveRows();
  }
  std::vector<qint64> added;
  for (qint64 seq = std::max(FSeen, FLog.FirstSeq()); seq < FLog.NextSeq(); ++seq) {
    if (FFilter.Matches(FLog.BySeq(seq))) added.push_back(seq);
  }
  FSeen = FLog.NextSeq();
  if (added.empty()) return;
  const int first = rowCount();
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
  FRows.insert(FRows.end(), added.begin(), added.end());
  endInsertRows();
}

// ---------------------------------------------------------------------------
// Window

Tinspector::Tinspector(const TMessageLog& ALog, QWidget* AParent)
    : QWidget(AParent, Qt::Window), FLog(ALog), FModel(new TMessageTableModel(ALog, this)) {
  setObjectName(QStringLiteral("inspector"));
  setWindowTitle(tr("消息记录"));
  resize(900, 600);
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  FTopicFilter = new QLineEdit(this);
  FTopicFilter->setObjectName(QStringLiteral("edt_topic_filter"));
  FTopicFilter->setPlaceholderText(tr("按主题过滤（可用 + 和 # 通配符）"));
  FTopicFilter->setClearButtonEnabled(true);
  FTextFilter = new QLineEdit(this);
  FTextFilter->setObjectName(QStringLiteral("edt_text_filter"));
  FTextFilter->setPlaceholderText(tr("按文本过滤"));
  FTextFilter->setClearButtonEnabled(true);
  FExport = new QPushButton(tr("导出为 JSON Lines"), this);
  FExport->setObjectName(QStringLiteral("btn_export"));
  FCounts = new QLabel(this);
  FCounts->setObjectName(QStringLiteral("lbl_counts"));
  bar->addWidget(FTopicFilter, 2);
  bar->addWidget(FTextFilter, 2);
  bar->addWidget(FExport);
  layout->addLayout(bar);
  layout->addWidget(FCounts);

  auto* split = new QSplitter(Qt::Vertical, this);
  // A flat tree view with uniform rows: it lays out 100,000 rows without
  // keeping anything per row, so appending rows costs little.
  FTable = new QTreeView(split);
  FTable->setObjectName(QStringLiteral("tbl_messages"));
  FTable->setModel(FModel);
  FTable->setRootIsDecorated(false);
  FTable->setItemsExpandable(false);
  FTable->setUniformRowHeights(true);
  FTable->setAllColumnsShowFocus(true);
  FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  FTable->setSelectionMode(QAbstractItemView::SingleSelection);
  FTable->header()->setSectionResizeMode(QHeaderView::Interactive);
  FTable->header()->setStretchLastSection(true);
  FTable->setColumnWidth(colTime, 170);
  FTable->setColumnWidth(colTopic, 260);
  FTable->setColumnWidth(colQoS, 40);
  FTable->setColumnWidth(colRetain, 50);
  FTable->setColumnWidth(colDup, 50);
  FTable->setColumnWidth(colPacketId, 80);
  FViews = new QTabWidget(split);
  FViews->setObjectName(QStringLiteral("tab_views"));
  const QString titles[4] = {tr("文本"), QStringLiteral("JSON"), tr("十六进制"), tr("GBK 文本")};
  for (int i = 0; i < 4; ++i) {
    FTextViews[i] = new QPlainTextEdit(FViews);
    FTextViews[i]->setReadOnly(true);
    FTextViews[i]->setLineWrapMode(i == 2 ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
    if (i == 2) FTextViews[i]->setFont(QFont(QStringLiteral("DejaVu Sans Mono")));
    FViews->addTab(FTextViews[i], titles[i]);
  }
  split->addWidget(FTable);
  split->addWidget(FViews);
  split->setSizes({350, 250});
  layout->addWidget(split, 1);

  connect(FTopicFilter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(FTextFilter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
  connect(FExport, &QPushButton::clicked, this, [this] { RunCommand([this] { btn_exportClick(); }); });
  connect(FTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& ACurrent) { ShowRow(ACurrent.isValid() ? ACurrent.row() : -1); });
  // New rows keep the newest in view unless the operator scrolled away.
  connect(FTable->verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this](int AValue) { FFollow = AValue == FTable->verticalScrollBar()->maximum(); });
  FRefresh = new QTimer(this);
  FRefresh->setInterval(100);
  connect(FRefresh, &QTimer::timeout, this, &Tinspector::Refresh);
  FRefresh->start();
  ApplyFilter();
}

void Tinspector::Refresh() {
  const bool follow = FFollow;
  const int before = FModel->rowCount();
  const qint64 seen = FLog.NextSeq();
  if (seen == FLastSeen && FLog.FirstSeq() == FLastFirst) return;
  FLastSeen = seen;
  FLastFirst = FLog.FirstSeq();
  FModel->Sync();
  FCounts->setText(tr("已记录 %1 条，显示 %2 条，因超出 %3 条上限已丢弃 %4 条")
                       .arg(FLog.Count())
                       .arg(FModel->rowCount())
                       .arg(TMessageLog::kCapacity)
                       .arg(FLog.Dropped()));
  if (follow && isVisible() && FModel->rowCount() != before) FTable->scrollToBottom();
}

void Tinspector::ApplyFilter() {
  TMessageFilter filter;
  filter.Topic = FTopicFilter->text();
  filter.Text = FTextFilter->text();
  FModel->SetFilter(filter);
  ShowRow(-1);
  FLastSeen = -1;
  Refresh();
}

void Tinspector::ShowRow(int ARow) {
  if (FPreview) {
    FViews->removeTab(FViews->indexOf(FPreview));
    delete FPreview;
    FPreview = nullptr;
  }
  if (!FModel->Has(ARow)) {
    for (int i = 0; i < 4; ++i) {
      FViewTexts[i].clear();
      FTextViews[i]->clear();
    }
    return;
  }
  const QByteArray& payload = FModel->Message(ARow).Payload;
  QString text = PayloadAsText(payload);
  if (!IsUtf8(payload))
    text.prepend(tr("【不是有效的 UTF-8，无法解码的字节显示为 \uFFFD】") + QLatin1Char('\n'));
  FViewTexts[0] = text;
  FViewTexts[1] = PayloadAsJson(payload);
  FViewTexts[2] = PayloadAsHex(payload);
  FViewTexts[3] = PayloadAsGbk(payload);
  for (int i = 0; i < 4; ++i) FTextViews[i]->setPlainText(FViewTexts[i]);
  // The print preview of a print task, once a renderer provides it.
  if (PrintPreviewFactory() && IsPrintTask(payload)) {
    FPreview = PrintPreviewFactory()(payload, FViews);
    if (FPreview) FViews->addTab(FPreview, tr("打印预览"));
  }
}

QString Tinspector::ViewText(int AView) const {
  return AView >= 0 && AView < 4 ? FViewTexts[AView] : QString();
}

void Tinspector::btn_exportClick() {
  const QString file = SaveFileName(this, tr("导出消息记录"), tr("JSON Lines (*.jsonl);;所有文件 (*)"));
  if (file.isEmpty()) return;
  FModel->Sync();
  QList<const TLoggedMessage*> rows;
  rows.reserve(FModel->rowCount());
  for (int i = 0; i < FModel->rowCount(); ++i) rows << &FModel->Message(i);
  if (!ExportJsonLines(file, rows)) throw std::runtime_error(tr("无法写入 %1").arg(file).toStdString());
  MsgBox(mbInformation, QString(), tr("已导出 %1 条消息").arg(rows.size()));
}
