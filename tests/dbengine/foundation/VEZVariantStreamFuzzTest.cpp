// The stream form of typed values is read from stored definitions, so a
// damaged one must be refused with the engine's read error: valid forms of
// every type are damaged at random (bytes changed, the size field given
// extreme values, the data cut short) and read back. Either the read works
// and the value it gives saves and reads back the same, or it raises an
// EVEZException; anything else (another exception, a crash, a sanitizer
// report) fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZMemoryStream.h"
#include "dbengine/foundation/VEZVariant.h"
#include "tests/common/AllocationCap.h"
#include "tests/dbengine/foundation/VEZVariantTestUtil.h"

namespace vez {
namespace {

using test::AllocationCap;
using test::IsMemoryError;
using testing::Bytes;

Bytes FormOf(const TVEZVariant& v) {
  TVEZMemoryStream s;
  v.SaveToStream(s);
  Bytes out(static_cast<std::size_t>(s.Size()));
  s.SetPosition(0);
  if (!out.empty()) s.ReadBuffer(out.data(), static_cast<std::int32_t>(out.size()));
  return out;
}

// Valid forms: one value of every type that has a storage form, and NULLs.
std::vector<Bytes> ValidForms() {
  std::vector<Bytes> forms;
  auto add = [&](auto set) {
    TVEZVariant v;
    set(v);
    forms.push_back(FormOf(v));
  };
  add([](TVEZVariant& v) { v.SetAsShortint(-5); });
  add([](TVEZVariant& v) { v.SetAsSmallint(-300); });
  add([](TVEZVariant& v) { v.SetAsInteger(123456); });
  add([](TVEZVariant& v) { v.SetAsByte(7); });
  add([](TVEZVariant& v) { v.SetAsWord(60000); });
  add([](TVEZVariant& v) { v.SetAsCardinal(4000000000u); });
  add([](TVEZVariant& v) { v.SetAsSingle(1.5f); });
  add([](TVEZVariant& v) { v.SetAsDouble(-2.25); });
  add([](TVEZVariant& v) { v.SetAsExtended(3.0L); });
  add([](TVEZVariant& v) { v.SetAsCurrency(12.34); });
  add([](TVEZVariant& v) { v.SetAsAnsiString("measured shaft power"); });
  add([](TVEZVariant& v) { v.SetAsWideString(u"torque"); });
  add([](TVEZVariant& v) { v.SetAsVEZDate(738000); });
  add([](TVEZVariant& v) { v.SetAsVEZTime(3600000); });
  add([](TVEZVariant& v) { v.SetAsBoolean(true); });
  add([](TVEZVariant& v) { v.SetNull(bftSignedInt32); });
  add([](TVEZVariant& v) { v.SetNull(bftVarchar); });
  for (TVEZBaseFieldType t : {bftChar, bftWideChar, bftSignedInt64, bftDateTime, bftBytes,
                              bftVarBytes, bftBlob, bftClob, bftWideClob}) {
    TVEZVariant v;
    Bytes data;
    switch (t) {
      case bftChar:
        data = testing::RawAnsi("abc");
        break;
      case bftWideChar:
        data = testing::RawWide("ab");
        break;
      case bftSignedInt64:
        data = testing::Raw<std::int64_t>(-1);
        break;
      case bftDateTime:
        data = testing::RawDateTime(738000, 1000);
        break;
      case bftWideClob:
        data = testing::RawWide("wide text", false);
        break;
      default:
        data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    }
    v.SetData(data.data(), static_cast<std::int32_t>(data.size()), t, true);
    forms.push_back(FormOf(v));
  }
  return forms;
}

// Reads bytes as a typed value. True when it read; false when it raised the
// engine's error. Other exceptions fail the test.
bool ReadBack(const Bytes& bytes) {
  TVEZMemoryStream s;
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  s.SetPosition(0);
  TVEZVariant v;
  try {
    v.LoadFromStream(s);
  } catch (const EVEZException& e) {
    EXPECT_FALSE(IsMemoryError(e)) << e.Message();
    return false;
  }
  // What was read is a sound value: it writes the bytes it consumed (any
  // non-zero null byte reads as NULL and is written as 255), which read back
  // as the same value.
  const Bytes again = FormOf(v);
  Bytes consumed(bytes.begin(), bytes.begin() + s.Position());
  if (consumed.size() > 1 && consumed[1] != 0) consumed[1] = 255;
  EXPECT_EQ(again, consumed);
  TVEZMemoryStream s2;
  s2.WriteBuffer(again.data(), static_cast<std::int32_t>(again.size()));
  s2.SetPosition(0);
  TVEZVariant w;
  w.LoadFromStream(s2);
  EXPECT_EQ(FormOf(w), again);
  v.StrLen();
  return true;
}

TEST(VEZVariantStreamFuzz, DamagedFormsReadOrRaiseTheReadError) {
  std::mt19937 rng(20261211);
  AllocationCap cap;
  const std::vector<Bytes> forms = ValidForms();
  int refused = 0, read = 0;
  for (std::size_t f = 0; f < forms.size(); ++f) {
    ASSERT_TRUE(ReadBack(forms[f])) << "valid form " << f;
    for (int round = 0; round < 400; ++round) {
      Bytes b = forms[f];
      SCOPED_TRACE("form " + std::to_string(f) + " round " + std::to_string(round));
      const int kind = static_cast<int>(rng() % 4);
      if (kind == 0 || kind == 3) {
        // Random bytes anywhere.
        const int n = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < n; ++i)
          b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
      }
      if (kind == 1 && b.size() >= 6) {
        // The size field set to an extreme value.
        static const std::uint32_t sizes[] = {0u,          1u,          0x7FFFFFFFu, 0x80000000u,
                                              0xFFFFFFFFu, 0x40000000u, 2u,          65536u};
        const std::uint32_t size = sizes[rng() % std::size(sizes)];
        for (int i = 0; i < 4; ++i)
          b[2 + i] = static_cast<std::uint8_t>(size >> (8 * i));
      }
      if (kind == 2 || kind == 3) b.resize(rng() % b.size());  // cut short
      if (kind == 2 && !b.empty()) b[0] = static_cast<std::uint8_t>(rng() % 40);
      try {
        (ReadBack(b) ? read : refused)++;
      } catch (const std::exception& e) {
        ADD_FAILURE() << "not the engine's read error: " << e.what();
      }
    }
  }
  // Both outcomes occur, or the damage was not damage.
  EXPECT_GT(refused, 0);
  EXPECT_GT(read, 0);
}

}  // namespace
}  // namespace vez
