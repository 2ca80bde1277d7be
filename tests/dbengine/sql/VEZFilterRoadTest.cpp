// The road of the application's filters: text through the registered SQL
// engine (the storage seam's factory, as the session layer reaches it) into
// the cursor's filter expression, and the storage engine's record filter on a
// memory table, the rows compared with a vector model.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ExprTestSupport.h"
#include "FilterTableTestSupport.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/sql/VEZSQLEngine.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "tests/common/NativeError.h"
#include "tests/common/VEZTestLocalCursor.h"
#include "tests/common/VEZTestSQLEngine.h"
#include "tests/dbengine/storage/TableTestSupport.h"

namespace vez {
namespace {

using test::NativeErrorOf;

struct TRunRow {
  std::int32_t id = 0;
  std::optional<std::int32_t> vessel, trial, run;
  std::optional<double> measurement;
  std::optional<std::string> name;
};

// The model's value of an ID column, NULL as nullopt.
std::optional<double> Column(const TRunRow& r, const std::string& form) {
  const std::string c = form.substr(0, form.find_first_of(" ="));
  if (c == "VesselID" || c == "vesselID") return r.vessel;
  if (c == "TrialID" || c == "trialID") return r.trial;
  if (c == "RunID") return r.run;
  if (c == "MeasurementID") return r.measurement;
  return r.id;
}

class FilterRoadTest : public test::FilterTableTest {
 protected:
  void SetUp() override {
    TVEZFieldDefs fields;
    test::AddField(fields, "ID", aftInteger);
    test::AddField(fields, "VesselID", aftInteger);
    test::AddField(fields, "TrialID", aftInteger);
    test::AddField(fields, "RunID", aftInteger);
    test::AddField(fields, "MeasurementID", aftDouble);
    test::AddField(fields, "Name", aftString, 20);
    TVEZIndexDefs indexes;
    CreateTable("Runs", fields, indexes);
    std::mt19937 rng(5111);
    auto maybe = [&](std::int32_t low, std::int32_t high) -> std::optional<std::int32_t> {
      if (rng() % 8 == 0) return std::nullopt;
      return low + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(high - low + 1));
    };
    const char* names[] = {"alpha", "beta", "abxc", "ab_c", "abc", "Alpha"};
    for (std::int32_t id = -1; id <= 200; ++id) {
      TRunRow r;
      r.id = id;
      r.vessel = maybe(-1, 5);
      r.trial = maybe(-1, 8);
      r.run = maybe(-1, 12);
      if (auto m = maybe(0, 24)) r.measurement = *m / 2.0;
      if (rng() % 7 != 0) r.name = names[rng() % 6];
      Insert(r);
      rows_.push_back(r);
    }
  }

  void Insert(const TRunRow& r) {
    NewRow();
    Set(0, std::optional<std::int32_t>(r.id));
    Set(1, r.vessel);
    Set(2, r.trial);
    Set(3, r.run);
    Set(4, r.measurement);
    Set(5, r.name);
    PostRow();
  }

  // The ids a filter text lets through, parsed as the session layer would:
  // a new expression from the registered factory.
  std::vector<std::int32_t> Shown(const std::string& text) {
    std::unique_ptr<TVEZBaseExpression> filter = ExpressionFactory()->CreateExpression();
    filter->ParseForFilter(&cursor_, text, false, false);
    const std::vector<std::int32_t> ids = test::WalkFiltered(cursor_, *filter);
    cursor_.FilterExpression = filter.get();
    EXPECT_EQ(cursor_.GetRecordCount(), static_cast<std::int64_t>(ids.size()));
    cursor_.FilterExpression = nullptr;
    cursor_.DisableRecordBitmap();
    return ids;
  }
  std::vector<std::int32_t> Model(const std::function<bool(const TRunRow&)>& keep) const {
    std::vector<std::int32_t> ids;
    for (const TRunRow& r : rows_)
      if (keep(r)) ids.push_back(r.id);
    return ids;
  }

  std::vector<TRunRow> rows_;
};

// Every filter form the application writes, with the numbers it writes
// (-1 for "none selected").
TEST_F(FilterRoadTest, ApplicationFilterForms) {
  const char* forms[] = {
      "VesselID=", "vesselID = ", "TrialID = ", "trialID = ", "RunID=", "MeasurementID=", "ID="};
  for (const char* form : forms) {
    for (std::int32_t n : {-1, 0, 1, 3, 7, 12, 150}) {
      const std::string text = form + std::to_string(n);
      SCOPED_TRACE(text);
      const std::vector<std::int32_t> expected = Model([&](const TRunRow& r) {
        const std::optional<double> v = Column(r, form);
        return v && *v == n;  // NULL never matches
      });
      EXPECT_EQ(Shown(text), expected);
    }
  }
}

TEST_F(FilterRoadTest, OtherFilters) {
  struct Row {
    const char* text;
    std::function<bool(const TRunRow&)> keep;
  };
  auto name_is = [](const TRunRow& r, auto pred) { return r.name && pred(*r.name); };
  const Row rows[] = {
      {"TrialID IN (1, 2) AND NOT VesselID = -1",
       [](const TRunRow& r) { return (r.trial == 1 || r.trial == 2) && r.vessel != -1; }},
      {"MeasurementID BETWEEN 2 AND 4.5",
       [](const TRunRow& r) {
         return r.measurement && *r.measurement >= 2 && *r.measurement <= 4.5;
       }},
      {"TrialID <> 3", [](const TRunRow& r) { return r.trial && *r.trial != 3; }},
      {"TrialID = NULL", [](const TRunRow& r) { return !r.trial; }},
      {"Name IS NULL OR RunID >= 10",
       [](const TRunRow& r) { return !r.name || (r.run && *r.run >= 10); }},
      // A column against a string constant orders NULL lowest: NULL names
      // pass <>.
      {"Name <> 'alpha'", [](const TRunRow& r) { return r.name != "alpha"; }},
      {"Name LIKE 'ab%'",
       [&](const TRunRow& r) {
         return name_is(r, [](const std::string& n) { return n.rfind("ab", 0) == 0; });
       }},
      // '_' is any one character, also when the pattern ends in '%'.
      {"Name LIKE 'ab_c%'",
       [&](const TRunRow& r) {
         return name_is(r, [](const std::string& n) {
           return n.size() >= 4 && n.compare(0, 2, "ab") == 0 && n[3] == 'c';
         });
       }},
      {"Name NOT LIKE 'a%'", [&](const TRunRow& r) { return !r.name || (*r.name)[0] != 'a'; }},
      {"VesselID * 2 - 1 > TrialID",
       [](const TRunRow& r) { return r.vessel && r.trial && *r.vessel * 2 - 1 > *r.trial; }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(Shown(row.text), Model(row.keep));
  }
}

// A filter the parser refuses changes nothing stored and leaves the cursor
// unfiltered.
TEST_F(FilterRoadTest, RefusedFilterLosesNothing) {
  for (const char* text : {"TrialID = 5 junk", "Nope = 1", "", "SUBSTRING(Name 1) = 'A'"}) {
    SCOPED_TRACE(text);
    std::unique_ptr<TVEZBaseExpression> filter = ExpressionFactory()->CreateExpression();
    EXPECT_NE(NativeErrorOf([&] { filter->ParseForFilter(&cursor_, text, false, false); }), 0);
    EXPECT_TRUE(filter->IsEmpty());
  }
  EXPECT_EQ(Shown("ID >= -1").size(), rows_.size());
}

TEST(SQLEngineRegistrationTest, RegisterIsIdempotentAndServesTheSeam) {
  RegisterExpressionFactory(nullptr);
  EXPECT_EQ(ExpressionFactory(), nullptr);
  RegisterSQLEngine();
  TVEZExpressionFactory* first = ExpressionFactory();
  ASSERT_NE(first, nullptr);
  RegisterSQLEngine();
  EXPECT_EQ(ExpressionFactory(), first);
  std::unique_ptr<TVEZBaseExpression> e = first->CreateExpression();
  EXPECT_NE(dynamic_cast<TVEZExpression*>(e.get()), nullptr);
  EXPECT_TRUE(e->IsEmpty());
  TVEZVariant now;
  now.SetAsAnsiString("NOW");
  EXPECT_TRUE(first->IsDefaultValueExpression(now));
  RegisterExpressionFactory(nullptr);
}

}  // namespace
}  // namespace vez
