#include "dbengine/sql/VEZNumericFunctions.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "dbengine/foundation/VEZDecimalRound.h"
#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZReservedWords.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Random.h"
#include "platform/core/Variant.h"

namespace vez {

namespace {

[[noreturn]] void RaiseInvalidOperation() {
  throw platform::EMathError("Invalid floating point operation");
}

// A function result must be a number: NaN is an invalid operation, an
// infinity from finite arguments an overflow.
double Checked(double result) {
  if (std::isnan(result)) RaiseInvalidOperation();
  if (std::isinf(result)) throw platform::EMathError("Floating point overflow");
  return result;
}

TVEZVariant& Argument(TVEZExprNode& node, std::size_t index) {
  if (index >= node.Children.size() || !node.Children[index])
    throw EVEZException(30121, "Unknown operator: '%s'", {std::string("missing argument")});
  return *node.Children[index]->GetDataValue();
}

double Arg(TVEZExprNode& node, std::size_t index) {
  return Argument(node, index).GetAsDouble();
}

// A whole number that must fit a 32-bit integer.
std::int32_t ToInt32(double whole) {
  if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) RaiseInvalidOperation();
  return static_cast<std::int32_t>(whole);
}

std::uint8_t RoundingModeOf(std::int32_t reserved_word) {
  if (reserved_word >= rwHALFEVEN && reserved_word <= rwRNDUP)
    return static_cast<std::uint8_t>(reserved_word - rwHALFEVEN + kRoundHalfEven);
  // Only the nine rounding words choose a mode.
  throw EVEZException(30505, "Rounding mode expected for function 'ROUND'");
}

}  // namespace

bool IsNumericFunctionOperator(TVEZDataOperator op) {
  return op >= doABS && op <= doSQRT;
}

void EvaluateNumericFunction(TVEZExprNode& node) {
  TVEZVariant& value = node.Value;
  switch (node.Operator) {
    case doABS: {
      CopyValue(value, Argument(node, 0));
      if (value.GetIsNull()) break;
      const platform::Variant v = value.GetAsVariant();
      if (v.ToDouble() < 0) value.InvertValue();
      break;
    }
    case doACOS:
    case doASIN: {
      const double x = Arg(node, 0);
      if (!(x >= -1.0 && x <= 1.0)) RaiseInvalidOperation();
      value.SetNull(bftDouble);
      value.SetAsDouble(node.Operator == doACOS ? std::acos(x) : std::asin(x));
      break;
    }
    case doATAN:
      value.SetNull(bftDouble);
      value.SetAsDouble(Checked(std::atan(Arg(node, 0))));
      break;
    case doCOS:
    case doSIN: {
      const double x = Arg(node, 0);
      if (!std::isfinite(x)) RaiseInvalidOperation();
      value.SetNull(bftDouble);
      value.SetAsDouble(node.Operator == doCOS ? std::cos(x) : std::sin(x));
      break;
    }
    case doEXP:
      value.SetNull(bftDouble);
      value.SetAsDouble(Checked(std::exp(Arg(node, 0))));
      break;
    case doLOG: {
      const double x = Arg(node, 0);
      if (!(x > 0)) RaiseInvalidOperation();
      value.SetNull(bftDouble);
      value.SetAsDouble(Checked(std::log(x)));
      break;
    }
    case doSQRT: {
      const double x = Arg(node, 0);
      if (!(x >= 0)) RaiseInvalidOperation();
      value.SetNull(bftDouble);
      value.SetAsDouble(Checked(std::sqrt(x)));
      break;
    }
    case doPOWER: {
      const double base = Arg(node, 0);
      const double exponent = Arg(node, 1);
      // A negative base with a fractional exponent has no real result.
      if (base < 0 && exponent != std::trunc(exponent)) RaiseInvalidOperation();
      value.SetNull(bftDouble);
      value.SetAsDouble(Checked(std::pow(base, exponent)));
      break;
    }
    case doSQR: {
      CopyValue(value, Argument(node, 0));
      TVEZVariant factor;
      CopyValue(factor, value);
      value.Mul(factor);
      if (!value.GetIsNull() &&
          (value.GetDataType() == bftDouble || value.GetDataType() == bftSingle ||
           value.GetDataType() == bftExtended))
        Checked(static_cast<double>(value.GetAsExtended()));
      break;
    }
    case doCEIL:
    case doFLOOR: {
      const double x = Arg(node, 0);
      const std::int32_t r = ToInt32(node.Operator == doCEIL ? std::ceil(x) : std::floor(x));
      value.SetNull(bftSignedInt32);
      value.SetAsInteger(r);
      break;
    }
    case doSIGN: {
      const double x = Arg(node, 0);
      value.SetNull(bftSignedInt32);
      value.SetAsInteger(x < 0 ? -1 : (x > 0 ? 1 : 0));
      break;
    }
    case doRAND: {
      const std::int32_t n = Argument(node, 0).GetAsInteger();
      value.SetNull(bftSignedInt32);
      value.SetAsInteger(n > 0 ? platform::Random(n) : 0);
      break;
    }
    case doROUND: {
      const std::size_t count = node.Children.size();
      if (count < 1 || count > 3) break;
      const double x = Arg(node, 0);
      if (count == 1) {
        const long double r = DecimalRoundDouble(0, kRoundHalfEven, x);
        const std::int32_t whole = ToInt32(static_cast<double>(r));
        value.SetNull(bftSignedInt32);
        value.SetAsInteger(whole);
        break;
      }
      // Read in 64 bits and held to the 32-bit range: a digit count beyond it
      // must not wrap into a small one (it raises as an infinite scale).
      const std::int32_t digits = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(Argument(node, 1).GetAsInt64(), INT32_MIN, INT32_MAX));
      const std::uint8_t mode =
          count == 3 ? RoundingModeOf(Argument(node, 2).GetAsInteger()) : kRoundHalfEven;
      value.SetNull(bftDouble);
      value.SetAsDouble(static_cast<double>(DecimalRoundDouble(digits, mode, x)));
      break;
    }
    default:
      throw EVEZException(30121, "Unknown operator: '%s'", {std::string("numeric function")});
  }
}

TVEZAdvancedFieldType NumericFunctionDataType(TVEZExprNode& node) {
  switch (node.Operator) {
    case doABS:
    case doSQR:
      if (node.Children.empty() || !node.Children[0]) return aftUnknown;
      return node.Children[0]->GetDataType();
    case doCEIL:
    case doFLOOR:
    case doSIGN:
    case doRAND:
      return aftInteger;
    case doROUND:
      return node.Children.size() == 1 ? aftInteger : aftDouble;
    default:
      return aftDouble;
  }
}

}  // namespace vez
