// TVEZSQLParams: the list of parameter values that a query hands to the SQL
// lexer. Parameters are found by name (":Name" markers) or by position ("?"
// markers); the lexer copies their values, so changing the list afterwards
// does not reach an existing lexer.
//
// Thread safety: none; a list belongs to the one query that fills it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"

namespace vez {

// One parameter: a typed value with a name (empty for a positional one).
class TVEZSQLParam : public TVEZVariant {
 public:
  TVEZSQLParam() = default;

  std::string Name;
};

class TVEZSQLParams {
 public:
  TVEZSQLParams() = default;
  TVEZSQLParams(const TVEZSQLParams&) = delete;
  TVEZSQLParams& operator=(const TVEZSQLParams&) = delete;
  ~TVEZSQLParams() = default;

  std::int32_t Count() const noexcept { return static_cast<std::int32_t>(param_list_.size()); }

  // The parameter at index. Raises platform::EListError outside 0 .. Count - 1.
  TVEZSQLParam& GetValue(std::int32_t index);
  const TVEZSQLParam& GetValue(std::int32_t index) const;
  // Frees the parameter at index and stores value in its place. Raises
  // platform::EListError outside 0 .. Count - 1 or for a null value; the list
  // is then unchanged.
  void SetValue(std::int32_t index, std::unique_ptr<TVEZSQLParam> value);

  // Appends a new parameter (type unknown, NULL, empty name) and returns it;
  // the list owns it.
  TVEZSQLParam& AddCreated();
  // Frees every parameter and empties the list.
  void Clear() noexcept { param_list_.clear(); }

  // The first parameter whose name equals name, letters a to z compared
  // without regard to case; nullptr when there is none.
  TVEZSQLParam* GetParamByName(std::string_view name);
  const TVEZSQLParam* GetParamByName(std::string_view name) const;

 private:
  void CheckIndex(std::int32_t index) const;

  std::vector<std::unique_ptr<TVEZSQLParam>> param_list_;
};

}  // namespace vez
