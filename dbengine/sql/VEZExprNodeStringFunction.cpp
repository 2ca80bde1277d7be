#include "dbengine/sql/VEZExprNodeStringFunction.h"

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/sql/VEZExprNodeCast.h"
#include "dbengine/sql/VEZExpression.h"
#include "platform/core/Collation.h"

#include <type_traits>

namespace vez {

namespace {

// The first child's value as a string (copied; a non-string is cast to an
// ANSI varchar).
void StringArgument(TVEZExprNode& node, std::size_t index, TVEZVariant& out) {
  if (index >= node.Children.size() || !node.Children[index])
    throw EVEZException(30131, "Unknown operator: '%s'", {OperatorToText(node.Operator)});
  CopyValue(out, *node.Children[index]->GetDataValue());
  if (!out.IsStringDataType()) out.Cast(bftVarchar);
}

// Blanks and control characters: codes up to 32.
template <typename C>
bool IsBlank(C c) {
  return static_cast<std::make_unsigned_t<C>>(c) <= 32;
}

template <typename S>
S Trim(const S& s, bool left, bool right) {
  std::size_t b = 0, e = s.size();
  if (left)
    while (b < e && IsBlank(s[b]))
      ++b;
  if (right)
    while (e > b && IsBlank(s[e - 1]))
      --e;
  return s.substr(b, e - b);
}

template <typename S>
S Substring(const S& s, std::int64_t start, std::int64_t length) {
  if (start < 1) start = 1;
  if (length < 0 || start > static_cast<std::int64_t>(s.size())) return S();
  return s.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length));
}

}  // namespace

TVEZAdvancedFieldType StringResultType(TVEZAdvancedFieldType t) {
  if (IsStringAdvancedFieldType(t)) return t;
  if (t == aftMemo || t == aftFormattedMemo) return aftString;
  if (t == aftWideMemo) return aftWideString;
  return t;
}

void WrapInCastWhenTypeDiffers(TVEZExprNode::TNodePtr& child, TVEZAdvancedFieldType type) {
  if (!child || child->Kind() == TVEZExprNodeKind::Cast || child->GetDataType() == type) return;
  child = std::make_unique<TVEZExprNodeCast>(std::move(child), type, nullptr);
}

TVEZExprNodeStringFunction::TVEZExprNodeStringFunction(TVEZDataOperator op)
    : TVEZExprNode(op, true, false) {
  FKind = TVEZExprNodeKind::StringFunction;
}

TVEZVariant* TVEZExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT:
      StringArgument(*this, 0, Value);
      for (std::size_t i = 1; i < Children.size(); ++i)
        if (Children[i]) Value.Add(*Children[i]->GetDataValue());
      break;
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM: {
      StringArgument(*this, 0, Value);
      if (Value.GetIsNull()) break;
      const TVEZBaseFieldType type = Value.GetDataType();
      if (Value.IsWideStringDataType()) {
        const std::u16string s = Value.GetAsWideString();
        std::u16string r;
        if (Operator == doUPPER)
          r = VEZWideUpperCase(s);
        else if (Operator == doLOWER)
          r = VEZWideLowerCase(s);
        else
          r = Trim(s, Operator != doRTRIM, Operator != doLTRIM);
        Value.Clear(type);
        Value.SetAsWideString(r);
      } else {
        const std::string s = Value.GetAsAnsiString();
        std::string r;
        if (Operator == doUPPER)
          r = platform::AnsiUpperCase(s);
        else if (Operator == doLOWER)
          r = platform::AnsiLowerCase(s);
        else
          r = Trim(s, Operator != doRTRIM, Operator != doLTRIM);
        Value.Clear(type);
        Value.SetAsAnsiString(r);
      }
      break;
    }
    case doLENGTH: {
      TVEZVariant s;
      StringArgument(*this, 0, s);
      std::int32_t length = 0;
      if (!s.GetIsNull())
        length = static_cast<std::int32_t>(s.IsWideStringDataType() ? s.GetAsWideString().size()
                                                                    : s.GetAsAnsiString().size());
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(length);
      break;
    }
    case doPOS: {
      TVEZVariant a, b;
      StringArgument(*this, 0, a);
      StringArgument(*this, 1, b);
      if (a.GetIsNull() || b.GetIsNull()) {
        Value.SetNull(bftSignedInt32);
        break;
      }
      std::size_t at;
      if (a.IsWideStringDataType() || b.IsWideStringDataType())
        at = b.GetAsWideString().find(a.GetAsWideString());
      else
        at = b.GetAsAnsiString().find(a.GetAsAnsiString());
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(at == std::string::npos ? 0 : static_cast<std::int32_t>(at + 1));
      break;
    }
    case doSUBSTRING: {
      if (Children.size() < 2 || !Children[1])
        throw EVEZException(30131, "Unknown operator: '%s'", {OperatorToText(Operator)});
      // Read in 64 bits: a start or length beyond 32 bits must not wrap into
      // a small number (1e12 is past the end, not position 1).
      const std::int64_t start = Children[1]->GetDataValue()->GetAsInt64();
      std::int64_t length = -1;
      bool length_given = Children.size() > 2 && Children[2];
      if (length_given) length = Children[2]->GetDataValue()->GetAsInt64();
      StringArgument(*this, 0, Value);
      if (Value.GetIsNull()) break;
      const TVEZBaseFieldType type = Value.GetDataType();
      if (Value.IsWideStringDataType()) {
        const std::u16string s = Value.GetAsWideString();
        if (!length_given) length = static_cast<std::int64_t>(s.size());
        Value.Clear(type);
        Value.SetAsWideString(Substring(s, start, length));
      } else {
        const std::string s = Value.GetAsAnsiString();
        if (!length_given) length = static_cast<std::int64_t>(s.size());
        Value.Clear(type);
        Value.SetAsAnsiString(Substring(s, start, length));
      }
      break;
    }
    default:
      throw EVEZException(30131, "Unknown operator: '%s'", {OperatorToText(Operator)});
  }
  return &Value;
}

TVEZAdvancedFieldType TVEZExprNodeStringFunction::GetDataType() {
  switch (Operator) {
    case doCONCAT:
      return TVEZExprNode::GetDataType();
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM:
    case doSUBSTRING:
      if (Children.empty() || !Children[0]) return aftUnknown;
      return StringResultType(Children[0]->GetDataType());
    case doLENGTH:
    case doPOS:
      return aftInteger;
    default:
      throw EVEZException(30131, "Unknown operator: '%s'", {OperatorToText(Operator)});
  }
}

std::int32_t TVEZExprNodeStringFunction::GetDataSize() {
  switch (Operator) {
    case doCONCAT: {
      const TVEZAdvancedFieldType type = GetDataType();
      for (TNodePtr& child : Children)
        WrapInCastWhenTypeDiffers(child, type);
      std::int32_t size = 0;
      for (const TNodePtr& child : Children)
        if (child) size += child->GetDataSize();
      return size;
    }
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM:
      return Children.empty() || !Children[0] ? 0 : Children[0]->GetDataSize();
    case doSUBSTRING: {
      const std::int32_t size = Children.empty() || !Children[0] ? 0 : Children[0]->GetDataSize();
      if (size != 0 || !IsStringAdvancedFieldType(GetDataType())) return size;
      if (Children.size() < 3 || !Children[2]) return 4096;
      return Children[2]->GetDataValue()->GetAsInteger();
    }
    default:
      return 0;
  }
}

}  // namespace vez
