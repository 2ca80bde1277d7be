// The table component's SQL script export. The script is the engine's own
// dialect: DROP/CREATE TABLE for the structure and one INSERT per record.
#include "dbengine/api/VEZTableExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDefConverters.h"
#include "dbengine/api/VEZTable.h"
#include "dbengine/foundation/VEZAssignFieldValue.h"
#include "dbengine/foundation/VEZBase64.h"
#include "dbengine/foundation/VEZFileStream.h"
#include "dbengine/foundation/VEZReservedWords.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "platform/core/Collation.h"
#include "platform/core/DateTime.h"
#include "platform/core/Exceptions.h"
#include "platform/dataset/Field.h"

namespace vez {

void TVEZExportToSqlOptions::Assign(const TVEZExportToSqlOptions& source) {
  FStructure = source.FStructure;
  FAddDropTable = source.FAddDropTable;
  FBlobSettings = source.FBlobSettings;
  FData = source.FData;
  FFieldNamesInInserts = source.FFieldNamesInInserts;
}

namespace {

constexpr std::string_view kCRLF = "\r\n";

std::string QuotedString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

// A name the lexer would split, read as a number or a parameter, or take for
// a keyword goes in quotes, or the script would not read back. Letters beyond
// ASCII are word characters to the lexer.
std::string SqlName(std::string_view name) {
  const auto word_char = [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || u == '_' || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') ||
           (u >= 'a' && u <= 'z');
  };
  const bool needs_quotes = name.empty() || (name.front() >= '0' && name.front() <= '9') ||
                            !std::all_of(name.begin(), name.end(), word_char) ||
                            FindReservedWord(name) >= 0;
  return needs_quotes ? QuotedString(name) : std::string(name);
}

// Shortest text that reads back to the same value, independent of the
// process's number format.
template <typename T>
std::string ShortestNumber(T value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

bool IsStringAdvType(TVEZAdvancedFieldType type) {
  return (type >= aftChar && type <= aftWideString) || type == aftGuid || type == aftMemo;
}

bool IsSizedAdvType(TVEZAdvancedFieldType type) {
  return (type >= aftChar && type <= aftWideString) || type == aftBytes || type == aftVarBytes;
}

bool IsBlobAdvType(TVEZAdvancedFieldType type) {
  return type >= aftBlob && type <= aftWideMemo;
}

// A stored text default is either a literal, a function of the moment a
// record is inserted (kept as its upper-case name), or one double-quoted
// string (what CREATE TABLE stores for a quoted default). The latter two are
// written as CREATE TABLE reads them, so the default means the same again.
std::string StringConstantText(const std::string& text) {
  static constexpr std::string_view kMomentFunctions[] = {
      "NOW", "CURRENT_TIMESTAMP", "CURRENT_TIME", "CURRENT_DATE", "SYSDATE"};
  const std::string upper = platform::AnsiUpperCase(text);
  for (std::string_view name : kMomentFunctions)
    if (upper == name) return upper;
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    std::string inner;
    bool one_string = true;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] == '"') {
        if (i + 2 < text.size() && text[i + 1] == '"') {
          ++i;
        } else {
          one_string = false;
          break;
        }
      }
      inner += text[i];
    }
    if (one_string) return QuotedString(inner);
  }
  return QuotedString(text);
}

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.*d", width, value);
  return buffer;
}

std::string DateText(double value) {
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(value, year, month, day);
  return Digits(year, 4) + "-" + Digits(month, 2) + "-" + Digits(day, 2);
}

std::string TimeText(double value) {
  int hour = 0, minute = 0, second = 0, msec = 0;
  platform::DecodeTime(value, hour, minute, second, msec);
  return Digits(hour, 2) + ":" + Digits(minute, 2) + ":" + Digits(second, 2);
}

// A column default as a literal. Dates and times go through ToDate with an
// explicit template, so they read back as the same value whatever the
// process's date format, and not as arithmetic (2026-03-07).
std::string DefaultText(const TVEZVariant& value) {
  switch (value.GetDataType()) {
    case bftSingle:
      return ShortestNumber(static_cast<float>(value.GetAsDouble()));
    case bftDouble:
    case bftCurrency:
      return ShortestNumber(value.GetAsDouble());
    case bftExtended:
      return ShortestNumber(value.GetAsExtended());
    case bftDate:
      return "ToDate('" + DateText(value.GetAsTDate()) + "','YYYY-MM-DD')";
    case bftTime:
      return "ToDate('" + TimeText(value.GetAsTTime()) + "','HH24:NN:SS')";
    case bftDateTime:
      return "ToDate('" + DateText(value.GetAsTDateTime()) + " " +
             TimeText(value.GetAsTDateTime()) + "','YYYY-MM-DD HH24:NN:SS')";
    case bftLogical:
      return value.GetAsBoolean() ? "True" : "False";
    default:
      break;
  }
  if (value.IsNumericDataType()) return value.GetAsAnsiString();
  return StringConstantText(value.GetAsAnsiString());
}

// CREATE TABLE reads a bound as a whole number only, so a bound is written
// when a whole number gives it back exactly (an integer, 300.0, the text
// "42"); a fractional, date or other text bound has no such form and is left
// out rather than writing a script that does not run.
std::optional<std::string> BoundText(const TVEZVariant& bound) {
  std::int64_t n = 0;
  try {
    if (bound.IsStringDataType() || bound.IsWideStringDataType()) {
      const std::string text = bound.GetAsAnsiString();
      const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    } else if (bound.IsNumericDataType()) {
      const TVEZBaseFieldType type = bound.GetDataType();
      if (type == bftSingle || type == bftDouble || type == bftExtended || type == bftCurrency) {
        const double d = bound.GetAsDouble();
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9.2233720368547758e18 ||
            d >= 9.2233720368547758e18)
          return std::nullopt;
        n = static_cast<std::int64_t>(d);
      } else {
        n = bound.GetAsInt64();
      }
    } else {
      return std::nullopt;
    }
    TVEZVariant back(bftSignedInt64);
    back.SetAsInt64(n);
    back.Cast(bound.GetDataType());
    if (back.Compare(bound, false, false, false) != cmprEqual) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return ShortestNumber(n);
}

const char* CompressionName(TCompressionAlgorithm algorithm) {
  switch (algorithm) {
    case TCompressionAlgorithm::caZLIB:
      return "ZLIB";
    case TCompressionAlgorithm::caBZIP:
      return "BZIP";
    case TCompressionAlgorithm::caPPM:
      return "PPM";
    case TCompressionAlgorithm::caNone:
      break;
  }
  return "NONE";
}

bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
  const std::string upper = platform::AnsiUpperCase(name);
  for (const std::string& n : names)
    if (platform::AnsiUpperCase(n) == upper) return true;
  return false;
}

std::string ColumnLine(const TVEZAdvFieldDef& def, bool blob_settings) {
  std::string line = "  " + SqlName(def.Name);
  if (def.DataType == aftString)
    line += " VARCHAR";
  else
    line += " " + AdvancedTypeToSQLTypeName(def.DataType);
  if (IsSizedAdvType(def.DataType)) line += "(" + std::to_string(def.Size) + ")";
  if (blob_settings && IsBlobAdvType(def.DataType)) {
    line += " BLOBBlockSize " + std::to_string(def.BLOBBlockSize);
    line += " BLOBCompressionAlgorithm ";
    line += CompressionName(def.BLOBCompressionAlgorithm);
    line += " BLOBCompressionMode " + std::to_string(def.BLOBCompressionMode);
  }
  if (!def.DefaultValue.GetIsNull()) line += " DEFAULT " + DefaultText(def.DefaultValue);
  if (def.Required) line += " NOT NULL";
  if (!def.MinValue.GetIsNull())
    if (const auto text = BoundText(def.MinValue)) line += " MINVALUE " + *text;
  if (!def.MaxValue.GetIsNull())
    if (const auto text = BoundText(def.MaxValue)) line += " MAXVALUE " + *text;
  return line;
}

std::string IndexLine(const TVEZAdvIndexDef& def) {
  std::string line;
  if (def.Options & platform::ixPrimary)
    line = "  PRIMARY KEY";
  else if (def.Options & platform::ixUnique)
    line = "  UNIQUE INDEX";
  else
    line = "  INDEX";
  if (!def.Name.empty()) line += " " + SqlName(def.Name);
  std::vector<std::string> columns, desc, case_ins;
  SplitFieldNames(&columns, def.Fields);
  SplitFieldNames(&desc, def.DescFields);
  SplitFieldNames(&case_ins, def.CaseInsFields);
  line += " (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) line += ", ";
    line += SqlName(columns[i]);
    if (ContainsName(desc, columns[i])) line += " DESC";
    if (ContainsName(case_ins, columns[i])) line += " NOCASE";
  }
  line += ")";
  return line;
}

std::string BinaryLiteral(std::string_view bytes) {
  return "MimeToBin('" + Base64Encode(bytes) + "')";
}

// One record's value of a column as a literal.
std::string ValueText(const platform::Field& field, TVEZAdvancedFieldType type) {
  if (field.IsNull()) return "NULL";
  if (IsStringAdvType(type)) return QuotedString(field.AsString());
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  switch (type) {
    case aftSingle:
      return ShortestNumber(static_cast<float>(field.AsFloat()));
    case aftDouble:
    case aftExtended:
    case aftCurrency:
      return ShortestNumber(field.AsFloat());
    case aftDate:
      platform::DecodeDate(field.AsDateTime(), year, month, day);
      return "'" + Digits(year, 4) + "-" + Digits(month, 2) + "-" + Digits(day, 2) + "'";
    case aftTime:
      platform::DecodeTime(field.AsDateTime(), hour, minute, second, msec);
      return "ToDate('" + Digits(hour, 2) + ":" + Digits(minute, 2) + ":" + Digits(second, 2) +
             "','HH24:NN:SS')";
    case aftDateTime:
    case aftTimeStamp:
      platform::DecodeDateTime(field.AsDateTime(), year, month, day, hour, minute, second, msec);
      return "'" + Digits(year, 4) + "-" + Digits(month, 2) + "-" + Digits(day, 2) + " " +
             Digits(hour, 2) + ":" + Digits(minute, 2) + ":" + Digits(second, 2) + "'";
    case aftBoolean:
      return field.AsBoolean() ? "True" : "False";
    case aftBytes:
    case aftVarBytes: {
      std::string bytes;
      if (const auto* b = dynamic_cast<const platform::BytesField*>(&field)) b->GetValue(bytes);
      return BinaryLiteral(bytes);
    }
    default:
      break;
  }
  if (IsBlobAdvType(type)) {
    // The stored bytes as they are (a wide memo's UTF-16 too), not the
    // field's converted text.
    const auto* blob = dynamic_cast<const platform::BlobField*>(&field);
    return BinaryLiteral(blob != nullptr ? blob->BlobField::AsString() : field.AsString());
  }
  return std::to_string(field.AsLargeInt());
}

// Collects the script and hands it on in pieces.
class ScriptWriter {
 public:
  explicit ScriptWriter(std::function<void(std::string_view)> sink) : FSink(std::move(sink)) {}
  void Write(std::string_view text) {
    FBuffer += text;
    if (FBuffer.size() >= kFlushSize) Flush();
  }
  void Flush() {
    if (!FBuffer.empty()) FSink(FBuffer);
    FBuffer.clear();
  }

 private:
  static constexpr std::size_t kFlushSize = 1 << 16;
  std::function<void(std::string_view)> FSink;
  std::string FBuffer;
};

}  // namespace

void TVEZTable::WriteSQLScript(const std::function<void(std::string_view)>& sink) {
  CheckInactive();
  Open();
  try {
    ScriptWriter out(sink);
    const TVEZExportToSqlOptions& options = FExportToSqlOptions;
    const std::string table_name = SqlName(TableName());
    if (options.Structure()) {
      if (options.AddDropTable()) {
        out.Write("DROP TABLE " + table_name + ";");
        out.Write(kCRLF);
      }
      out.Write("CREATE TABLE " + table_name + " (");
      out.Write(kCRLF);
      for (std::int32_t i = 0; i < AdvFieldDefs().Count(); ++i) {
        if (i > 0) {
          out.Write(",");
          out.Write(kCRLF);
        }
        out.Write(ColumnLine(*AdvFieldDefs().GetDef(i), options.BlobSettings()));
      }
      for (std::int32_t i = 0; i < AdvIndexDefs().Count(); ++i) {
        out.Write(", ");
        out.Write(kCRLF);
        out.Write(IndexLine(*AdvIndexDefs().GetDef(i)));
      }
      out.Write(kCRLF);
      out.Write(");");
      out.Write(kCRLF);
    }
    if (options.Data()) {
      std::string prefix = "INSERT INTO " + table_name + " ";
      if (options.FieldNamesInInserts()) {
        prefix += "(";
        for (std::int32_t i = 0; i < AdvFieldDefs().Count(); ++i) {
          if (i > 0) prefix += ", ";
          prefix += SqlName(AdvFieldDefs().GetDef(i)->Name);
        }
        prefix += ") ";
      }
      prefix += "values (";
      std::vector<std::pair<platform::Field*, TVEZAdvancedFieldType>> columns;
      for (std::int32_t i = 0; i < AdvFieldDefs().Count(); ++i) {
        const TVEZAdvFieldDef& def = *AdvFieldDefs().GetDef(i);
        columns.emplace_back(&FieldByName(def.Name), def.DataType);
      }
      First();
      while (!Eof()) {
        out.Write(prefix);
        for (std::size_t i = 0; i < columns.size(); ++i) {
          if (i > 0) out.Write(", ");
          out.Write(ValueText(*columns[i].first, columns[i].second));
        }
        out.Write(");");
        out.Write(kCRLF);
        Next();
      }
    }
    out.Write(kCRLF);
    out.Flush();
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TVEZTable::ExportToSQL(platform::Stream& stream) {
  WriteSQLScript([&stream](std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const std::size_t chunk = std::min<std::size_t>(text.size() - done, 1 << 20);
      const std::int32_t count = static_cast<std::int32_t>(chunk);
      if (stream.Write(text.data() + done, count) != count)
        throw platform::EWriteError("Stream write error");
      done += chunk;
    }
  });
}

void TVEZTable::ExportToSQL(const std::string& file_name) {
  TVEZFileStream file(file_name, TVEZFileStream::kModeCreate, false);
  ExportToSQL(file);
}

std::string TVEZTable::ExportToSQL() {
  std::string script;
  WriteSQLScript([&script](std::string_view text) { script += text; });
  return script;
}

// ---- batch move

namespace {

int PercentOf(std::int64_t done, std::int64_t total) {
  // The synchronize pass may look at one record twice when it deletes the
  // last one, so done can pass total.
  if (total <= 0 || done >= total) return 100;
  return static_cast<int>(std::lround(static_cast<double>(done) * 100.0 / total));
}

// Fills the key being edited in `keyed` from the fields of the same names in
// `values`; a column `values` does not have stays empty.
void FillKey(TVEZTable& keyed, const platform::DataSet& values) {
  for (int i = 0; i < keyed.IndexFieldCount(); ++i) {
    platform::Field& key_field = keyed.GetIndexField(i);
    if (const platform::Field* value = values.FindField(key_field.FieldName()))
      AssignFieldValue(*value, key_field);
  }
}

}  // namespace

void TVEZTable::CopyBatchMoveRecord(platform::DataSet& source) {
  for (int i = 0; i < source.FieldCount(); ++i) {
    const platform::Field& field = source.Fields(i);
    if (!FieldDefExists(FieldDefs(), field.FieldName())) continue;
    if (platform::Field* dest = FindField(field.FieldName())) AssignFieldValue(field, *dest);
  }
}

void TVEZTable::BatchMove(TVEZDataSet& source, TVEZBatchMoveType move_type,
                          const std::string& key_index_name) {
  FLastBatchMoveSkipped = 0;
  source.DisableControls();
  DisableControls();
  const platform::TBookmark source_bookmark =
      source.Active() ? source.GetBookmark() : platform::TBookmark();
  const platform::TBookmark table_bookmark = Active() ? GetBookmark() : platform::TBookmark();
  const std::string saved_index_field_names = IndexFieldNames();
  const std::string saved_index_name = IndexName();
  platform::DataSource* const saved_master = MasterSource();
  SetMasterSource(nullptr);
  SetIndexFieldNames({});

  std::string created_index;         // made over the common fields
  std::string created_source_index;  // made in the source for the reverse search
  auto* source_table = dynamic_cast<TVEZTable*>(&source);
  std::string source_index_field_names, source_index_name;
  bool source_index_changed = false;

  // Every step is tried even when one fails, so a failure cannot leave the
  // controls disabled or the move's index behind; the first failure is
  // raised afterwards.
  auto restore = [&] {
    std::exception_ptr first;
    auto step = [&first](auto&& action) {
      try {
        action();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    };
    step([&] {
      if (source_index_changed) {
        if (!source_index_field_names.empty())
          source_table->SetIndexFieldNames(source_index_field_names);
        else
          source_table->SetIndexName(source_index_name);
      }
    });
    step([&] {
      if (!saved_index_field_names.empty())
        SetIndexFieldNames(saved_index_field_names);
      else
        SetIndexName(saved_index_name);
    });
    step([&] { SetMasterSource(saved_master); });
    step([&] {
      if (!created_index.empty()) DeleteIndex(created_index);
    });
    step([&] {
      if (!created_source_index.empty()) source_table->DeleteIndex(created_source_index);
    });
    EnableControls();
    source.EnableControls();
    step([&] {
      if (!source_bookmark.empty() && source.Active()) source.GotoBookmark(source_bookmark);
    });
    step([&] {
      if (!table_bookmark.empty() && Active() && BookmarkValid(table_bookmark))
        GotoBookmark(table_bookmark);
    });
    if (first) std::rethrow_exception(first);
  };

  try {
    source.Open();
    if (move_type == bmtCopy || !Exists()) {
      Close();
      FieldDefs().Clear();
      IndexDefs().Clear();
      AdvFieldDefs().Assign(source.AdvFieldDefs());
      AdvIndexDefs().Assign(source.AdvIndexDefs(), true);
      if (AdvFieldDefs().Count() == 0) FieldDefs().Assign(source.FieldDefs());
      CreateTable();
    }
    Open();
    source.First();

    // The index that matches records.
    std::string key_index = key_index_name;
    for (std::int32_t i = 0; key_index.empty() && i < AdvIndexDefs().Count(); ++i)
      if (AdvIndexDefs().GetDef(i)->Options & platform::ixPrimary)
        key_index = AdvIndexDefs().GetDef(i)->Name;
    if (key_index.empty()) {
      std::vector<std::string> columns;
      for (int f = 0; f < source.FieldCount(); ++f)
        if (FieldDefExists(FieldDefs(), source.Fields(f).FieldName()))
          columns.push_back(source.Fields(f).FieldName());
      bool is_created = false;
      key_index = FindOrCreateIndex(columns, std::vector<std::string>(columns.size(), "ASC"),
                                    std::vector<std::string>(columns.size(), "CASE"), is_created);
      if (is_created) created_index = key_index;
    }
    SetIndexName(key_index);

    std::int64_t total = source.RecordCount();
    if (move_type == bmtSynchronize) total += RecordCount();
    std::int64_t i = 1;
    bool cont = true;
    InternalBeforeBatchMove(source);
    try {
      while (!source.Eof()) {
        InternalOnBatchMoveProgress(source, PercentOf(i, total), cont);
        if (!cont) break;
        bool found = false;
        if (move_type != bmtCopy) {
          SetKey();
          FillKey(*this, source);
          found = GotoKey();
        }
        if (found) {
          if (move_type == bmtAppendUpdate || move_type == bmtUpdate ||
              move_type == bmtSynchronize) {
            Edit();
            CopyBatchMoveRecord(source);
            Post();
          } else if (move_type == bmtDelete) {
            Delete();
          }
        } else if (move_type != bmtDelete && move_type != bmtUpdate) {
          Insert();
          try {
            CopyBatchMoveRecord(source);
            Post();
          } catch (...) {
            Cancel();
            ++FLastBatchMoveSkipped;
          }
        }
        source.Next();
        ++i;
      }

      if (move_type == bmtSynchronize && cont) {
        total = source.RecordCount() + RecordCount();
        First();
        const TVEZAdvIndexDef& key_def = *AdvIndexDefs().Find(key_index);
        std::vector<std::string> columns, desc, case_ins;
        SplitFieldNames(&columns, key_def.Fields);
        SplitFieldNames(&desc, key_def.DescFields);
        SplitFieldNames(&case_ins, key_def.CaseInsFields);
        std::vector<std::string> directions, cases;
        for (const std::string& column : columns) {
          directions.push_back(ContainsName(desc, column) ? "DESC" : "ASC");
          cases.push_back(ContainsName(case_ins, column) ? "NO_CASE" : "CASE");
        }
        if (source_table != nullptr) {
          source_index_field_names = source_table->IndexFieldNames();
          source_index_name = source_table->IndexName();
          source_index_changed = true;
          bool is_created = false;
          const std::string index =
              source_table->FindOrCreateIndex(columns, directions, cases, is_created);
          if (is_created) created_source_index = index;
          source_table->SetIndexName(index);
        }
        std::string locate_fields;
        for (const std::string& column : columns)
          locate_fields += (locate_fields.empty() ? "" : ";") + column;
        while (!Eof()) {
          InternalOnBatchMoveProgress(source, PercentOf(i, total), cont);
          if (!cont) break;
          bool found = false;
          if (source_table != nullptr) {
            source_table->SetKey();
            FillKey(*source_table, *this);
            found = source_table->GotoKey();
          } else {
            std::vector<platform::Variant> values;
            for (const std::string& column : columns)
              values.push_back(FieldByName(column).Value());
            found = source.Locate(
                locate_fields,
                values.size() == 1 ? values.front() : platform::Variant::FromArray(values), 0);
          }
          // A delete leaves the cursor on the next record already.
          if (found)
            Next();
          else
            Delete();
          ++i;
        }
      }
    } catch (...) {
      InternalAfterBatchMove(source);
      throw;
    }
    InternalAfterBatchMove(source);
  } catch (...) {
    try {
      // An update that failed to post leaves its edit open; it must not be
      // posted again by what follows.
      if (State() == platform::TDataSetState::dsEdit ||
          State() == platform::TDataSetState::dsInsert)
        Cancel();
    } catch (...) {
    }
    try {
      restore();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  restore();
}

}  // namespace vez
