// The error-log window over the log database's ErrorLog table, filled by a
// shaft reading damaged sentences from a pty meter.
#include "app/ui/ErrorLogWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/ErrorManager.h"
#include "app/acquisition/Shaft.h"
#include "app/storage/DMSystem.h"
#include "app/util/QtText.h"
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZTable.h"
#include "platform/core/Variant.h"
#include "platform/dataset/Field.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

struct StoredRow {
  std::string id, unit, function, message;
};

// The table's rows in its own order, as the engine gives them.
std::vector<StoredRow> TableOrder(vez::TVEZTable& t) {
  std::vector<StoredRow> rows;
  for (t.First(); !t.Eof(); t.Next())
    rows.push_back({t.FieldByName("ID").AsString(), t.FieldByName("UnitName").AsString(),
                    t.FieldByName("FunctionName").AsString(), t.FieldByName("Message").AsString()});
  return rows;
}

std::string Cell(const QAbstractItemModel& model, int row, int column) {
  return FromQString(model.data(model.index(row, column)).toString());
}

int DarkPixels(const QImage& picture) {
  int dark = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      dark += qGray(picture.pixel(x, y)) < 80;
  return dark;
}

class ErrorLogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }
  test::LinkTestBench bench_{test::SeamBackend::kLogDatabase};
  test::InMemoryDisplaySettings settings_;
};

TEST_F(ErrorLogWindowTest, RowsFromADamagedFeedShowWithoutTheIdColumn) {
  test::SocatPair& pty = bench_.StartMeter(1);
  auto shaft = std::make_shared<TShaft>(0, bench_.services, settings_);
  std::vector<std::shared_ptr<IShaft>> shafts{shaft};
  auto manager = TErrorManager::Create(settings_, shafts, bench_.errors);
  const std::string badChecksum = "$SPS1,1,100.5,0,85.2,900,0,0*00\r\n";
  const std::string torqueZero = test::MeterSentence("SPS1,1,0,0,85.2,900,0,0");
  pty.Write(badChecksum + torqueZero + test::MeterSentence("SPS1,1,100.5,0,85.2,900,0,0"));
  ASSERT_TRUE(test::WaitUntil([&] { return bench_.errors.Rows().size() == 2; }));
  manager->Disconnect();

  vez::TVEZTable& table = bench_.Database()->getErrorLogDataSource();
  const std::vector<StoredRow> stored = TableOrder(table);
  ASSERT_EQ(stored.size(), 2u);
  TFrm_Errorlog window(nullptr, table);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("RVX - Error Log"));
  EXPECT_EQ(window.Btn_Close->text(), QStringLiteral("Close"));
  EXPECT_EQ(window.Btn_Close->toolTip(), QStringLiteral("Close error log"));

  const QAbstractItemModel& model = *window.Grid_ErrorLog->model();
  ASSERT_EQ(model.rowCount(), 2);
  ASSERT_EQ(model.columnCount(), 5);
  const char* headers[] = {"ID", "Time", "UnitName", "FunctionName", "Message"};
  for (int c = 0; c < 5; ++c)
    EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c]));
  EXPECT_TRUE(window.Grid_ErrorLog->isColumnHidden(0));
  for (int c = 1; c < 5; ++c)
    EXPECT_FALSE(window.Grid_ErrorLog->isColumnHidden(c)) << c;
  for (int r = 0; r < 2; ++r) {
    SCOPED_TRACE(r);
    const StoredRow& row = stored[static_cast<std::size_t>(r)];
    EXPECT_EQ(Cell(model, r, 0), row.id);
    EXPECT_FALSE(Cell(model, r, 1).empty()) << "the time";
    EXPECT_EQ(Cell(model, r, 2), row.unit);
    EXPECT_EQ(Cell(model, r, 3), row.function);
    EXPECT_EQ(Cell(model, r, 4), row.message);
    EXPECT_FALSE(model.flags(model.index(r, 4)) & Qt::ItemIsEditable);
  }
  EXPECT_EQ(Cell(model, 0, 3), "Checksum error");
  EXPECT_EQ(Cell(model, 0, 4), badChecksum.substr(0, 60));
  EXPECT_EQ(Cell(model, 1, 3), "Torque 0.0 error");

  // Each shown column holds its widest value and its header uncut, a full
  // 60-character message too, and the window opens wide enough for them all.
  QTableView& view = *window.Grid_ErrorLog;
  const QFontMetrics metrics(view.font());
  const QString longest(60, QLatin1Char('0'));
  int columns = 0;
  for (int c = 1; c < 5; ++c) {
    SCOPED_TRACE(c);
    int widest = metrics.horizontalAdvance(model.headerData(c, Qt::Horizontal).toString());
    for (int r = 0; r < 2; ++r)
      widest =
          std::max(widest, metrics.horizontalAdvance(model.data(model.index(r, c)).toString()));
    EXPECT_GE(view.columnWidth(c), widest + 6);
    columns += view.columnWidth(c);
  }
  EXPECT_GE(view.columnWidth(4), metrics.horizontalAdvance(longest) + 6);
  EXPECT_GE(window.width(), columns);

  window.resize(900, 300);
  window.show();
  QApplication::processEvents();
  QTableView& grid = *window.Grid_ErrorLog;
  EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
  // Both rows are drawn in the picture, the ID column is not.
  const QRect viewport = grid.viewport()->geometry();
  const QImage picture = grid.grab(viewport).toImage();
  for (int r = 0; r < 2; ++r) {
    const QRect line(0, grid.rowViewportPosition(r), picture.width(), grid.rowHeight(r));
    EXPECT_GT(DarkPixels(picture.copy(line)), 50) << "row " << r;
  }
  EXPECT_EQ(grid.columnViewportPosition(1), 0) << "Time is the first column shown";

  // Reading the table for the window changed nothing in it.
  EXPECT_EQ(TableOrder(table).size(), 2u);
  window.Btn_Close->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(bench_.errors.Rows().size(), 2u);
}

TEST_F(ErrorLogWindowTest, AnEmptyLogShowsNoRowsAndTheModelFollowsTheTableOnRefresh) {
  vez::TVEZTable& table = bench_.Database()->getErrorLogDataSource();
  TFrm_Errorlog window(nullptr, table);
  EXPECT_EQ(window.DataSource1->rowCount(), 0);
  EXPECT_TRUE(window.Grid_ErrorLog->isColumnHidden(0));
  static_cast<ErrorLog&>(bench_.errors).newError("Unit", "Function", "first", ErrorLog::kLog);
  static_cast<ErrorLog&>(bench_.errors).newError("Unit", "Function", "second", ErrorLog::kLog);
  window.DataSource1->Refresh();
  ASSERT_EQ(window.DataSource1->rowCount(), 2);
  EXPECT_EQ(Cell(*window.DataSource1, 0, 4), "first");
  EXPECT_EQ(Cell(*window.DataSource1, 1, 4), "second");
}

// Appends n rows straight to the table, in one transaction, numbered from
// first in their Message.
void AppendRows(TDM_System& log, int first, int n) {
  vez::TVEZTable& t = log.getErrorLogDataSource();
  log.Database().StartTransaction();
  for (int i = first; i < first + n; ++i)
    t.AppendRecord({platform::Variant(), platform::Variant::FromDate(46000.0 + i / 86400.0),
                    platform::Variant::FromString("Shaft: Port Shaft"),
                    platform::Variant::FromString("Checksum error"),
                    platform::Variant::FromString("row " + std::to_string(i))});
  log.Database().Commit();
}

TEST_F(ErrorLogWindowTest, AManyRowLogIsReadOnceInStoredOrderAndNotAgainPerCell) {
  TDM_System& log = *bench_.Database();
  AppendRows(log, 0, 10000);
  vez::TVEZTable& table = log.getErrorLogDataSource();
  // Remove some early rows and add more, so the engine may place the new
  // ones where the old were: the window follows the table, not the IDs.
  for (int i = 0; i < 50; ++i) {
    table.First();
    table.Delete();
  }
  AppendRows(log, 10000, 50);
  const std::vector<StoredRow> stored = TableOrder(table);
  ASSERT_EQ(stored.size(), 10000u);
  table.First();
  for (int i = 0; i < 1234; ++i)
    table.Next();
  const std::string cursorId = table.FieldByName("ID").AsString();

  int scrolls = 0;
  table.AfterScroll = [&](platform::DataSet&) { ++scrolls; };
  TFrm_Errorlog window(nullptr, table);
  EXPECT_GT(scrolls, 0) << "the rows are read when the window is built";
  EXPECT_EQ(table.FieldByName("ID").AsString(), cursorId) << "the cursor is put back";

  const QAbstractItemModel& model = *window.Grid_ErrorLog->model();
  ASSERT_EQ(model.rowCount(), 10000);
  for (int r = 0; r < 10000; r += 97) {
    SCOPED_TRACE(r);
    const StoredRow& row = stored[static_cast<std::size_t>(r)];
    EXPECT_EQ(Cell(model, r, 0), row.id);
    EXPECT_EQ(Cell(model, r, 4), row.message);
  }
  EXPECT_EQ(Cell(model, 9999, 4), stored.back().message);

  // Showing, scrolling to the end and asking every cell leaves the table's
  // cursor alone: nothing is read from the table per cell.
  scrolls = 0;
  window.resize(900, 400);
  window.show();
  QApplication::processEvents();
  QTableView& grid = *window.Grid_ErrorLog;
  grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->maximum());
  QApplication::processEvents();
  const QImage picture = grid.grab(grid.viewport()->geometry()).toImage();
  const int last = grid.rowAt(grid.viewport()->height() - 1);
  ASSERT_GE(last, 9990) << "the end of the log is in view";
  for (int r = 0; r < 10000; ++r)
    for (int c = 0; c < 5; ++c)
      (void)model.data(model.index(r, c));
  EXPECT_EQ(scrolls, 0);
  EXPECT_GT(DarkPixels(picture), 200) << "the last rows are drawn";
  table.AfterScroll = nullptr;
  EXPECT_EQ(TableOrder(table).size(), 10000u);
}

TEST_F(ErrorLogWindowTest, NothingInTheWindowWritesTheTable) {
  TDM_System& log = *bench_.Database();
  AppendRows(log, 0, 3);
  vez::TVEZTable& table = log.getErrorLogDataSource();
  const std::vector<StoredRow> before = TableOrder(table);

  // A table in the middle of an edit is not read: reading would post it.
  table.First();
  table.Edit();
  table.FieldByName("Message").SetAsString("pending");
  {
    TFrm_Errorlog window(nullptr, table);
    EXPECT_EQ(window.DataSource1->rowCount(), 0);
    EXPECT_EQ(table.State(), platform::TDataSetState::dsEdit);
    EXPECT_EQ(table.FieldByName("Message").AsString(), "pending");
  }
  table.Cancel();
  EXPECT_EQ(TableOrder(table)[0].message, before[0].message);

  TFrm_Errorlog window(nullptr, table);
  TErrorLogTableModel& model = *window.DataSource1;
  ASSERT_EQ(model.rowCount(), 3);
  for (int c = 0; c < 5; ++c) {
    SCOPED_TRACE(c);
    const QModelIndex cell = model.index(1, c);
    EXPECT_FALSE(model.flags(cell) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.setData(cell, QStringLiteral("changed")));
  }
  EXPECT_FALSE(model.insertRows(0, 1));
  EXPECT_FALSE(model.removeRows(0, 1));
  window.show();
  QApplication::processEvents();
  QTableView& grid = *window.Grid_ErrorLog;
  grid.setCurrentIndex(model.index(1, 4));
  grid.edit(model.index(1, 4));
  QApplication::processEvents();
  EXPECT_TRUE(grid.findChildren<QLineEdit*>().isEmpty()) << "no editor opens";
  window.Btn_Close->click();
  const std::vector<StoredRow> after = TableOrder(table);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].id, before[i].id);
    EXPECT_EQ(after[i].message, before[i].message);
  }
}

}  // namespace
}  // namespace rvx
