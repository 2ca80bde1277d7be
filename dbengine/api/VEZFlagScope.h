// TVEZFlagScope: gives a flag a value for a scope and puts the old value back
// at its end, however the scope is left.
#pragma once

namespace vez {

class TVEZFlagScope {
 public:
  TVEZFlagScope(bool& flag, bool value) : FFlag(flag), FOld(flag) { FFlag = value; }
  ~TVEZFlagScope() { FFlag = FOld; }
  TVEZFlagScope(const TVEZFlagScope&) = delete;
  TVEZFlagScope& operator=(const TVEZFlagScope&) = delete;

 private:
  bool& FFlag;
  bool FOld;
};

}  // namespace vez
