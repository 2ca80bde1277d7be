// A program above the storage engine finds the process's memory and temporary
// databases by name in the list alone. This file names neither engine class on
// purpose: the engines are linked and listed only because the list's first use
// reaches their registration, as it will in the session layer and in the
// application.
#include <gtest/gtest.h>

#include <string>

#include "dbengine/storage/VEZDatabaseData.h"
#include "dbengine/storage/VEZDatabaseDataList.h"

namespace vez {
namespace {

TEST(ProcessDatabasesTest, MemoryAndTempAreListedWithoutAnyoneNamingThem) {
  for (const std::string name : {"MEMORY", "TEMP"}) {
    SCOPED_TRACE(name);
    TVEZDatabaseData* found =
        DatabaseDataList().Find([&](TVEZDatabaseData* d) { return d->DatabaseName() == name; });
    ASSERT_NE(found, nullptr);
    // Neither has a page manager of the database's own; ids start afresh.
    EXPECT_EQ(found->PageManager(), nullptr);
    EXPECT_GT(found->GetNewObjectId(), 0);
  }
}

}  // namespace
}  // namespace vez
