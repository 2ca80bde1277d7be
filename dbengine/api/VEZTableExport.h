// The table component's SQL-script options. The
// operations themselves are members of TVEZTable (VEZTable.h) and live in
// VEZTableExport.cpp.
//
// Thread safety: as the owning table's.
#pragma once

namespace vez {

// What TVEZTable::ExportToSQL writes.
class TVEZExportToSqlOptions {
 public:
  TVEZExportToSqlOptions() = default;
  TVEZExportToSqlOptions(const TVEZExportToSqlOptions&) = delete;
  TVEZExportToSqlOptions& operator=(const TVEZExportToSqlOptions&) = delete;

  // Copies the five flags.
  void Assign(const TVEZExportToSqlOptions& source);

  // CREATE TABLE with its columns and indexes.
  bool Structure() const { return FStructure; }
  void SetStructure(bool value) { FStructure = value; }
  // DROP TABLE before the CREATE TABLE (only with Structure).
  bool AddDropTable() const { return FAddDropTable; }
  void SetAddDropTable(bool value) { FAddDropTable = value; }
  // Block size and compression of the BLOB columns.
  bool BlobSettings() const { return FBlobSettings; }
  void SetBlobSettings(bool value) { FBlobSettings = value; }
  // One INSERT per record.
  bool Data() const { return FData; }
  void SetData(bool value) { FData = value; }
  // Column names listed in each INSERT.
  bool FieldNamesInInserts() const { return FFieldNamesInInserts; }
  void SetFieldNamesInInserts(bool value) { FFieldNamesInInserts = value; }

 private:
  bool FStructure = true;
  bool FAddDropTable = true;
  bool FBlobSettings = false;
  bool FData = false;
  bool FFieldNamesInInserts = false;
};

}  // namespace vez
