#include "dbengine/api/VEZBLOBStream.h"

#include "dbengine/api/VEZDataSet.h"
#include "dbengine/api/VEZLocalBLOBStream.h"
#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/storage/VEZSessionLayerServices.h"
#include "platform/dataset/Field.h"

namespace vez {

namespace {

TVEZDataSet& DataSetOf(platform::Field& field) {
  auto* dataset = dynamic_cast<TVEZDataSet*>(field.GetDataSet());
  if (dataset == nullptr) throw EVEZException(10108, "Nil pointer occured");
  return *dataset;
}

}  // namespace

TVEZBLOBStream::TVEZBLOBStream(platform::Field& field, platform::TBlobStreamMode mode)
    : FField(field), FDataSet(DataSetOf(field)) {
  if (mode != platform::TBlobStreamMode::bmRead && FDataSet.ReadOnly())
    throw EVEZException(10106, "Dataset is in read only mode");
  FBLOBStream = FDataSet.OpenFieldBlobStream(field, mode);
  // A stream that reads nothing and drops what is written would report a
  // failure as success.
  if (FBLOBStream == nullptr) {
    throw EVEZException(10109, "Cannot open the BLOB stream of field '%s'", {field.FieldName()});
  }
  SetBlockSize(FBLOBStream->BlockSize());
  if (auto* local = dynamic_cast<TVEZLocalBLOBStream*>(FBLOBStream)) local->SetUserBLOBStream(this);
  // Writing replaces the value; an empty one stays unmodified until written.
  if (mode == platform::TBlobStreamMode::bmWrite && FBLOBStream->GetSize() > 0) Truncate();
}

TVEZBLOBStream::~TVEZBLOBStream() {
  if (FBLOBStream == nullptr) return;
  const bool modified = Modified() || FBLOBStream->Modified();
  if (auto* local = dynamic_cast<TVEZLocalBLOBStream*>(FBLOBStream))
    local->SetUserBLOBStream(nullptr);
  FBLOBStream = nullptr;
  try {
    FDataSet.CloseBlob(FField);
  } catch (...) {
    FDataSet.HandleException();
    return;
  }
  if (!modified) return;
  try {
    FDataSet.BlobFieldChanged(FField);
  } catch (...) {
    FDataSet.HandleException();
  }
}

std::int64_t TVEZBLOBStream::GetSize() {
  return FBLOBStream != nullptr ? FBLOBStream->GetSize() : 0;
}

void TVEZBLOBStream::SetSize(std::int64_t new_size) {
  if (FBLOBStream == nullptr) return;
  FBLOBStream->SetSize(new_size);
  if (FBLOBStream->GetSize() == new_size) {
    FBLOBStream->SetModified(true);
    SetModified(true);
  }
}

std::int32_t TVEZBLOBStream::Read(void* buffer, std::int32_t count) {
  return FBLOBStream != nullptr ? FBLOBStream->Read(buffer, count) : 0;
}

std::int32_t TVEZBLOBStream::Write(const void* buffer, std::int32_t count) {
  if (FBLOBStream == nullptr) return 0;
  const std::int32_t written = FBLOBStream->Write(buffer, count);
  if (written > 0) {
    FBLOBStream->SetModified(true);
    SetModified(true);
  }
  return written;
}

std::int64_t TVEZBLOBStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  return FBLOBStream != nullptr ? FBLOBStream->Seek(offset, origin) : 0;
}

void TVEZBLOBStream::Truncate() {
  SetSize(Position());
}

std::int64_t TVEZBLOBStream::CompressedSize() {
  if (FBLOBStream == nullptr) return 0;
  return CompressedStreamOf(*FBLOBStream, 10108).CompressedSize();
}

}  // namespace vez
