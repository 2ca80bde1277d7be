// Test support for expression trees: builders for every node class the tests
// use, a probe node whose value the test scripts (and which counts its
// evaluations), a compact printer of trees, and a record vehicle: a cursor
// with one column of each storage type whose buffer the tests fill through
// SetRecordFieldData.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/foundation/VEZSQLTypes.h"
#include "dbengine/foundation/VEZVariant.h"
#include "dbengine/sql/VEZExprNode.h"
#include "dbengine/sql/VEZExprNodeAggregated.h"
#include "dbengine/sql/VEZExprNodeArithmetic.h"
#include "dbengine/sql/VEZExprNodeBoolean.h"
#include "dbengine/sql/VEZExprNodeCase.h"
#include "dbengine/sql/VEZExprNodeComparison.h"
#include "dbengine/sql/VEZExprNodeConst.h"
#include "dbengine/sql/VEZExprNodeField.h"
#include "dbengine/sql/VEZExprNodeSubquery.h"
#include "dbengine/sql/VEZExpression.h"
#include "dbengine/storage/VEZRecordFieldData.h"
#include "tests/dbengine/storage/StorageTestDoubles.h"

namespace vez::test {

using TNode = std::unique_ptr<TVEZExprNode>;

// ---------------------------------------------------------------------------
// Constants

inline TNode Const(const std::function<void(TVEZVariant&)>& set) {
  auto node = std::make_unique<TVEZExprNodeConst>();
  set(node->Value);
  return node;
}
inline TNode Int(std::int32_t v) {
  return Const([v](TVEZVariant& x) { x.SetAsInteger(v); });
}
inline TNode Int64(std::int64_t v) {
  return Const([v](TVEZVariant& x) { x.SetAsInt64(v); });
}
inline TNode Dbl(double v) {
  return Const([v](TVEZVariant& x) { x.SetAsDouble(v); });
}
inline TNode Str(const std::string& v) {
  return Const([v](TVEZVariant& x) { x.SetAsAnsiString(v); });
}
inline TNode WStr(const std::u16string& v) {
  return Const([v](TVEZVariant& x) { x.SetAsWideString(v); });
}
inline TNode Bool(bool v) {
  return Const([v](TVEZVariant& x) { x.SetAsBoolean(v); });
}
// An untyped NULL literal.
inline TNode Null() {
  return std::make_unique<TVEZExprNodeConst>();
}

// ---------------------------------------------------------------------------
// A node whose value the test sets: true, false, NULL (nullopt) or any value,
// counting how often it is evaluated.

class TProbeNode : public TVEZExprNode {
 public:
  explicit TProbeNode(std::optional<bool> value, int* evaluations = nullptr)
      : TVEZExprNode(false, false), evaluations_(evaluations) {
    if (value)
      SetBooleanValue(Value, *value);
    else
      Value.SetNull(bftLogical);
  }
  TVEZVariant* GetDataValue() override {
    if (evaluations_ != nullptr) ++*evaluations_;
    return &Value;
  }

 private:
  int* evaluations_;
};

inline TNode Probe(std::optional<bool> value, int* evaluations = nullptr) {
  return std::make_unique<TProbeNode>(value, evaluations);
}

// ---------------------------------------------------------------------------
// Fields, comparisons, predicates, arithmetic

inline TNode Field(TVEZCursor* cursor, const std::string& name) {
  return std::make_unique<TVEZExprNodeField>(cursor, name, "");
}

inline TNode Cmp(TVEZDataOperator op, TNode a, TNode b, bool three_valued = true,
                 bool case_insensitive = false, bool partial_key = false) {
  return std::make_unique<TVEZExprNodeComparison>(op, std::move(a), std::move(b), three_valued,
                                                  case_insensitive, partial_key);
}

template <class... T>
TNode Nary(TVEZDataOperator op, T&&... nodes) {
  auto node = std::make_unique<TVEZExprNodeBoolean>(op, false, false, "");
  (node->AddChild(std::forward<T>(nodes)), ...);
  return node;
}
template <class... T>
TNode And(T&&... nodes) {
  return Nary(doAND, std::forward<T>(nodes)...);
}
inline TNode Or(TNode a, TNode b) {
  return Nary(doOR, std::move(a), std::move(b));
}
inline TNode Not(TNode a) {
  return Nary(doNOT, std::move(a));
}
inline TNode IsNull(TNode a) {
  return Nary(doISNULL, std::move(a));
}
inline TNode IsNotNull(TNode a) {
  return Nary(doISNOTNULL, std::move(a));
}
template <class... T>
TNode In(TNode value, T&&... list) {
  return Nary(doIN, std::move(value), std::forward<T>(list)...);
}
template <class... T>
TNode NotIn(TNode value, T&&... list) {
  return Nary(doNOTIN, std::move(value), std::forward<T>(list)...);
}
inline TNode Between(TNode v, TNode low, TNode high, bool negated = false) {
  return Nary(negated ? doNOTBETWEEN : doBETWEEN, std::move(v), std::move(low), std::move(high));
}
inline TNode Like(TNode v, TNode pattern, const std::string& escape = "",
                  bool case_insensitive = false, bool negated = false) {
  auto node = std::make_unique<TVEZExprNodeBoolean>(negated ? doNOTLIKE : doLIKE, case_insensitive,
                                                    false, escape);
  node->AddChild(std::move(v));
  node->AddChild(std::move(pattern));
  return node;
}

inline TNode Arith(TVEZDataOperator op, TNode a, TNode b) {
  return std::make_unique<TVEZExprNodeArithmetic>(op, std::move(a), std::move(b), false, false);
}
inline TNode Neg(TNode a) {
  return std::make_unique<TVEZExprNodeArithmetic>(doSUB, std::move(a), false, false);
}

// ---------------------------------------------------------------------------
// Printing: operator(children) for inner nodes, the column name for a field,
// the literal for a constant (NULL, text in quotes), "?" for a probe.

inline std::string TreeText(const TVEZExprNode* node) {
  if (node == nullptr) return "nil";
  switch (node->Kind()) {
    case TVEZExprNodeKind::Field:
      return static_cast<const TVEZExprNodeField*>(node)->FFieldName;
    case TVEZExprNodeKind::Const:
      if (node->Value.GetIsNull()) return "NULL";
      if (node->Value.IsStringDataType()) return "'" + node->Value.GetAsAnsiString() + "'";
      return node->Value.GetAsAnsiString();
    case TVEZExprNodeKind::Generic:
      if (node->Children.empty()) return "?";
      break;
    default:
      break;
  }
  std::string text = OperatorToText(node->Operator) + "(";
  for (std::size_t i = 0; i < node->Children.size(); ++i) {
    if (i > 0) text += ",";
    text += TreeText(node->Children[i].get());
  }
  return text + ")";
}

// A fuller print for parser tests: constants with their storage type, fields
// with their table name, comparisons with their flags ([3v] TrueFalseNullLogic,
// [ci] case-insensitive, [pk] partial key), LIKE with its case flag and
// escape, and every operator by name.
inline std::string OperatorName(TVEZDataOperator op) {
  switch (op) {
    case doIN:
      return "IN";
    case doNOTIN:
      return "NOT IN";
    case doBETWEEN:
      return "BETWEEN";
    case doNOTBETWEEN:
      return "NOT BETWEEN";
    case doEXISTS:
      return "EXISTS";
    case doSYSDATE:
      return "SYSDATE";
    case doCURRENT_DATE:
      return "CURRENT_DATE";
    case doCURRENT_TIME:
      return "CURRENT_TIME";
    default:
      break;
  }
  // The function operators print by their SQL names.
  static const char* const kFunctionNames[] = {"ABS",  "ACOS",  "ASIN", "ATAN",  "CEIL", "COS",
                                               "EXP",  "FLOOR", "LOG",  "POWER", "RAND", "ROUND",
                                               "SIGN", "SIN",   "SQR",  "SQRT"};
  if (op >= doABS && op <= doSQRT) return kFunctionNames[op - doABS];
  switch (op) {
    case doLENGTH:
      return "LENGTH";
    case doPOS:
      return "POS";
    case doSUBSTRING:
      return "SUBSTRING";
    case doTODATE:
      return "TODATE";
    case doTOSTRING:
      return "TOSTRING";
    case doEXTRACT:
      return "EXTRACT";
    case doCAST:
      return "CAST";
    case doMIMETOBIN:
      return "MIMETOBIN";
    case doROWNUM:
      return "ROWNUM";
    case doLASTAUTOINC:
      return "LASTAUTOINC";
    default:
      return OperatorToText(op);
  }
}

inline std::string TypeTag(TVEZBaseFieldType t) {
  switch (t) {
    case bftSignedInt32:
      return "Int32";
    case bftSignedInt64:
      return "Int64";
    case bftDouble:
      return "Dbl";
    case bftVarchar:
      return "Str";
    case bftWideVarchar:
      return "WStr";
    case bftLogical:
      return "Bool";
    case bftDate:
      return "Date";
    case bftTime:
      return "Time";
    case bftDateTime:
      return "DateTime";
    case bftUnknown:
      return "Untyped";
    default:
      return "Type" + std::to_string(static_cast<int>(t));
  }
}

inline std::string ShapeText(const TVEZExprNode* node) {
  if (node == nullptr) return "nil";
  std::string flags;
  switch (node->Kind()) {
    case TVEZExprNodeKind::Field: {
      const auto* f = static_cast<const TVEZExprNodeField*>(node);
      return f->FTableName.empty() ? f->FFieldName : f->FTableName + "." + f->FFieldName;
    }
    case TVEZExprNodeKind::Const: {
      const TVEZVariant& v = node->Value;
      std::string text;
      if (v.GetIsNull())
        text = "NULL";
      else if (v.IsStringDataType())
        text = "'" + v.GetAsAnsiString() + "'";
      else if (v.GetDataType() == bftLogical)
        text = v.GetAsBoolean() ? "True" : "False";
      else
        text = v.GetAsAnsiString();
      return text + ":" + TypeTag(v.GetDataType());
    }
    case TVEZExprNodeKind::DateFunction:
      if (node->Children.empty()) return OperatorName(node->Operator);
      break;
    case TVEZExprNodeKind::Aggregated:
      if (node->Operator == doCOUNTALL) return "COUNT(*)";
      if (static_cast<const TVEZExprNodeAggregated*>(node)->distinct) flags = "distinct";
      break;
    case TVEZExprNodeKind::Case: {
      const auto* c = static_cast<const TVEZExprNodeCase*>(node);
      std::string text = c->FIsCoalesceExpression ? "COALESCE(" : "CASE(";
      for (std::size_t i = 0; i < node->Children.size(); ++i)
        text += (i > 0 ? "," : "") + ShapeText(node->Children[i].get());
      return text + ")";
    }
    case TVEZExprNodeKind::Comparison: {
      const auto* c = static_cast<const TVEZExprNodeComparison*>(node);
      for (auto [on, tag] :
           {std::pair{c->F3ValueLogic, "3v"}, std::pair{c->FCaseInsensitive, "ci"},
            std::pair{c->FPartialKey, "pk"}, std::pair{c->FQuantifier == qALL, "all"},
            std::pair{c->FQuantifier == qANY, "any"}})
        if (on) flags += flags.empty() ? tag : std::string(",") + tag;
      break;
    }
    case TVEZExprNodeKind::Subquery: {
      // Where the query starts (token number) and the checks of its runs.
      const auto* q = static_cast<const TVEZExprNodeSubquery*>(node);
      return std::string("SUBQ") + (q->FMustHaveOneField ? "[1f" : "[nf") +
             (q->FMustHaveOneRow ? ",1r]@" : ",nr]@") + std::to_string(q->FTokenNo);
    }
    case TVEZExprNodeKind::Boolean: {
      const auto* b = static_cast<const TVEZExprNodeBoolean*>(node);
      if (node->Operator == doLIKE || node->Operator == doNOTLIKE) {
        if (node->FCaseInsensitive) flags = "ci";
        if (!b->EscapeStr.empty()) flags += (flags.empty() ? "esc=" : ",esc=") + b->EscapeStr;
      }
      break;
    }
    default:
      break;
  }
  std::string text = OperatorName(node->Operator);
  if (!flags.empty()) text += "[" + flags + "]";
  text += "(";
  for (std::size_t i = 0; i < node->Children.size(); ++i) {
    if (i > 0) text += ",";
    text += ShapeText(node->Children[i].get());
  }
  return text + ")";
}

// ---------------------------------------------------------------------------
// The record vehicle: a cursor laid out as a table would be, with its
// current record buffer.

struct TColumnSpec {
  std::string name;
  TVEZAdvancedFieldType type;
  std::int32_t size = 0;
};

class TRecordVehicle {
 public:
  explicit TRecordVehicle(const std::vector<TColumnSpec>& columns) {
    for (const TColumnSpec& c : columns) {
      TVEZFieldDef* def = cursor.FieldDefs().AddCreated();
      def->Name = c.name;
      def->SetFieldDefDataType(c.type, c.size);
    }
    cursor.SetUpLayout();
    cursor.ShowAllFields();
    buffer = cursor.AllocateRecordBuffer();
    cursor.InternalInitRecord(buffer, true);
    cursor.CurrentRecordBuffer = buffer;
  }
  ~TRecordVehicle() { cursor.FreeRecordBuffer(buffer); }
  TRecordVehicle(const TRecordVehicle&) = delete;
  TRecordVehicle& operator=(const TRecordVehicle&) = delete;

  std::int32_t No(const std::string& name) const {
    return cursor.FieldDefs().GetDefNumberByName(name);
  }
  const TVEZFieldDef& Def(const std::string& name) const {
    return *cursor.FieldDefs().GetDef(No(name));
  }
  // Writes the dataset form of a value (padded to the field's size).
  void SetBytes(const std::string& name, const void* data, std::size_t size) {
    std::vector<std::uint8_t> padded(
        std::max<std::size_t>(size, static_cast<std::size_t>(Def(name).MemoryDataSize) + 8), 0);
    std::memcpy(padded.data(), data, size);
    SetRecordFieldData(No(name), cursor.FieldDefs(), padded.data(), buffer);
  }
  void SetNull(const std::string& name) {
    SetRecordFieldData(No(name), cursor.FieldDefs(), nullptr, buffer);
  }
  template <class T>
  void Set(const std::string& name, T value) {
    SetBytes(name, &value, sizeof value);
  }
  void SetInt(const std::string& name, std::int32_t v) { Set(name, v); }
  void SetDouble(const std::string& name, double v) { Set(name, v); }
  void SetStr(const std::string& name, const std::string& v) {
    SetBytes(name, v.c_str(), v.size() + 1);
  }
  void SetWStr(const std::string& name, const std::u16string& v) {
    SetBytes(name, v.c_str(), 2 * (v.size() + 1));
  }
  void SetBool(const std::string& name, bool v) {
    Set(name, static_cast<std::int16_t>(v ? -1 : 0));
  }

  test::TestCursor cursor;
  std::uint8_t* buffer = nullptr;
};

// The value of a tree evaluated on the vehicle's buffer through an
// expression: nullopt for NULL, else the Boolean.
inline std::optional<bool> EvalBool(TVEZExpression& e) {
  TVEZVariant* v = e.GetValue(true);
  if (v->GetIsNull()) return std::nullopt;
  return v->GetAsBoolean();
}

inline std::string TriText(std::optional<bool> v) {
  return v ? (*v ? "True" : "False") : "NULL";
}

}  // namespace vez::test
