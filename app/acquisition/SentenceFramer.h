// SentenceFramer: cuts the bytes a serial meter sends into sentences.
//
// A sentence runs from "$" to LF, both included. Bytes before a "$" are
// skipped; once a sentence has begun, every byte up to the LF belongs to it
// (a "$" inside is data). After each sentence the framer looks for the next
// "$". A sentence that has not ended kTimeOutMs after its "$" is dropped
// without notice, as is one that grows past kMaxSentenceLength bytes; the
// framer then looks for the next "$", so the rest of a dropped sentence is
// skipped.
//
// Time is the caller's tick count in milliseconds (the installed clock's); it
// is checked when bytes arrive and whenever the caller asks (a timer), so a
// sentence that stalls is dropped without waiting for more bytes.
//
// Finished sentences wait in a queue until taken, oldest first, so a reader
// that takes them one at a time keeps their order even when it is re-entered.
//
// Thread safety: a plain object used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace rvx {

class SentenceFramer {
 public:
  // 100 ticks of 55 ms: how long a sentence may take from "$" to LF.
  static constexpr std::uint64_t kTimeOutMs = 5500;
  // More than a meter can send within the time-out at 115200 baud; longer
  // texts are not sentences and must not grow the buffer without end.
  static constexpr std::size_t kMaxSentenceLength = 65536;

  // Frames bytes arriving at tick now. A sentence begun kTimeOutMs or more
  // before now is dropped first.
  void Feed(std::string_view bytes, std::uint64_t now);
  // Drops the sentence being collected when it began kTimeOutMs or more
  // before now.
  void CheckTimeOut(std::uint64_t now);
  // Takes the oldest finished sentence; false when there is none.
  bool Next(std::string& sentence);
  // Forgets the sentence being collected and every finished one (the link
  // closes).
  void Reset();

  // A sentence has begun and not ended.
  bool InSentence() const { return in_sentence_; }
  // Finished sentences not taken yet.
  std::size_t Pending() const { return ready_.size(); }
  // Sentences dropped since creation: timed out, too long.
  std::uint64_t TimedOut() const { return timed_out_; }
  std::uint64_t TooLong() const { return too_long_; }

 private:
  std::string partial_;
  bool in_sentence_ = false;
  std::uint64_t started_ = 0;
  std::deque<std::string> ready_;
  std::uint64_t timed_out_ = 0;
  std::uint64_t too_long_ = 0;
};

}  // namespace rvx
