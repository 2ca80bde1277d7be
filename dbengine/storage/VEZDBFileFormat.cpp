#include "dbengine/storage/VEZDBFileFormat.h"

#include <cstring>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZTypes.h"

namespace vez {

TVEZDBHeader TVEZDBHeader::Initial() {
  TVEZDBHeader h;
  std::memcpy(h.Signature.data(), kDBSignature, kDBSignatureSize);
  h.HeaderSize = kDBHeaderSize;
  h.Version = kDBVersion;
  h.TotalPageCount = 0;
  h.LastUsedPageNo = -1;
  h.State = 0;
  h.WriteChangesState = kWriteChangesDone;
  return h;
}

bool TVEZDBHeader::HasSignature() const {
  return std::memcmp(Signature.data(), kDBSignature, kDBSignatureSize) == 0;
}

void TVEZDBHeader::Encode(std::uint8_t* p) const {
  std::memcpy(p, Signature.data(), 16);
  PutLE<std::int16_t>(p + 16, HeaderSize);
  std::uint64_t bits;
  std::memcpy(&bits, &Version, 8);
  PutLE<std::uint64_t>(p + 18, bits);
  PutLE<std::uint16_t>(p + 26, PageSize);
  PutLE<std::uint16_t>(p + 28, PageCountInExtent);
  PutLE<std::int32_t>(p + 30, TotalPageCount);
  PutLE<std::int32_t>(p + 34, LastUsedPageNo);
  PutLE<std::int32_t>(p + kStateOffset, State);
  p[kWriteChangesStateOffset] = WriteChangesState;
  p[43] = Encrypted;
  std::memcpy(p + 44, Reserved.data(), 32);
}

TVEZDBHeader TVEZDBHeader::Decode(const std::uint8_t* p) {
  TVEZDBHeader h;
  std::memcpy(h.Signature.data(), p, 16);
  h.HeaderSize = GetLE<std::int16_t>(p + 16);
  const std::uint64_t bits = GetLE<std::uint64_t>(p + 18);
  std::memcpy(&h.Version, &bits, 8);
  h.PageSize = GetLE<std::uint16_t>(p + 26);
  h.PageCountInExtent = GetLE<std::uint16_t>(p + 28);
  h.TotalPageCount = GetLE<std::int32_t>(p + 30);
  h.LastUsedPageNo = GetLE<std::int32_t>(p + 34);
  h.State = GetLE<std::int32_t>(p + kStateOffset);
  h.WriteChangesState = p[kWriteChangesStateOffset];
  h.Encrypted = p[43];
  std::memcpy(h.Reserved.data(), p + 44, 32);
  return h;
}

void TVEZCryptoHeader::Encode(std::uint8_t* p) const {
  PutLE<std::int16_t>(p, CryptoHeaderSize);
  p[2] = CryptoAlgorithm;
  p[3] = CryptoMode;
  std::memcpy(p + 4, ControlBlock.data(), 256);
  PutLE<std::uint32_t>(p + 260, ControlBlockCRC);
  std::memcpy(p + 264, Reserved.data(), 16);
}

TVEZCryptoHeader TVEZCryptoHeader::Decode(const std::uint8_t* p) {
  TVEZCryptoHeader h;
  h.CryptoHeaderSize = GetLE<std::int16_t>(p);
  h.CryptoAlgorithm = p[2];
  h.CryptoMode = p[3];
  std::memcpy(h.ControlBlock.data(), p + 4, 256);
  h.ControlBlockCRC = GetLE<std::uint32_t>(p + 260);
  std::memcpy(h.Reserved.data(), p + 264, 16);
  return h;
}

void TVEZLockedBytes::Encode(std::uint8_t* p) const {
  std::memset(p, 0, kSize);
  PutLE<std::int16_t>(p, LockedByteSize);
}

TVEZLockedBytes TVEZLockedBytes::Decode(const std::uint8_t* p) {
  TVEZLockedBytes b;
  b.LockedByteSize = GetLE<std::int16_t>(p);
  return b;
}

namespace {
constexpr const char* kPageTypeNames[] = {"Unknown Page",
                                          "Empty Page",
                                          "EAM Page",
                                          "PFS Page",
                                          "FileSystemDirectory Page",
                                          "ActiveSessionList Page",
                                          "TableList Page",
                                          "TableLocks Page",
                                          "TableMetaData Page",
                                          "TableMostUpdated Page",
                                          "TableRecord Page",
                                          "TableBlob Page",
                                          "TableIndex Page"};
}  // namespace

std::string GetPageTypeName(std::uint16_t page_type) {
  if (page_type >= std::size(kPageTypeNames))
    throw EVEZException(30382, "Unknown Page Type: (%d)", {page_type});
  return kPageTypeNames[page_type];
}

void CheckPageType(std::uint16_t found_type, std::uint16_t expected_type,
                   std::int32_t native_error) {
  if (found_type == expected_type) return;
  const std::string found = GetPageTypeName(found_type);
  throw EVEZException(native_error, "Wrong page type. Found '%s', but expecting: '%s'",
                      {found, GetPageTypeName(expected_type)});
}

}  // namespace vez
