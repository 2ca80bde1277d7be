// Stream forms of schema definitions: golden bytes of every def kind and of
// the three lists, round trips, a load of every truncation of each form
// (expecting the read number of the piece that is cut), and malformed input.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <string>

#include "StorageTestDoubles.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZConstraintDef.h"
#include "dbengine/storage/VEZFieldDef.h"
#include "dbengine/storage/VEZIndexDef.h"
#include "tests/common/AllocationCap.h"

namespace vez {
namespace {

using test::AllocationCap;
using test::Bytes;
using test::IsMemoryError;
using test::StreamBytes;
using test::StreamOf;

// An expected stream form as pieces, each with the native number its short
// read raises.
class Form {
 public:
  Form& U8(std::uint8_t v, std::int32_t err) { return Add({v}, err); }
  Form& I32(std::int32_t v, std::int32_t err) {
    return Add(LE(static_cast<std::uint64_t>(v), 4), err);
  }
  Form& I64(std::int64_t v, std::int32_t err) {
    return Add(LE(static_cast<std::uint64_t>(v), 8), err);
  }
  Form& Chars(const std::string& s, std::int32_t err) {
    return s.empty() ? *this : Add(Bytes(s.begin(), s.end()), err);
  }
  // A short string as it lies in memory: length byte, characters.
  Form& ShortImage(const std::string& s, std::int32_t err) {
    Bytes b{static_cast<std::uint8_t>(s.size())};
    b.insert(b.end(), s.begin(), s.end());
    return Add(b, err);
  }
  Form& Head(const std::string& name, std::int32_t id) {
    return U8(static_cast<std::uint8_t>(name.size()), 10166).Chars(name, 10167).I32(id, 10169);
  }
  Form& NullVariant(std::uint8_t type) { return U8(type, 10183).U8(0xFF, 10184); }
  Form& Int32Variant(std::int32_t v) {
    return U8(bftSignedInt32, 10183).U8(0, 10184).I32(4, 10185).I32(v, 10186);
  }
  Form& StringVariant(const std::string& s) {
    Bytes data(s.begin(), s.end());
    data.push_back(0);
    U8(bftVarchar, 10183).U8(0, 10184).I32(static_cast<std::int32_t>(data.size()), 10185);
    return Add(data, 10186);
  }
  Form& Append(const Form& other) {
    for (const auto& p : other.pieces_)
      pieces_.push_back(p);
    return *this;
  }

  Bytes All() const {
    Bytes out;
    for (const auto& p : pieces_)
      out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    return out;
  }
  // The read number of the piece that holds byte offset.
  std::int32_t ErrorAt(std::size_t offset) const {
    std::size_t start = 0;
    for (const auto& p : pieces_) {
      if (offset < start + p.bytes.size()) return p.error;
      start += p.bytes.size();
    }
    return -1;
  }

 private:
  struct Piece {
    Bytes bytes;
    std::int32_t error;
  };
  static Bytes LE(std::uint64_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i)
      b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
  }
  Form& Add(Bytes b, std::int32_t err) {
    pieces_.push_back({std::move(b), err});
    return *this;
  }
  std::vector<Piece> pieces_;
};

// ---- The defs of the table and their expected forms.

Form AutoincDefaults(Form f, bool cycled) {
  return f.I64(1, 30407)
      .I64(0, 30408)
      .I64(0, 30409)
      .I64(LLONG_MAX, 30410)
      .U8(cycled ? 1 : 0, 30411);
}

void FillVarcharField(TVEZFieldDef& d) {
  d.Name = "NAME";
  d.ObjectID = 3;
  d.SetFieldDefDataType(aftString, 20);
}
Form VarcharFieldForm() {
  Form f;
  f.Head("NAME", 3).U8(bftVarchar, 10187).U8(aftString, 10188).I32(20, 10189);
  return AutoincDefaults(f, false).NullVariant(bftUnknown);
}

void FillClobField(TVEZFieldDef& d) {
  d.Name = "MEMO";
  d.ObjectID = 4;
  d.SetFieldDefDataType(aftMemo, 0);
  d.BLOBCompressionAlgorithm = acaZLIB;
  d.BLOBCompressionMode = 6;
  d.BLOBBlockSize = 4096;
  d.AutoincCycled = true;
  d.DefaultValue.SetAsAnsiString("ab");
}
Form ClobFieldForm() {
  Form f;
  f.Head("MEMO", 4).U8(bftClob, 10187).U8(aftMemo, 10188).I32(0, 10189);
  f.U8(acaZLIB, 10192).U8(6, 10193).I32(4096, 10194);
  return AutoincDefaults(f, true).StringVariant("ab");
}

void FillIndex(TVEZIndexDef& d) {
  d.Name = "IDX";
  d.ObjectID = 9;
  d.Unique = true;
  d.RootPageNo = 12;
  d.AssignByNames({"A", "B"}, {"ASC", "DESC"}, {"NO_CASE", "CASE"});
  d.GetIndexColumn(1)->MaxIndexedSize = 8;
}
Form IndexForm() {
  Form f;
  f.Head("IDX", 9).U8(itBTree, 10349).U8(1, 10350).U8(0, 10351).I32(2, 10352).I32(12, 10353);
  f.U8(1, 10358).Chars("A", 10359).U8(0, 10360).U8(0xFF, 10361).I32(20, 20168);
  f.U8(1, 10358).Chars("B", 10359).U8(0xFF, 10360).U8(0, 10361).I32(8, 20168);
  return f;
}

void FillNotNull(TVEZConstraintDefNotNull& d) {
  d.Name = "NN";
  d.ObjectID = 11;
  d.TableObjectID = 5;
  d.ColumnObjectID = 6;
  d.TableName = "T";
  d.ColumnName = "A";
}
Form NotNullForm() {
  Form f;
  f.Head("NN", 11).I32(0, 10249).I32(5, 10250).I32(6, 10251);
  f.U8(1, 10252).ShortImage("", 10253).U8(2, 10254).ShortImage("T", 10255);
  return f.U8(2, 10256).ShortImage("A", 10257);
}

void FillCheck(TVEZConstraintDefCheck& d) {
  d.Name = "CK";
  d.ObjectID = 12;
  d.TableSchemaObjectID = 1;
  d.TableObjectID = 5;
  d.ColumnObjectID = 7;
  d.TableSchemaName = "S";
  d.TableName = "T";
  d.ColumnName = "B";
  d.MinValue.SetAsInteger(1);
  d.MaxValue.SetNull(bftSignedInt32);
}
Form CheckForm() {
  Form f;
  f.Head("CK", 12).I32(1, 10230).I32(5, 10231).I32(7, 10232);
  f.U8(2, 10233).ShortImage("S", 10234).U8(2, 10235).ShortImage("T", 10236);
  f.U8(2, 10237).ShortImage("B", 10238);
  return f.Int32Variant(1).NullVariant(bftSignedInt32);
}

void FillUnique(TVEZConstraintDefUnique& d, const std::string& name) {
  d.Name = name;
  d.ObjectID = 13;
  d.TableSchemaObjectID = 1;
  d.TableObjectID = 5;
  d.IndexObjectID = 9;
  d.TableSchemaName = "S";
  d.TableName = "T";
  d.IndexName = "IDX";
  d.Columns = {{"A", 21}, {"B", 22}};
}
Form UniqueForm(const std::string& name) {
  Form f;
  f.Head(name, 13).I32(1, 30303).I32(5, 30304).I32(9, 30317);
  f.I32(2, 30305).ShortImage("S", 30306).I32(2, 30307).ShortImage("T", 30308);
  f.I32(4, 30321).ShortImage("IDX", 30322).I32(2, 30309);
  f.I32(21, 30310).I32(2, 30311).ShortImage("A", 30312);
  return f.I32(22, 30310).I32(2, 30311).ShortImage("B", 30312);
}

// One row: how to make and save the object, how to load a fresh one (and save
// it again), and the expected form.
struct FormCase {
  std::string name;
  std::function<void(TVEZStream&)> save;
  std::function<void(TVEZStream&, TVEZStream*)> load;  // load, then save into the second
  Form form;
};

template <typename Obj>
std::function<void(TVEZStream&, TVEZStream*)> Loader() {
  return [](TVEZStream& in, TVEZStream* out) {
    Obj obj;
    obj.LoadFromStream(in);
    if (out) obj.SaveToStream(*out);
  };
}

std::vector<FormCase> Cases() {
  std::vector<FormCase> cases;
  cases.push_back({"varchar field",
                   [](TVEZStream& s) {
                     TVEZFieldDef d;
                     FillVarcharField(d);
                     d.SaveToStream(s);
                   },
                   Loader<TVEZFieldDef>(), VarcharFieldForm()});
  cases.push_back({"clob field",
                   [](TVEZStream& s) {
                     TVEZFieldDef d;
                     FillClobField(d);
                     d.SaveToStream(s);
                   },
                   Loader<TVEZFieldDef>(), ClobFieldForm()});
  cases.push_back({"index",
                   [](TVEZStream& s) {
                     TVEZIndexDef d;
                     FillIndex(d);
                     d.SaveToStream(s);
                   },
                   Loader<TVEZIndexDef>(), IndexForm()});
  cases.push_back({"not null",
                   [](TVEZStream& s) {
                     TVEZConstraintDefNotNull d;
                     FillNotNull(d);
                     d.SaveToStream(s);
                   },
                   Loader<TVEZConstraintDefNotNull>(), NotNullForm()});
  cases.push_back({"check",
                   [](TVEZStream& s) {
                     TVEZConstraintDefCheck d;
                     FillCheck(d);
                     d.SaveToStream(s);
                   },
                   Loader<TVEZConstraintDefCheck>(), CheckForm()});
  cases.push_back({"unique",
                   [](TVEZStream& s) {
                     TVEZConstraintDefUnique d;
                     FillUnique(d, "UQ");
                     d.SaveToStream(s);
                   },
                   Loader<TVEZConstraintDefUnique>(), UniqueForm("UQ")});
  cases.push_back({"primary",
                   [](TVEZStream& s) {
                     TVEZConstraintDefPrimary d;
                     FillUnique(d, "PK");
                     d.SaveToStream(s);
                   },
                   Loader<TVEZConstraintDefPrimary>(), UniqueForm("PK")});
  cases.push_back({"empty field list", [](TVEZStream& s) { TVEZFieldDefs().SaveToStream(s); },
                   Loader<TVEZFieldDefs>(), Form().I32(0, 10159)});
  cases.push_back({"field list",
                   [](TVEZStream& s) {
                     TVEZFieldDefs list;
                     FillVarcharField(*list.AddCreated());
                     FillClobField(*list.AddCreated());
                     list.SaveToStream(s);
                   },
                   Loader<TVEZFieldDefs>(),
                   Form().I32(2, 10159).Append(VarcharFieldForm()).Append(ClobFieldForm())});
  cases.push_back({"index list without its temporary index",
                   [](TVEZStream& s) {
                     TVEZIndexDefs list;
                     TVEZIndexDef* temp = list.AddCreated();
                     temp->Name = "TMP";
                     temp->Temporary = true;
                     FillIndex(*list.AddCreated());
                     list.SaveToStream(s);
                   },
                   Loader<TVEZIndexDefs>(), Form().I32(1, 10159).Append(IndexForm())});
  cases.push_back({"constraint list",
                   [](TVEZStream& s) {
                     TVEZConstraintDefs list;
                     FillNotNull(*list.AddNotNull());
                     FillCheck(*list.AddCheck());
                     FillUnique(*list.AddUnique(), "UQ");
                     FillUnique(*list.AddPK(), "PK");
                     list.SaveToStream(s);
                   },
                   Loader<TVEZConstraintDefs>(),
                   Form()
                       .I32(4, 10159)
                       .U8(ctNotNull, 10220)
                       .Append(NotNullForm())
                       .U8(ctCheck, 10220)
                       .Append(CheckForm())
                       .U8(ctUnique, 10220)
                       .Append(UniqueForm("UQ"))
                       .U8(ctPK, 10220)
                       .Append(UniqueForm("PK"))});
  return cases;
}

TEST(VEZDefStreamForm, GoldenBytesAndRoundTrip) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.name);
    TVEZMemoryStream saved;
    c.save(saved);
    const Bytes expected = c.form.All();
    ASSERT_EQ(StreamBytes(saved), expected);

    auto in = StreamOf(expected);
    TVEZMemoryStream again;
    c.load(*in, &again);
    EXPECT_EQ(in->Position(), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(StreamBytes(again), expected);
  }
}

TEST(VEZDefStreamForm, EveryTruncationRaisesThePieceReadError) {
  for (const auto& c : Cases()) {
    const Bytes full = c.form.All();
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
      SCOPED_TRACE(c.name + " cut at " + std::to_string(cut));
      auto in = StreamOf(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
      try {
        c.load(*in, nullptr);
        ADD_FAILURE() << "no error";
      } catch (const EVEZException& e) {
        EXPECT_EQ(e.NativeError(), c.form.ErrorAt(cut)) << e.Message();
      }
    }
  }
}

// Stored definitions may be damaged: random bytes of every form are changed
// (often a count or a size), and the form is cut short. Each load either
// works, and what it read saves and loads back the same, or raises the
// engine's error; never another exception, a crash or a sanitizer report.
TEST(VEZDefStreamForm, DamagedFormsLoadOrRaiseTheEngineError) {
  std::mt19937 rng(1211);
  AllocationCap cap;
  int loaded = 0, refused = 0;
  for (const auto& c : Cases()) {
    const Bytes full = c.form.All();
    for (int round = 0; round < 500; ++round) {
      SCOPED_TRACE(c.name + " round " + std::to_string(round));
      Bytes b = full;
      const int n = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < n; ++i) {
        const std::size_t at = rng() % b.size();
        // Extreme bytes make extreme counts and sizes more often than chance.
        static const std::uint8_t extremes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01};
        b[at] =
            rng() % 2 ? static_cast<std::uint8_t>(rng()) : extremes[rng() % std::size(extremes)];
      }
      if (rng() % 4 == 0) b.resize(rng() % b.size());
      auto in = StreamOf(b);
      TVEZMemoryStream again;
      try {
        c.load(*in, &again);
      } catch (const EVEZException& e) {
        EXPECT_FALSE(IsMemoryError(e)) << e.Message();
        ++refused;
        continue;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not the engine's error: " << e.what();
        continue;
      }
      ++loaded;
      // What was read is whole: it saves, and the saved form loads the same.
      const Bytes saved = StreamBytes(again);
      auto in2 = StreamOf(saved);
      TVEZMemoryStream third;
      EXPECT_NO_THROW(c.load(*in2, &third));
      EXPECT_EQ(StreamBytes(third), saved);
    }
  }
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
}

TEST(VEZDefStreamForm, FailedLoadsKeepWhatWasReadBefore) {
  // The second field def is cut: it is not appended, the first stays.
  Bytes fields = Form().I32(2, 0).Append(VarcharFieldForm()).Append(ClobFieldForm()).All();
  fields.resize(fields.size() - 3);
  TVEZFieldDefs field_list;
  auto in = StreamOf(fields);
  EXPECT_THROW(field_list.LoadFromStream(*in), EVEZException);
  EXPECT_EQ(field_list.Count(), 1);
  EXPECT_EQ(field_list.LoadedItemCount(), 2);

  // A constraint def is in the list while it loads, so a cut one stays.
  Bytes constraints = Form()
                          .I32(2, 0)
                          .U8(ctNotNull, 0)
                          .Append(NotNullForm())
                          .U8(ctCheck, 0)
                          .Append(CheckForm())
                          .All();
  constraints.resize(constraints.size() - 3);
  TVEZConstraintDefs constraint_list;
  auto in2 = StreamOf(constraints);
  EXPECT_THROW(constraint_list.LoadFromStream(*in2), EVEZException);
  ASSERT_EQ(constraint_list.Count(), 2);
  EXPECT_EQ(constraint_list.GetDef(1)->ConstraintType, ctCheck);
}

struct BadInputCase {
  std::string name;
  Bytes bytes;
  std::function<void(TVEZStream&)> load;
  std::int32_t error;
};

TEST(VEZDefStreamForm, MalformedInputIsRefused) {
  auto field = [](TVEZStream& s) { TVEZFieldDef().LoadFromStream(s); };
  auto index = [](TVEZStream& s) { TVEZIndexDef().LoadFromStream(s); };
  auto not_null = [](TVEZStream& s) { TVEZConstraintDefNotNull().LoadFromStream(s); };
  auto unique = [](TVEZStream& s) { TVEZConstraintDefUnique().LoadFromStream(s); };
  auto fields = [](TVEZStream& s) { TVEZFieldDefs().LoadFromStream(s); };
  auto constraints = [](TVEZStream& s) { TVEZConstraintDefs().LoadFromStream(s); };
  auto head = Form().Head("X", 1);
  std::vector<BadInputCase> cases = {
      {"field type past the last", Form(head).U8(26, 0).All(), field, 10187},
      {"advanced type past the last", Form(head).U8(bftVarchar, 0).U8(37, 0).All(), field, 10188},
      {"negative field size", Form(head).U8(bftVarchar, 0).U8(aftString, 0).I32(-5, 0).All(), field,
       10189},
      {"field size past any record",
       Form(head)
           .U8(bftWideVarchar, 0)
           .U8(aftWideString, 0)
           .I32(INT_MAX - 1, 0)
           .I64(1, 0)
           .I64(0, 0)
           .I64(0, 0)
           .I64(0, 0)
           .U8(0, 0)
           .U8(0, 0)
           .U8(0xFF, 0)
           .All(),
       field, 10189},
      {"unknown compression", Form(head).U8(bftBlob, 0).U8(aftBlob, 0).I32(0, 0).U8(4, 0).All(),
       field, 10192},
      {"BLOB block size 0",
       Form(head).U8(bftBlob, 0).U8(aftBlob, 0).I32(0, 0).U8(0, 0).U8(0, 0).I32(0, 0).All(), field,
       10194},
      {"index type past the last", Form(head).U8(2, 0).All(), index, 10349},
      {"negative column count", Form(head).U8(0, 0).U8(0, 0).U8(0, 0).I32(-1, 0).All(), index,
       10352},
      {"column count the data cannot hold",
       Form(head).U8(0, 0).U8(0, 0).U8(0, 0).I32(INT_MAX, 0).I32(3, 0).All(), index, 10358},
      {"negative indexed size",
       Form(head)
           .U8(0, 0)
           .U8(0, 0)
           .U8(0, 0)
           .I32(1, 0)
           .I32(3, 0)
           .U8(0, 0)
           .U8(0, 0)
           .U8(0, 0)
           .I32(-1, 0)
           .All(),
       index, 20168},
      {"name size 0", Form(head).I32(0, 0).I32(0, 0).I32(0, 0).U8(0, 0).All(), not_null, 10252},
      {"inner length past the size",
       Form(head).I32(0, 0).I32(0, 0).I32(0, 0).U8(2, 0).U8(5, 0).U8('x', 0).All(), not_null,
       10253},
      {"unique name size 257", Form(head).I32(0, 0).I32(0, 0).I32(0, 0).I32(257, 0).All(), unique,
       30305},
      {"unique name size -1", Form(head).I32(0, 0).I32(0, 0).I32(0, 0).I32(-1, 0).All(), unique,
       30305},
      {"negative unique column count",
       Form(head)
           .I32(0, 0)
           .I32(0, 0)
           .I32(0, 0)
           .I32(1, 0)
           .ShortImage("", 0)
           .I32(1, 0)
           .ShortImage("", 0)
           .I32(1, 0)
           .ShortImage("", 0)
           .I32(-3, 0)
           .All(),
       unique, 30309},
      {"negative list count", Form().I32(-1, 0).All(), fields, 10159},
      {"list count the data cannot hold", Form().I32(INT_MAX, 0).All(), fields, 10166},
      {"constraint type FK", Form().I32(1, 0).U8(ctFK, 0).All(), constraints, 30316},
      {"constraint type 9", Form().I32(1, 0).U8(9, 0).All(), constraints, 30316},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto in = StreamOf(c.bytes);
    try {
      c.load(*in);
      ADD_FAILURE() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), c.error) << e.Message();
    }
  }
}

TEST(VEZDefStreamForm, NamesLongerThanTheFormHoldsAreRefusedBeforeWriting) {
  struct Row {
    std::string name;
    std::function<void(TVEZStream&)> save;
    std::int32_t error;
  };
  const std::string n254(254, 'x'), n255(255, 'x'), n256(256, 'x');
  std::vector<Row> rows = {
      {"def name 256",
       [&](TVEZStream& s) {
         TVEZFieldDef d;
         d.Name = n256;
         d.SaveToStream(s);
       },
       10164},
      {"not null table 255",
       [&](TVEZStream& s) {
         TVEZConstraintDefNotNull d;
         d.TableName = n255;
         d.SaveToStream(s);
       },
       10245},
      {"not null schema 255",
       [&](TVEZStream& s) {
         TVEZConstraintDefNotNull d;
         d.TableSchemaName = n255;
         d.SaveToStream(s);
       },
       10243},
      {"check column 255",
       [&](TVEZStream& s) {
         TVEZConstraintDefCheck d;
         d.ColumnName = n255;
         d.SaveToStream(s);
       },
       10225},
      {"unique index name 256",
       [&](TVEZStream& s) {
         TVEZConstraintDefUnique d;
         d.IndexName = n256;
         d.SaveToStream(s);
       },
       30323},
      {"unique column 256",
       [&](TVEZStream& s) {
         TVEZConstraintDefUnique d;
         d.Columns = {{n256, 1}};
         d.SaveToStream(s);
       },
       30321},
      {"index column 256",
       [&](TVEZStream& s) {
         TVEZIndexDef d;
         d.SetColumnCount(1);
         d.GetIndexColumn(0)->FieldName = n256;
         d.SaveToStream(s);
       },
       10354},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TVEZMemoryStream s;
    try {
      r.save(s);
      ADD_FAILURE() << "no error";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), r.error);
    }
    EXPECT_EQ(s.Size(), 0);
  }

  // The longest names each form holds round-trip.
  TVEZConstraintDefNotNull d;
  d.TableName = n254;
  d.ColumnName = n254;
  TVEZMemoryStream s;
  d.SaveToStream(s);
  const Bytes bytes = StreamBytes(s);
  // Head (empty name, id) 5 bytes, three ids 12 bytes, then the names.
  EXPECT_EQ(bytes[17], 1);    // L of the empty schema name
  EXPECT_EQ(bytes[19], 255);  // L of the 254-character table name
  s.SetPosition(0);
  TVEZConstraintDefNotNull back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.TableName, n254);
  EXPECT_EQ(back.ColumnName, n254);

  TVEZConstraintDefUnique u;
  u.TableName = n255;
  TVEZMemoryStream us;
  u.SaveToStream(us);
  us.SetPosition(0);
  TVEZConstraintDefUnique uback;
  uback.LoadFromStream(us);
  EXPECT_EQ(uback.TableName, n255);
}

TEST(VEZDefStreamForm, LoadingKeepsUnstoredFields) {
  TVEZIndexDef source;
  FillIndex(source);
  TVEZMemoryStream s;
  source.SaveToStream(s);
  s.SetPosition(0);

  TVEZIndexDef d;
  d.SchemaName = "keep";
  d.SchemaID = 77;
  d.Temporary = true;
  d.SessionID = 4;
  d.TableState = 9;
  d.NeedRebuild = true;
  d.LoadFromStream(s);
  EXPECT_EQ(d.SchemaName, "keep");
  EXPECT_EQ(d.SchemaID, 77);
  EXPECT_FALSE(d.Temporary);
  EXPECT_EQ(d.SessionID, 4);
  EXPECT_EQ(d.TableState, 9);
  EXPECT_TRUE(d.NeedRebuild);
  EXPECT_EQ(d.ColumnCount(), 2);
}

}  // namespace
}  // namespace vez
