// DataValue: one sample of one quantity of one shaft (power kW, torque kNm
// or speed rpm), and the read-only views through which the sample lists are
// read.
//
// Samples are plain values: a shaft's lists hold them side by side in one
// array per list (a 25-hour run keeps about 900,000 readings per shaft), never
// one heap object each. A list entry may be absent (a field that did not
// read); the views give nullptr for it. Each sample in a list also carries
// the ordinal of the reading it came from: for live samples its entry index,
// for stored samples its row's place in the read-back. The power, torque and
// speed samples of one reading share it, so writers join a reading's values
// by ordinal instead of by time stamp.
//
// A view stays valid as long as its list lives; the samples it shows are
// those of the list when they are read. References from a view are
// invalidated by the next sample added to the list.
//
// Thread safety: plain values; a list and its views are used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "platform/core/DateTime.h"

namespace rvx {

using platform::TDateTime;

class TDataValue {
 public:
  TDataValue(TDateTime aTime, double aValue, bool aIsError)
      : FTime(aTime), FValue(aValue), FIsError(aIsError) {}

  // The value in stored units.
  double Value() const { return FValue; }
  void SetValue(double aValue) { FValue = aValue; }
  // When the sample was taken (platform date-time).
  TDateTime Time() const { return FTime; }
  // The sample is not usable (checksum mismatch, no usable torque).
  bool IsError() const { return FIsError; }
  void SetIsError(bool aIsError) { FIsError = aIsError; }
  // The reading this sample came from, within its list (see above); 0 until
  // the sample is in a list.
  std::uint32_t Ordinal() const { return FOrdinal; }

 private:
  friend class TShaftData;
  friend class TDataValueEntries;
  friend class TStatisticalShaftData;

  TDateTime FTime;
  double FValue;
  std::uint32_t FOrdinal = 0;
  bool FIsError;
  // Only list entries can be absent; a TDataValue handed out never is.
  bool FIsAbsent = false;
};

// Every entry of a sample list in arrival order, absent ones included.
class TDataValueEntries {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = const TDataValue*;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = const TDataValue*;

    iterator() = default;
    const TDataValue* operator*() const { return At(*entries_, index_); }
    iterator& operator++() {
      ++index_;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++index_;
      return old;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.index_ == b.index_; }

   private:
    friend class TDataValueEntries;
    iterator(const std::vector<TDataValue>* entries, std::size_t index)
        : entries_(entries), index_(index) {}
    const std::vector<TDataValue>* entries_ = nullptr;
    std::size_t index_ = 0;
  };

  explicit TDataValueEntries(const std::vector<TDataValue>& entries) : entries_(&entries) {}

  std::size_t Count() const { return entries_->size(); }
  // The sample of entry i; nullptr when the entry is absent.
  // REQUIRES: i < Count().
  const TDataValue* operator[](std::size_t i) const { return At(*entries_, i); }
  iterator begin() const { return iterator(entries_, 0); }
  iterator end() const { return iterator(entries_, entries_->size()); }

 private:
  friend class TStatisticalShaftData;
  static const TDataValue* At(const std::vector<TDataValue>& entries, std::size_t i);

  const std::vector<TDataValue>* entries_;
};

// A selection of a list's samples (all present), in list order: the samples
// an outlier filter kept or rejected.
class TDataValueList {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = TDataValue;
    using difference_type = std::ptrdiff_t;
    using pointer = const TDataValue*;
    using reference = const TDataValue&;

    iterator() = default;
    const TDataValue& operator*() const { return (*entries_)[*at_]; }
    const TDataValue* operator->() const { return &(*entries_)[*at_]; }
    iterator& operator++() {
      ++at_;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++at_;
      return old;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.at_ == b.at_; }

   private:
    friend class TDataValueList;
    iterator(const std::vector<TDataValue>* entries, const std::uint32_t* at)
        : entries_(entries), at_(at) {}
    const std::vector<TDataValue>* entries_ = nullptr;
    const std::uint32_t* at_ = nullptr;
  };

  // REQUIRES: every index names a present entry of entries.
  TDataValueList(const std::vector<TDataValue>& entries, const std::vector<std::uint32_t>& indexes)
      : entries_(&entries), indexes_(&indexes) {}

  std::size_t Count() const { return indexes_->size(); }
  // REQUIRES: i < Count().
  const TDataValue& operator[](std::size_t i) const { return (*entries_)[(*indexes_)[i]]; }
  // The entry index (in the whole list) of the i-th selected sample.
  std::uint32_t EntryIndex(std::size_t i) const { return (*indexes_)[i]; }
  iterator begin() const { return iterator(entries_, indexes_->data()); }
  iterator end() const { return iterator(entries_, indexes_->data() + indexes_->size()); }

 private:
  const std::vector<TDataValue>* entries_;
  const std::vector<std::uint32_t>* indexes_;
};

inline const TDataValue* TDataValueEntries::At(const std::vector<TDataValue>& entries,
                                               std::size_t i) {
  const TDataValue& v = entries[i];
  return v.FIsAbsent ? nullptr : &v;
}

}  // namespace rvx
