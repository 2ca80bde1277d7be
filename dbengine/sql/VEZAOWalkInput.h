// TVEZWalkInput: one input of a join, union or grouping walk as the walk
// sees it: a row position moved through the input's result dataset, plus the
// values of the columns the walk compares. The operators implement it over
// their children (or a look-ahead table); tests implement it over vectors.
//
// Position rules the walks rely on (those of a dataset): Next at the last row
// sets Eof and leaves the last row current, so its values can still be read;
// an empty input is Eof after First; GotoBookmark clears Eof.
//
// Thread safety: none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"
#include "platform/dataset/DataSetTypes.h"

namespace vez {

class TVEZWalkInput {
 public:
  virtual ~TVEZWalkInput() = default;
  virtual void First() = 0;
  virtual void Next() = 0;
  virtual void Prior() = 0;
  virtual bool Eof() = 0;
  // Both BOF and EOF: the input holds no row.
  virtual bool IsEmpty() = 0;
  virtual std::int64_t RecordCount() = 0;
  virtual platform::TBookmark Bookmark() = 0;
  virtual void GotoBookmark(const platform::TBookmark& bookmark) = 0;
  // Value of compared column no (the walk's own numbering, 0-based) of the
  // current row, copied into value.
  virtual void GetValue(std::int32_t no, TVEZVariant& value) = 0;
  // Name of compared column no, for error messages.
  virtual std::string ValueName(std::int32_t no) = 0;
};

class TVEZAO;

// A child operator (executed, so its rows come from its result dataset) as a
// walk input; compared column i is the child's link links[i], read with
// hidden access.
class TVEZAOChildInput : public TVEZWalkInput {
 public:
  TVEZAOChildInput(TVEZAO* child, std::vector<std::int32_t> links);
  void First() override;
  void Next() override;
  void Prior() override;
  bool Eof() override;
  bool IsEmpty() override;
  std::int64_t RecordCount() override;
  platform::TBookmark Bookmark() override;
  void GotoBookmark(const platform::TBookmark& bookmark) override;
  void GetValue(std::int32_t no, TVEZVariant& value) override;
  std::string ValueName(std::int32_t no) override;

  TVEZAO* Child() const { return FChild; }

 private:
  TVEZAO* FChild;
  std::vector<std::int32_t> FLinks;
};

}  // namespace vez
