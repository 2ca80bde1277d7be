#include "dbengine/sql/VEZExprNodeBoolean.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/CodePage.h"

namespace vez {

namespace {

[[noreturn]] void RaiseUnknownOperator(TVEZDataOperator op) {
  throw EVEZException(30116, "Unknown operator: '%s'", {OperatorToText(op)});
}

// The value of child index; a missing child is a malformed tree.
TVEZVariant& ChildValue(const TVEZExprNode& node, std::size_t index) {
  if (index >= node.Children.size() || !node.Children[index]) RaiseUnknownOperator(node.Operator);
  return *node.Children[index]->GetDataValue();
}

}  // namespace

TVEZExprNodeBoolean::TVEZExprNodeBoolean(bool case_insensitive, bool partial_key)
    : TVEZExprNode(case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Boolean;
}

TVEZExprNodeBoolean::TVEZExprNodeBoolean(TVEZDataOperator op, bool case_insensitive,
                                         bool partial_key, std::string escape_str)
    : TVEZExprNode(op, case_insensitive, partial_key), EscapeStr(std::move(escape_str)) {
  FKind = TVEZExprNodeKind::Boolean;
}

TVEZExprNodeBoolean::TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node, bool case_insensitive,
                                         bool partial_key)
    : TVEZExprNode(op, std::move(node), case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Boolean;
}

TVEZExprNodeBoolean::TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                                         bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, std::move(node1), std::move(node2), case_insensitive, partial_key) {
  FKind = TVEZExprNodeKind::Boolean;
}

TVEZExprNodeBoolean::TVEZExprNodeBoolean(TVEZDataOperator op, TNodePtr node1, TNodePtr node2,
                                         TNodePtr node3, bool case_insensitive, bool partial_key)
    : TVEZExprNode(op, std::move(node1), std::move(node2), std::move(node3), case_insensitive,
                   partial_key) {
  FKind = TVEZExprNodeKind::Boolean;
}

int TVEZExprNodeBoolean::EvaluateLike() {
  // Holders take type, null flag and data of the children's values; a link is
  // enough, since evaluating one child never touches another's value.
  TVEZVariant value(bftUnknown), pattern(bftUnknown);
  value.Assign(ChildValue(*this, 0), false);
  pattern.Assign(ChildValue(*this, 1), false);
  if (pattern.GetIsNull()) return -1;
  // A NULL value reads as the empty text of the pattern's type, so NULL LIKE
  // '%' is True.
  if (value.GetIsNull()) value.SetNull(pattern.GetDataType());
  const TVEZBaseFieldType common =
      GetCommonBaseType(value.GetDataType(), pattern.GetDataType(), false);
  if (!IsStringBaseFieldType(common))
    throw EVEZException(30120, "Not string argument in function '%s'", {std::string("LIKE")});
  const bool has_escape = !EscapeStr.empty();
  if (IsWideStringBaseFieldType(common)) {
    const char16_t escape = has_escape ? platform::AnsiToWide(EscapeStr.substr(0, 1))[0] : u'\0';
    return MatchLikeWide(value.GetAsWideString(), pattern.GetAsWideString(), has_escape, escape,
                         FCaseInsensitive)
               ? 1
               : 0;
  }
  const char escape = has_escape ? EscapeStr[0] : '\0';
  return MatchLikeAnsi(value.GetAsAnsiString(), pattern.GetAsAnsiString(), has_escape, escape,
                       FCaseInsensitive)
             ? 1
             : 0;
}

TVEZVariant* TVEZExprNodeBoolean::GetDataValue() {
  // -1 NULL, 0 False, 1 True.
  int result = -1;
  switch (Operator) {
    case doNOT: {
      const TVEZVariant& operand = ChildValue(*this, 0);
      if (!operand.GetIsNull()) result = operand.GetAsBoolean() ? 0 : 1;
      break;
    }
    case doAND:
      // False wins over NULL, NULL over True; evaluation stops at False.
      result = 1;
      for (const TNodePtr& child : Children) {
        if (!child) continue;
        const TVEZVariant& v = *child->GetDataValue();
        if (v.GetIsNull()) {
          result = -1;
        } else if (!v.GetAsBoolean()) {
          result = 0;
          break;
        }
      }
      break;
    case doOR:
      // True wins over NULL, NULL over False; evaluation stops at True.
      result = 0;
      for (const TNodePtr& child : Children) {
        if (!child) continue;
        const TVEZVariant& v = *child->GetDataValue();
        if (v.GetIsNull()) {
          result = -1;
        } else if (v.GetAsBoolean()) {
          result = 1;
          break;
        }
      }
      break;
    case doIN:
    case doNOTIN: {
      if (Children.size() >= 2 && Children[1] &&
          Children[1]->Kind() == TVEZExprNodeKind::Subquery) {
        // A NULL value is unknown against any row, as in a value list; only
        // a query without rows settles it (IN False, NOT IN True).
        auto* subquery = static_cast<TVEZExprNodeSubquery*>(Children[1].get());
        TVEZVariant value(bftUnknown);
        value.Assign(ChildValue(*this, 0), true);
        if (value.GetIsNull()) {
          result = subquery->Exists() ? -1 : (Operator == doNOTIN ? 1 : 0);
          break;
        }
        result = subquery->IsValueIn(&value);
        if (Operator == doNOTIN) result = 1 - result;
        break;
      }
      const TVEZVariant& value = ChildValue(*this, 0);
      if (value.GetIsNull()) break;
      // A NULL list value never matches, and leaves the result False.
      result = 0;
      for (std::size_t i = 1; i < Children.size(); ++i) {
        if (value.Compare(ChildValue(*this, i), true, true, false) == cmprEqual) {
          result = 1;
          break;
        }
      }
      if (Operator == doNOTIN) result = 1 - result;
      break;
    }
    case doEXISTS:
      if (Children.empty() || !Children[0] || Children[0]->Kind() != TVEZExprNodeKind::Subquery)
        throw EVEZException(30117, "Unknown operator: '%s'", {OperatorToText(Operator)});
      result = static_cast<TVEZExprNodeSubquery*>(Children[0].get())->Exists();
      break;
    case doBETWEEN:
    case doNOTBETWEEN: {
      const TVEZVariant& value = ChildValue(*this, 0);
      const TVEZVariant& low = ChildValue(*this, 1);
      const TVEZVariant& high = ChildValue(*this, 2);
      if (value.GetIsNull() || low.GetIsNull() || high.GetIsNull()) break;
      const TVEZCompareResult r1 = value.Compare(low, true, true, false);
      const TVEZCompareResult r2 = value.Compare(high, true, true, false);
      result = (r1 == cmprEqual || r1 == cmprGreater) && (r2 == cmprEqual || r2 == cmprLower);
      if (Operator == doNOTBETWEEN) result = 1 - result;
      break;
    }
    case doLIKE:
    case doNOTLIKE:
      result = EvaluateLike();
      if (Operator == doNOTLIKE && result != -1) result = 1 - result;
      break;
    case doISNULL:
      result = ChildValue(*this, 0).GetIsNull() ? 1 : 0;
      break;
    case doISNOTNULL:
      result = ChildValue(*this, 0).GetIsNull() ? 0 : 1;
      break;
    default:
      RaiseUnknownOperator(Operator);
  }
  if (result == -1) {
    Value.SetNull(Value.GetDataType());
  } else {
    SetBooleanValue(Value, result == 1);
  }
  return &Value;
}

}  // namespace vez
