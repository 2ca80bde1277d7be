// A scripted expression for tests of the layers below the SQL engine: the
// storage engine's scan protocol and the dataset component's SQL filter hook.
//
// Thread safety: used by one test thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/storage/VEZBaseExpression.h"
#include "dbengine/storage/VEZCursor.h"
#include "dbengine/storage/VEZScanSearchCondition.h"

namespace vez::test {

// An expression whose scan-protocol answers are scripted by the test. Its
// "tree" is a list of node pointers; RemoveExtractedNodes and AddNode move
// nodes out of and back into it as the SQL engine's expression would.
class FakeExpression : public TVEZBaseExpression {
 public:
  std::vector<TVEZExprNode*> nodes;  // the tree's top-level nodes
  // Called by CreateIndexScanConditions.
  std::function<void(const TVEZIndexDefs&, TVEZScanSearchConditionArray&, std::int32_t)> on_create;
  // Called by ExtendMultiFieldIndexCondition.
  std::function<bool(TVEZScanSearchCondition&, const TVEZIndexDef&)> on_extend;
  std::string parsed_text;
  TVEZCursor* bound_cursor = nullptr;
  TVEZAO* bound_parent_ao = nullptr;
  TVEZCursor* bound_parent_cursor = nullptr;
  int assign_cursor_calls = 0;

  bool ParseForDefaultValueExpression(const std::string& text) override {
    parsed_text = text;
    return true;
  }
  TVEZVariant* GetValue(bool) override { return nullptr; }
  // The answer for the record being looked at; true without one.
  std::function<bool(FakeExpression&)> on_result;
  bool GetResult() override { return on_result ? on_result(*this) : true; }
  bool IsEmpty() const override { return nodes.empty(); }
  void AssignCursor(TVEZCursor* cursor, TVEZAO* parent_query_ao,
                    TVEZCursor* parent_cursor) override {
    ++assign_cursor_calls;
    bound_cursor = cursor;
    bound_parent_ao = parent_query_ao;
    bound_parent_cursor = parent_cursor;
  }
  // The record buffer the expression is to read.
  std::uint8_t* assigned_buffer = nullptr;
  void AssignCursorBuffer(std::uint8_t* buffer, bool) override { assigned_buffer = buffer; }
  void CreateIndexScanConditions(const TVEZIndexDefs& index_defs,
                                 TVEZScanSearchConditionArray& conditions,
                                 std::int32_t session_id) override {
    if (on_create) on_create(index_defs, conditions, session_id);
  }
  bool ExtendMultiFieldIndexCondition(TVEZScanSearchCondition& condition,
                                      const TVEZIndexDef& index_def) override {
    return on_extend ? on_extend(condition, index_def) : false;
  }
  void RemoveExtractedNodes(const TVEZScanSearchConditionArray& conditions, std::int32_t no,
                            std::int32_t end_no) override {
    for (std::int32_t chosen : {no, end_no}) {
      if (chosen < 0 || chosen >= conditions.Count()) continue;
      const TVEZScanSearchCondition& c = *conditions.Items(chosen);
      for (std::size_t p = 0; p < c.ParentExpressions.size(); ++p) {
        if (c.ParentExpressions[p] != this) continue;
        std::erase(nodes, c.ParentExpressionNodes[p]);
      }
    }
  }
  void AddNode(TVEZExprNode* node) override { nodes.push_back(node); }
};

// Node identities for FakeExpression trees; never dereferenced.
inline TVEZExprNode* FakeNode(std::uintptr_t n) {
  return reinterpret_cast<TVEZExprNode*>(n * 16);
}

}  // namespace vez::test
