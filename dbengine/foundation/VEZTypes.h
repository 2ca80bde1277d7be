// VEZTypes: the vocabulary every layer of the engine shares: the enumerations
// (value types, operators, lock types, navigation modes ...), the small records
// passed between layers or kept in buffers, and the bit helpers of null flags
// and slot maps.
//
// Every enumeration is one byte and its ordinals are written into files and
// streams, so the values below are fixed: append, never reorder.
//
// Records that live in buffers or files have a fixed packed little-endian
// layout (kSize bytes) and are moved only through Encode/Decode; the C++
// structs themselves are ordinary, aligned and never cast onto bytes.
//
// Thread safety: everything here is either constant or a plain value; the
// free functions are reentrant.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vez {

// ---------------------------------------------------------------------------
// Little-endian byte helpers for file and buffer layouts. Buffers from the
// memory manager are not aligned, so every access goes through memcpy.

template <typename T>
requires std::is_integral_v<T>
inline void PutLE(void* dst, T value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(dst, &value, sizeof(T));
  } else {
    auto u = static_cast<std::make_unsigned_t<T>>(value);
    auto* p = static_cast<std::uint8_t*>(dst);
    for (std::size_t i = 0; i < sizeof(T); ++i)
      p[i] = static_cast<std::uint8_t>(u >> (8 * i));
  }
}

template <typename T>
requires std::is_integral_v<T>
inline T GetLE(const void* src) {
  if constexpr (std::endian::native == std::endian::little) {
    T value;
    std::memcpy(&value, src, sizeof(T));
    return value;
  } else {
    std::make_unsigned_t<T> u = 0;
    const auto* p = static_cast<const std::uint8_t*>(src);
    for (std::size_t i = 0; i < sizeof(T); ++i)
      u = static_cast<std::make_unsigned_t<T>>(
          u | (static_cast<std::make_unsigned_t<T>>(p[i]) << (8 * i)));
    return static_cast<T>(u);
  }
}

// ---------------------------------------------------------------------------
// Enumerations (one byte each, ordinals fixed).

enum TVEZGetRecordMode : std::uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };

enum TVEZGetRecordResult : std::uint8_t { grrOK = 0, grrBOF = 1, grrEOF = 2, grrError = 3 };

enum TVEZBLOBOpenMode : std::uint8_t { bomWrite = 0, bomRead = 1, bomReadWrite = 2 };

enum TVEZDBFileType : std::uint8_t {
  dbftUnknown = 0,
  dbftTablesList = 1,
  dbftActiveSessionsList = 2
};

enum TVEZLockType : std::uint8_t {
  ltIS = 0,
  ltS = 1,
  ltSIRW = 2,
  ltXIRW = 3,
  ltRW = 4,
  ltU = 5,
  ltX = 6
};

enum TVEZShareMode : std::uint8_t { smExclusive = 0, smShareDenyNone = 1, smShareDenyWrite = 2 };

enum TVEZAccessMode : std::uint8_t { amReadOnly = 0, amReadWrite = 1 };

enum TVEZJoinType : std::uint8_t {
  ajtCross = 0,
  ajtInner = 1,
  ajtLeftOuter = 2,
  ajtRightOuter = 3,
  ajtFullOuter = 4
};

enum TVEZUnionType : std::uint8_t { autUnion = 0, autIntersect = 1, autExcept = 2 };

enum TVEZTableType : std::uint8_t { attTable = 0, attJoinedTable = 1, attSubQuery = 2 };

enum TVEZQueryExprType : std::uint8_t {
  qetSelect = 0,
  qetUnion = 1,
  qetExcept = 2,
  qetIntersect = 3
};

enum TVEZBatchMoveType : std::uint8_t {
  bmtAppend = 0,
  bmtAppendUpdate = 1,
  bmtCopy = 2,
  bmtDelete = 3,
  bmtUpdate = 4,
  bmtSynchronize = 5
};

enum TVEZConstraintType : std::uint8_t {
  ctPK = 0,
  ctFK = 1,
  ctUnique = 2,
  ctNotNull = 3,
  ctCheck = 4
};

enum TVEZCompareResult : std::uint8_t {
  cmprEqual = 0,
  cmprLower = 1,
  cmprGreater = 2,
  cmprLeftNull = 3,
  cmprRightNull = 4,
  cmprBothNull = 5
};

enum TVEZSearchCondition : std::uint8_t {
  scNone = 0,
  scEqual = 1,
  scLower = 2,
  scGreater = 3,
  scLowerEqual = 4,
  scGreaterEqual = 5
};

enum TVEZDateTimeExtractField : std::uint8_t {
  dtefYear = 0,
  dtefMonth = 1,
  dtefDay = 2,
  dtefHour = 3,
  dtefMinute = 4,
  dtefSecond = 5
};

// Storage type of a value (a typed value, a stored field, a key part). Byte
// widths: GetValueSize (VEZSQLTypes.h).
enum TVEZBaseFieldType : std::uint8_t {
  bftUnknown = 0,
  bftChar = 1,         // single-byte string, zero-terminated
  bftWideChar = 2,     // UTF-16 string, zero-terminated
  bftVarchar = 3,      // single-byte string, zero-terminated
  bftWideVarchar = 4,  // UTF-16 string, zero-terminated
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,    // 4-byte float
  bftDouble = 13,    // 8-byte float
  bftExtended = 14,  // 10-byte x87 extended float
  bftDate = 15,      // Int32 day number (TVEZDateTime::Date)
  bftTime = 16,      // Int32 milliseconds of the day
  bftDateTime = 17,  // TVEZDateTime
  bftBlob = 18,
  bftClob = 19,      // single-byte character large object
  bftWideClob = 20,  // UTF-16 character large object
  bftLogical = 21,   // 2 bytes: 0 false, anything else true; true stored as -1
  bftCurrency = 22,  // 8-byte float, as bftDouble
  bftBytes = 23,     // fixed-length byte string
  bftVarBytes = 24,  // variable-length byte string
  bftBFile = 25      // declared only; sizes, conversions and comparisons refuse it
};
inline constexpr int kBaseFieldTypeCount = 26;

// The column type as the user declares it.
enum TVEZAdvancedFieldType : std::uint8_t {
  aftUnknown = 0,
  aftChar = 1,
  aftString = 2,
  aftWideChar = 3,
  aftWideString = 4,
  aftShortint = 5,
  aftSmallint = 6,
  aftInteger = 7,
  aftLargeint = 8,
  aftByte = 9,
  aftWord = 10,
  aftCardinal = 11,
  aftAutoInc = 12,
  aftAutoIncShortint = 13,
  aftAutoIncSmallint = 14,
  aftAutoIncInteger = 15,
  aftAutoIncLargeint = 16,
  aftAutoIncByte = 17,
  aftAutoIncWord = 18,
  aftAutoIncCardinal = 19,
  aftSingle = 20,
  aftDouble = 21,
  aftExtended = 22,
  aftBoolean = 23,
  aftCurrency = 24,
  aftDate = 25,
  aftTime = 26,
  aftDateTime = 27,
  aftTimeStamp = 28,
  aftBytes = 29,
  aftVarBytes = 30,
  aftBlob = 31,
  aftGraphic = 32,
  aftMemo = 33,
  aftFormattedMemo = 34,
  aftWideMemo = 35,
  aftGuid = 36
};
inline constexpr int kAdvancedFieldTypeCount = 37;

// Operators and functions of expressions, index scans and comparisons.
enum TVEZDataOperator : std::uint8_t {
  doUNDEFINED = 0,
  doEQ = 1,
  doNE = 2,
  doGT = 3,
  doLT = 4,
  doGE = 5,
  doLE = 6,
  doNOT = 7,
  doAND = 8,
  doOR = 9,
  doIN = 10,
  doNOTIN = 11,
  doEXISTS = 12,
  doBETWEEN = 13,
  doNOTBETWEEN = 14,
  doLIKE = 15,
  doNOTLIKE = 16,
  doISNULL = 17,
  doISNOTNULL = 18,
  doTRUE = 19,
  doFALSE = 20,
  doADD = 21,
  doSUB = 22,
  doMUL = 23,
  doDIV = 24,
  doCONCAT = 25,
  doUPPER = 26,
  doLOWER = 27,
  doTRIM = 28,
  doLTRIM = 29,
  doRTRIM = 30,
  doLENGTH = 31,
  doPOS = 32,
  doSUBSTRING = 33,
  doSUM = 34,
  doAVG = 35,
  doMIN = 36,
  doMAX = 37,
  doCOUNT = 38,
  doCOUNTALL = 39,
  doSYSDATE = 40,
  doCURRENT_DATE = 41,
  doCURRENT_TIME = 42,
  doTODATE = 43,
  doTOSTRING = 44,
  doEXTRACT = 45,
  doCAST = 46,
  doLASTAUTOINC = 47,
  doMIMETOBIN = 48,
  doROWNUM = 49,
  doABS = 50,
  doACOS = 51,
  doASIN = 52,
  doATAN = 53,
  doCEIL = 54,
  doCOS = 55,
  doEXP = 56,
  doFLOOR = 57,
  doLOG = 58,
  doPOWER = 59,
  doRAND = 60,
  doROUND = 61,
  doSIGN = 62,
  doSIN = 63,
  doSQR = 64,
  doSQRT = 65
};
inline constexpr int kDataOperatorCount = 66;

// ---------------------------------------------------------------------------
// Packed records. kSize is the stored width; Encode writes exactly kSize
// bytes, Decode reads exactly kSize bytes.

// Identity of a record or BLOB: the page that holds it and its item number
// there. Disk records: (record page, slot); memory records: (slot, 0);
// temporary records: their 0-based insertion number.
// Layout: 0 Int32 PageNo | 4 UInt16 PageItemNo.
struct TVEZPageItemID {
  static constexpr int kSize = 6;
  std::int32_t PageNo = 0;
  std::uint16_t PageItemNo = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    PutLE<std::int32_t>(p, PageNo);
    PutLE<std::uint16_t>(p + 4, PageItemNo);
  }
  static TVEZPageItemID Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    return {GetLE<std::int32_t>(p), GetLE<std::uint16_t>(p + 4)};
  }
  friend bool operator==(const TVEZPageItemID&, const TVEZPageItemID&) = default;
};

// The engine's date-time: day number (0001-01-01 is day 1; platform date-time
// d has day trunc(d) + 693594) and milliseconds since midnight (0..86399999).
// Conversions: VEZSQLTypes.h. Layout: 0 Int32 Date | 4 Int32 Time.
struct TVEZDateTime {
  static constexpr int kSize = 8;
  std::int32_t Date = 0;
  std::int32_t Time = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    PutLE<std::int32_t>(p, Date);
    PutLE<std::int32_t>(p + 4, Time);
  }
  static TVEZDateTime Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    return {GetLE<std::int32_t>(p), GetLE<std::int32_t>(p + 4)};
  }
  friend bool operator==(const TVEZDateTime&, const TVEZDateTime&) = default;
};

// One navigation request from a cursor to the table data, and its answer.
// Lives only in memory (it carries a pointer), so it has no stored form.
struct TVEZNavigationInfo {
  TVEZGetRecordMode GetRecordMode = grmCurrent;
  std::int32_t IndexID = -1;
  TVEZPageItemID RecordID;
  std::uint8_t* RecordBuffer = nullptr;  // borrowed record buffer
  bool FirstPosition = false;
  bool LastPosition = false;
  TVEZGetRecordResult GetRecordResult = grrOK;
};

// One ORDER BY item.
struct TVEZSortSpecification {
  std::string TableName;
  std::string ColumnName;
  bool Descending = false;
};

// The BLOB descriptor kept in a record buffer of the memory table engine and
// in front of each entry of the temporary engine's BLOB file.
// Layout: 0 Int32 NumBlocks | 4 Int64 UncompressedSize | 12 Int64 CompressedSize.
struct TVEZPartialTemporaryBLOBDescriptor {
  static constexpr int kSize = 20;
  std::int32_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t CompressedSize = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    PutLE<std::int32_t>(p, NumBlocks);
    PutLE<std::int64_t>(p + 4, UncompressedSize);
    PutLE<std::int64_t>(p + 12, CompressedSize);
  }
  static TVEZPartialTemporaryBLOBDescriptor Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    return {GetLE<std::int32_t>(p), GetLE<std::int64_t>(p + 4), GetLE<std::int64_t>(p + 12)};
  }
  friend bool operator==(const TVEZPartialTemporaryBLOBDescriptor&,
                         const TVEZPartialTemporaryBLOBDescriptor&) = default;
};

// The in-memory copy of a BLOB held for a record buffer of the disk engine.
// Never stored: record buffers refer to it through a handle, not a pointer.
struct TVEZDiskBLOBCache {
  std::int32_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  bool Modified = false;             // written by a cursor, not yet stored
  std::uint8_t* BlobData = nullptr;  // memory-manager block of the stored bytes, or null
};

// Describes the byte range of a BLOB in its underlying stream.
// Layout: 0 Int32 BlockSize | 4 Int64 NumBlocks | 12 Int64 UncompressedSize |
// 20 Int64 StartPosition | 28 Byte CompressionAlgorithm | 29 Byte CompressionMode |
// 30 2 bytes Reserved (kept as given).
struct TVEZBLOBDescriptor {
  static constexpr int kSize = 32;
  std::int32_t BlockSize = 0;
  std::int64_t NumBlocks = 0;
  std::int64_t UncompressedSize = 0;
  std::int64_t StartPosition = 0;
  std::uint8_t CompressionAlgorithm = 0;
  std::uint8_t CompressionMode = 0;
  std::uint16_t Reserved = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    PutLE<std::int32_t>(p, BlockSize);
    PutLE<std::int64_t>(p + 4, NumBlocks);
    PutLE<std::int64_t>(p + 12, UncompressedSize);
    PutLE<std::int64_t>(p + 20, StartPosition);
    p[28] = CompressionAlgorithm;
    p[29] = CompressionMode;
    PutLE<std::uint16_t>(p + 30, Reserved);
  }
  static TVEZBLOBDescriptor Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    TVEZBLOBDescriptor d;
    d.BlockSize = GetLE<std::int32_t>(p);
    d.NumBlocks = GetLE<std::int64_t>(p + 4);
    d.UncompressedSize = GetLE<std::int64_t>(p + 12);
    d.StartPosition = GetLE<std::int64_t>(p + 20);
    d.CompressionAlgorithm = p[28];
    d.CompressionMode = p[29];
    d.Reserved = GetLE<std::uint16_t>(p + 30);
    return d;
  }
  friend bool operator==(const TVEZBLOBDescriptor&, const TVEZBLOBDescriptor&) = default;
};

// Header written in front of each compressed block of a BLOB.
// Layout: 0 Int32 CompressedSize | 4 Int32 UncompressedSize | 8 UInt32 Crc32 |
// 12 Int64 OffsetToNextHeader.
struct TVEZCompressedStreamBlockHeader {
  static constexpr int kSize = 20;
  std::int32_t CompressedSize = 0;
  std::int32_t UncompressedSize = 0;
  std::uint32_t Crc32 = 0;
  std::int64_t OffsetToNextHeader = 0;

  void Encode(void* dst) const {
    auto* p = static_cast<std::uint8_t*>(dst);
    PutLE<std::int32_t>(p, CompressedSize);
    PutLE<std::int32_t>(p + 4, UncompressedSize);
    PutLE<std::uint32_t>(p + 8, Crc32);
    PutLE<std::int64_t>(p + 12, OffsetToNextHeader);
  }
  static TVEZCompressedStreamBlockHeader Decode(const void* src) {
    const auto* p = static_cast<const std::uint8_t*>(src);
    return {GetLE<std::int32_t>(p), GetLE<std::int32_t>(p + 4), GetLE<std::uint32_t>(p + 8),
            GetLE<std::int64_t>(p + 12)};
  }
  friend bool operator==(const TVEZCompressedStreamBlockHeader&,
                         const TVEZCompressedStreamBlockHeader&) = default;
};

// The owning list in which metadata definition lists and a session's named
// objects keep their items, in insertion order.
template <typename T>
using TVEZSortedStringPtrArray = std::vector<std::unique_ptr<T>>;

// ---------------------------------------------------------------------------
// Bits of plain byte buffers (null flags of record and key buffers, slot maps
// of record and BLOB pages): bit (BitNo mod 8) of byte (BitNo div 8), lowest
// bit first. They check nothing. REQUIRES: 0 <= BitNo < 8 * buffer size.

inline bool GetBufferBit(std::int32_t BitNo, const void* Buffer) {
  const auto* p = static_cast<const std::uint8_t*>(Buffer);
  return (p[static_cast<std::uint32_t>(BitNo) >> 3] >> (BitNo & 7)) & 1u;
}

inline void SetBufferBit(bool Value, std::int32_t BitNo, void* Buffer) {
  auto* p = static_cast<std::uint8_t*>(Buffer) + (static_cast<std::uint32_t>(BitNo) >> 3);
  const auto mask = static_cast<std::uint8_t>(1u << (BitNo & 7));
  if (Value)
    *p = static_cast<std::uint8_t>(*p | mask);
  else
    *p = static_cast<std::uint8_t>(*p & ~mask);
}

// Prefix followed by a new GUID in its standard text form: braces, upper-case
// hex digits in groups 8-4-4-4-12, e.g. "Expr{0F1E2D3C-...}" (38 characters
// after the prefix). Names temporary tables, indexes and result columns.
std::string MakeUniqueName(std::string_view Prefix);

}  // namespace vez
