// Field values between a memory record buffer and the dataset layer's field
// buffers. The record holds each value in its storage form at the field's
// MemoryOffset; the dataset form is wider for the narrow integer columns (a
// Shortint or Byte is a 2-byte integer there, a Cardinal an 8-byte one, the
// small autoincrement columns a 4-byte one), Single and Extended are
// doubles, and a Bytes column is its size without the stored extra byte. A
// VarBytes column is a 2-byte length and its size in bytes there; stored,
// it is the bytes, one 0x80 end mark and zeros (size + 1 bytes), so every
// length up to the size survives. Every other type is the same bytes. A
// value outside its column's range is refused (10008), never cut to its low
// bytes, nor a finite double beyond a Single stored as infinity; an
// AutoIncCardinal above the Int32 range cannot be read into its 4-byte
// buffer and raises 10008 too.
//
// Thread safety: stateless; the caller owns the buffers.
#pragma once

#include <cstdint>

namespace vez {

class TVEZFieldDefs;

// Copies physical field field_no of record_buffer into buffer in dataset
// form and returns true; returns false for a NULL field (buffer untouched).
// With a null buffer it only answers whether the field has a value. BLOB
// columns answer true and copy nothing (they are read through BLOB
// streams). A null record_buffer raises 10003; a field number outside the
// defs (either end) raises 10000 before the record is read.
bool GetRecordFieldData(std::int32_t field_no, const TVEZFieldDefs& field_defs, void* buffer,
                        const std::uint8_t* record_buffer);

// Writes buffer (dataset form) into physical field field_no of
// record_buffer and clears its null bit. A null buffer, or an empty string
// (first character zero) for a string column, sets the null bit and writes
// nothing else. A field number outside the defs raises 10004, a null
// record_buffer 10004 "Nil pointer occured".
void SetRecordFieldData(std::int32_t field_no, const TVEZFieldDefs& field_defs, const void* buffer,
                        std::uint8_t* record_buffer);

// True when the first count bytes are equal. A null first buffer raises
// 10122, a null second one 10123.
bool BuffersEqual(const void* buffer1, const void* buffer2, std::int32_t count);

}  // namespace vez
