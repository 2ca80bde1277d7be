// A table opened through a second session on its own multi-user database
// handle, as another program on the same file would open it.
#pragma once

#include <memory>
#include <string>

#include "dbengine/api/VEZDatabase.h"
#include "dbengine/api/VEZSession.h"
#include "dbengine/api/VEZTable.h"
#include "tests/dbengine/api/SessionTestSupport.h"

namespace vez::test {

struct OtherSessionTable {
  OtherSessionTable(const std::string& file, const std::string& table_name) {
    session.SetSessionName("Two");
    database = MakeDatabase("Other", file, &session);
    database->SetMultiUser(true);
    database->Open();
    table.SetSessionName("Two");
    table.SetDatabaseName("Other");
    table.SetTableName(table_name);
    table.Open();
  }

  // Members go in reverse: the table before its database before the session.
  TVEZSession session;
  std::unique_ptr<TVEZDatabase> database;
  TVEZTable table;
};

}  // namespace vez::test
