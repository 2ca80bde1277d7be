#include "app/ui/ErrorLogWindow.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/util/QtText.h"
#include "dbengine/api/VEZTable.h"
#include "platform/dataset/Field.h"

namespace rvx {

namespace {
constexpr int kCellPadding = 12;
}  // namespace

TErrorLogTableModel::TErrorLogTableModel(vez::TVEZTable& aTable, QObject* parent)
    : QAbstractTableModel(parent), FTable(aTable) {
  Refresh();
}

void TErrorLogTableModel::Refresh() {
  // Everything is read before the reset so an engine error leaves the model
  // as it was; the grid then never asks the table anything per cell.
  vez::TVEZTable& t = FTable;
  // Moving the cursor of a table in the middle of an edit would post that
  // edit: the model never writes, so it keeps what it showed.
  if (t.State() != platform::TDataSetState::dsBrowse) return;
  const int fields = t.FieldCount();
  std::vector<QString> headers;
  std::vector<int> chars;
  headers.reserve(static_cast<std::size_t>(std::max(0, fields)));
  for (int f = 0; f < fields; ++f) {
    const platform::Field& field = t.Fields(f);
    headers.push_back(ToQString(field.FieldName()));
    // A text field is as wide as its size; others as their widest text.
    const bool text = field.DataType() == platform::TFieldType::ftString;
    chars.push_back(
        std::max<int>(static_cast<int>(headers.back().size()), text ? field.Size() : 0));
  }
  std::vector<std::vector<QString>> rows;
  rows.reserve(static_cast<std::size_t>(std::max(0, t.RecordCount())));
  // Reading moves the cursor; the user of the table finds it where it was.
  const platform::TBookmark back = t.GetBookmark();
  for (t.First(); !t.Eof(); t.Next()) {
    std::vector<QString> row;
    row.reserve(static_cast<std::size_t>(fields));
    for (int f = 0; f < fields; ++f) {
      const platform::Field& field = t.Fields(f);
      row.push_back(field.IsNull() ? QString() : ToQString(field.AsString()));
      int& width = chars[static_cast<std::size_t>(f)];
      width = std::max<int>(width, static_cast<int>(row.back().size()));
    }
    rows.push_back(std::move(row));
  }
  if (!back.empty() && t.BookmarkValid(back)) t.GotoBookmark(back);
  beginResetModel();
  FHeaders = std::move(headers);
  FRows = std::move(rows);
  FDisplayChars = std::move(chars);
  endResetModel();
}

int TErrorLogTableModel::DisplayChars(int column) const {
  if (column < 0 || column >= static_cast<int>(FDisplayChars.size())) return 0;
  return FDisplayChars[static_cast<std::size_t>(column)];
}

int TErrorLogTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TErrorLogTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FHeaders.size());
}

QVariant TErrorLogTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const auto r = static_cast<std::size_t>(index.row());
  const auto c = static_cast<std::size_t>(index.column());
  if (r >= FRows.size() || c >= FRows[r].size()) return {};
  return FRows[r][c];
}

QVariant TErrorLogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= static_cast<int>(FHeaders.size())) return {};
  return FHeaders[static_cast<std::size_t>(section)];
}

Qt::ItemFlags TErrorLogTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

TFrm_Errorlog::TFrm_Errorlog(QWidget* AOwner, vez::TVEZTable& aErrorLog) : TFormAC(AOwner) {
  setWindowTitle(QStringLiteral("RVX - Error Log"));
  Grid_ErrorLog = new QTableView(this);
  DataSource1 = new TErrorLogTableModel(aErrorLog, this);
  Grid_ErrorLog->setModel(DataSource1);
  Grid_ErrorLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Btn_Close = new QPushButton(QStringLiteral("Close"), this);
  Btn_Close->setToolTip(QStringLiteral("Close error log"));
  connect(Btn_Close, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Grid_ErrorLog, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Btn_Close);
  layout->addLayout(buttons);
  resize(720, 400);
  FormCreate();
}

void TFrm_Errorlog::FormCreate() {
  // The first column is the row ID, of no use to the reader.
  if (DataSource1->columnCount() > 0) Grid_ErrorLog->setColumnHidden(0, true);
  // Each column wide enough for its field, so no time or message is cut;
  // the window opens wide enough for all of them.
  const QFontMetrics metrics(Grid_ErrorLog->font());
  int total = 0;
  for (int c = 1; c < DataSource1->columnCount(); ++c) {
    const int width =
        metrics.horizontalAdvance(QString(DataSource1->DisplayChars(c), QLatin1Char('0'))) +
        kCellPadding;
    Grid_ErrorLog->setColumnWidth(c, width);
    total += width;
  }
  const int frame =
      2 * Grid_ErrorLog->frameWidth() + Grid_ErrorLog->verticalHeader()->sizeHint().width() +
      Grid_ErrorLog->verticalScrollBar()->sizeHint().width() +
      (layout() ? layout()->contentsMargins().left() + layout()->contentsMargins().right() : 0);
  resize(std::max(width(), total + frame), height());
  StyleGlowButton(Btn_Close);
}

}  // namespace rvx
