// Test vehicle for relational operators built by hand: memory tables made
// by statements and filled through the table component, table operators
// over them, and an operator's result read back as text rows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "StatementTestSupport.h"
#include "dbengine/sql/VEZAO.h"
#include "dbengine/sql/VEZAOTable.h"
#include "dbengine/sql/VEZFields.h"

namespace vez::test {

using TCellText = std::optional<std::string>;

class AOTest : public StatementTest {
 protected:
  // Memory tables outlive the test's database: drop what the test made.
  void TearDown() override {
    for (const std::string& name : memory_tables_) {
      TVEZTable t;
      t.SetDatabaseName("MEMORY");
      t.SetTableName(name);
      try {
        t.DeleteTable();
      } catch (const std::exception&) {
      }
    }
    StatementTest::TearDown();
  }

  // A memory table `name` with the given column declarations ("k INTEGER")
  // and rows (an empty cell stays NULL).
  void MakeTable(const std::string& name, const std::vector<std::string>& columns,
                 const std::vector<std::vector<TCellText>>& rows) {
    std::string sql = "CREATE TABLE MEMORY " + name + " (";
    for (std::size_t i = 0; i < columns.size(); ++i)
      sql += (i ? ", " : "") + columns[i];
    Exec(sql + ")");
    memory_tables_.push_back(name);
    TVEZTable& t = NewTable(name, "MEMORY");
    t.Open();
    for (const auto& row : rows) {
      t.Append();
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (row[i]) t.Fields(static_cast<int>(i)).SetAsString(*row[i]);
      }
      t.Post();
    }
    t.Close();
  }

  std::unique_ptr<TVEZAO> Scan(const std::string& name, const std::string& alias = {}) {
    auto table = std::make_unique<TVEZTable>();
    table->SetDatabaseName("MEMORY");
    table->SetTableName(name);
    return std::make_unique<TVEZAOTable>(name, alias.empty() ? name : alias, nullptr,
                                         std::move(table));
  }

  static TVEZFields Columns(const std::vector<std::string>& names) {
    TVEZFields fields;
    for (const std::string& n : names) {
      TVEZSelectListItem item;
      const auto dot = n.find('.');
      if (dot != std::string::npos) {
        item.TableName = n.substr(0, dot);
        item.FieldName = n.substr(dot + 1);
      } else {
        item.FieldName = n;
      }
      fields.Append(item);
    }
    return fields;
  }

  // The result rows of an executed operator ("NULL" for a null value,
  // columns joined by '|'), sorted unless kept in order.
  static std::vector<std::string> ResultRows(TVEZAO& ao, bool sorted = true) {
    TVEZTable& t = *ao.ResultDataset();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (int i = 0; i < t.FieldCount(); ++i) {
        if (i > 0) row += "|";
        const platform::Field& f = t.Fields(i);
        row += f.IsNull() ? "NULL" : f.AsString();
      }
      rows.push_back(row);
    }
    if (sorted) std::sort(rows.begin(), rows.end());
    return rows;
  }

  static std::vector<std::string> ResultColumns(TVEZAO& ao) {
    TVEZTable& t = *ao.ResultDataset();
    std::vector<std::string> names;
    for (int i = 0; i < t.FieldCount(); ++i)
      names.push_back(t.Fields(i).FieldName());
    return names;
  }

  std::vector<std::string> memory_tables_;

  // Sets `*` as the select list and executes ao as the root.
  static void RunAll(TVEZAO& ao) {
    std::vector<TVEZSelectListItem> all;
    ao.SetResultFields(all, false);
    ao.Execute(true, nullptr, nullptr);
  }
};

}  // namespace vez::test
