#include "dbengine/foundation/VEZReservedWords.h"

#include <cstddef>

namespace vez {

namespace {

// Only a to z change case: the lookup must not depend on any locale, and
// the texts hold nothing but A to Z, digits, '_' and '-'.
constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// FNV-1a over the upper-cased bytes, so a word hashes alike in any letter case.
constexpr std::uint32_t HashUpper(std::string_view word) {
  std::uint32_t hash = 2166136261u;
  for (char c : word) {
    hash ^= static_cast<unsigned char>(UpperAscii(c));
    hash *= 16777619u;
  }
  return hash;
}

constexpr std::size_t MaxWordLength() {
  std::size_t result = 0;
  for (std::string_view text : ReservedWords)
    result = text.size() > result ? text.size() : result;
  return result;
}

// Open addressing with linear probing; a quarter full, so a miss ends after
// one or two probes.
constexpr std::uint32_t kSlotCount = 1024;
constexpr std::uint32_t kSlotMask = kSlotCount - 1;
static_assert(kSlotCount > 2 * kReservedWordCount);

struct THashTable {
  std::array<std::int16_t, kSlotCount> slots{};
};

constexpr THashTable BuildHashTable() {
  THashTable table;
  for (auto& slot : table.slots)
    slot = -1;
  for (int i = 0; i < kReservedWordCount; ++i) {
    std::uint32_t slot = HashUpper(ReservedWords[i]) & kSlotMask;
    while (table.slots[slot] >= 0)
      slot = (slot + 1) & kSlotMask;
    table.slots[slot] = static_cast<std::int16_t>(i);
  }
  return table;
}

constexpr std::size_t kMaxWordLength = MaxWordLength();
constexpr THashTable kHashTable = BuildHashTable();

bool EqualsUpper(std::string_view word, std::string_view text) {
  if (word.size() != text.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (UpperAscii(word[i]) != text[i]) return false;
  }
  return true;
}

}  // namespace

std::int32_t FindReservedWord(std::string_view word) {
  if (word.empty() || word.size() > kMaxWordLength) return -1;
  std::uint32_t slot = HashUpper(word) & kSlotMask;
  for (;;) {
    const std::int16_t index = kHashTable.slots[slot];
    if (index < 0) return -1;
    if (EqualsUpper(word, ReservedWords[index])) return index;
    slot = (slot + 1) & kSlotMask;
  }
}

std::string_view ReservedWordText(TReservedWord word) {
  if (word >= kReservedWordCount) return {};
  return ReservedWords[word];
}

}  // namespace vez
