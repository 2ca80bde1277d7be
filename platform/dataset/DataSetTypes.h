// The dataset layer's small vocabulary: states, record reads, bookmark
// flags, data events, resync modes, locate and filter options, BLOB stream
// modes, index options, field kinds. Names and ordinals are the platform's;
// the bookmark flag is stored in record buffers, so its ordinals are fixed.
//
// Thread safety: constants only.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

enum class TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening
};

// What GetRecord reads, relative to the cursor.
enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };

// Kept in a record buffer's bookmark area: 0 current, 1 before the first
// record, 2 after the last record, 3 being inserted.
enum TBookmarkFlag : std::uint8_t { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };

enum class TDataEvent {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange
};

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Option sets are bit masks of these flags.
using TResyncMode = unsigned;
inline constexpr TResyncMode rmExact = 1;
inline constexpr TResyncMode rmCenter = 2;

using TLocateOptions = unsigned;
inline constexpr TLocateOptions loCaseInsensitive = 1;
inline constexpr TLocateOptions loPartialKey = 2;

using TFilterOptions = unsigned;
inline constexpr TFilterOptions foCaseInsensitive = 1;
inline constexpr TFilterOptions foNoPartialCompare = 2;

using TIndexOptions = unsigned;
inline constexpr TIndexOptions ixPrimary = 1;
inline constexpr TIndexOptions ixUnique = 2;
inline constexpr TIndexOptions ixDescending = 4;
inline constexpr TIndexOptions ixCaseInsensitive = 8;
inline constexpr TIndexOptions ixExpression = 16;
inline constexpr TIndexOptions ixNonMaintained = 32;

// A bookmark is a value: the bytes a dataset hands out for a record and
// takes back to find it again. Empty means "no bookmark".
using TBookmark = std::vector<std::uint8_t>;

// A record buffer, allocated and laid out by the concrete dataset.
using TRecordBuffer = std::uint8_t*;

}  // namespace platform
