// The table component's SQL script export. The script is the engine's own
// dialect: DROP/CREATE TABLE for the structure and one INSERT per record.
#include "dbengine/api/VEZTableExport.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbengine/api/VEZAdvancedDefs.h"
#include "dbengine/api/VEZDefConverters.h"
#include "dbengine/api/VEZTable.h"
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

// A name the lexer would split or take for a keyword goes in quotes; a quote
// in a name needs them too, or the script would not read back.
std::string SqlName(std::string_view name) {
  const bool needs_quotes =
      name.find_first_of(" -'") != std::string_view::npos || FindReservedWord(name) >= 0;
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

// A default or bound of a column as a literal.
std::string ConstantText(const TVEZVariant& value) {
  switch (value.GetDataType()) {
    case bftSingle:
      return ShortestNumber(static_cast<float>(value.GetAsDouble()));
    case bftDouble:
    case bftCurrency:
      return ShortestNumber(value.GetAsDouble());
    case bftExtended:
      return ShortestNumber(value.GetAsExtended());
    default:
      break;
  }
  if (value.IsStringDataType() || value.IsWideStringDataType())
    return QuotedString(value.GetAsAnsiString());
  return value.GetAsAnsiString();
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
  if (!def.DefaultValue.GetIsNull()) line += " DEFAULT " + ConstantText(def.DefaultValue);
  if (def.Required) line += " NOT NULL";
  if (!def.MinValue.GetIsNull()) line += " MINVALUE " + ConstantText(def.MinValue);
  if (!def.MaxValue.GetIsNull()) line += " MAXVALUE " + ConstantText(def.MaxValue);
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

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.*d", width, value);
  return buffer;
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

}  // namespace vez
