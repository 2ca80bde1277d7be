// The error-log window TFrm_Errorlog and the table model it shows.
//
// TErrorLogTableModel is a read-only model over an open table component: one
// model row per table row in the table's current order, one column per
// field, headers the field names. It reads the rows when built and on
// Refresh, so data() costs a vector lookup; it moves the table's cursor
// while reading and puts it back on the row it was on. A table in the middle
// of an edit is not read (moving its cursor would post the edit): the model
// keeps the rows it had.
//
// TFrm_Errorlog shows the ErrorLog table (Time, UnitName, FunctionName,
// Message) in a read-only QTableView, with the ID column hidden and each
// column as wide as its field, so no time or message is cut. It writes
// nothing.
//
// Errors: the engine's errors while reading pass to the caller; the model
// then keeps the rows it had.
//
// Thread safety: GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QVariant>

#include <memory>
#include <vector>

#include "app/util/ControlStyle.h"

class QPushButton;
class QTableView;

namespace vez {
class TVEZTable;
}  // namespace vez

namespace rvx {

class TErrorLogTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The table must be open and outlive the model.
  explicit TErrorLogTableModel(vez::TVEZTable& aTable, QObject* parent = nullptr);

  // Reads the table's rows again.
  void Refresh();

  // Characters a column needs: a text field's size, else its widest value,
  // and never less than its header.
  int DisplayChars(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  vez::TVEZTable& FTable;
  std::vector<QString> FHeaders;
  std::vector<std::vector<QString>> FRows;
  std::vector<int> FDisplayChars;
};

class TFrm_Errorlog : public TFormAC {
  Q_OBJECT

 public:
  // aErrorLog: the ErrorLog table component (TDM_System::getErrorLogDataSource).
  TFrm_Errorlog(QWidget* AOwner, vez::TVEZTable& aErrorLog);

  QTableView* Grid_ErrorLog;
  TErrorLogTableModel* DataSource1;
  QPushButton* Btn_Close;

 private:
  void FormCreate();
};

}  // namespace rvx
