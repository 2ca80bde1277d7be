#include "dbengine/foundation/VEZSQLParams.h"

#include "platform/core/Exceptions.h"
#include "platform/core/Format.h"

namespace vez {

namespace {

// Names compare like SQL words: only a to z fold, never by locale.
char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

void TVEZSQLParams::CheckIndex(std::int32_t index) const {
  if (index < 0 || index >= Count()) {
    throw platform::EListError(platform::Format("List index out of bounds (%d)", {index}));
  }
}

TVEZSQLParam& TVEZSQLParams::GetValue(std::int32_t index) {
  CheckIndex(index);
  return *param_list_[static_cast<std::size_t>(index)];
}

const TVEZSQLParam& TVEZSQLParams::GetValue(std::int32_t index) const {
  CheckIndex(index);
  return *param_list_[static_cast<std::size_t>(index)];
}

void TVEZSQLParams::SetValue(std::int32_t index, std::unique_ptr<TVEZSQLParam> value) {
  CheckIndex(index);
  if (!value) throw platform::EListError("Parameter value is nil");
  param_list_[static_cast<std::size_t>(index)] = std::move(value);
}

TVEZSQLParam& TVEZSQLParams::AddCreated() {
  param_list_.push_back(std::make_unique<TVEZSQLParam>());
  return *param_list_.back();
}

TVEZSQLParam* TVEZSQLParams::GetParamByName(std::string_view name) {
  for (auto& param : param_list_) {
    if (SameTextAscii(param->Name, name)) return param.get();
  }
  return nullptr;
}

const TVEZSQLParam* TVEZSQLParams::GetParamByName(std::string_view name) const {
  return const_cast<TVEZSQLParams*>(this)->GetParamByName(name);
}

}  // namespace vez
