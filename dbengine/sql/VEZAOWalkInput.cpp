#include "dbengine/sql/VEZAOWalkInput.h"

#include <cassert>
#include <utility>

#include "dbengine/api/VEZTable.h"
#include "dbengine/sql/VEZAO.h"

namespace vez {

TVEZAOChildInput::TVEZAOChildInput(TVEZAO* child, std::vector<std::int32_t> links)
    : FChild(child), FLinks(std::move(links)) {
  assert(child != nullptr);
}

void TVEZAOChildInput::First() {
  FChild->First();
}
void TVEZAOChildInput::Next() {
  FChild->Next();
}
void TVEZAOChildInput::Prior() {
  FChild->ResultDataset()->Prior();
}
bool TVEZAOChildInput::Eof() {
  return FChild->GetEof();
}

bool TVEZAOChildInput::IsEmpty() {
  TVEZTable* ds = FChild->ResultDataset();
  return ds->Bof() && ds->Eof();
}

std::int64_t TVEZAOChildInput::RecordCount() {
  return FChild->GetRecordCount();
}

platform::TBookmark TVEZAOChildInput::Bookmark() {
  return FChild->ResultDataset()->GetBookmark();
}

void TVEZAOChildInput::GotoBookmark(const platform::TBookmark& bookmark) {
  FChild->ResultDataset()->GotoBookmark(bookmark);
}

void TVEZAOChildInput::GetValue(std::int32_t no, TVEZVariant& value) {
  FChild->GetFieldValue(value, FLinks.at(static_cast<std::size_t>(no)), true, true);
}

std::string TVEZAOChildInput::ValueName(std::int32_t no) {
  return FChild->GetFieldName(FLinks.at(static_cast<std::size_t>(no)), false);
}

}  // namespace vez
