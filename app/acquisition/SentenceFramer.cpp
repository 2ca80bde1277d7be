#include "app/acquisition/SentenceFramer.h"

namespace rvx {

void SentenceFramer::Feed(std::string_view bytes, std::uint64_t now) {
  CheckTimeOut(now);
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (!in_sentence_) {
      const std::size_t start = bytes.find('$', i);
      if (start == std::string_view::npos) return;
      in_sentence_ = true;
      started_ = now;
      partial_.clear();
      i = start;
    }
    const std::size_t lf = bytes.find('\n', i);
    const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
    if (partial_.size() + (end - i) > kMaxSentenceLength) {
      ++too_long_;
      in_sentence_ = false;
      partial_.clear();
      // Its bytes in this piece go with it; the next "$" after them begins
      // a new sentence.
      i = end;
      continue;
    }
    partial_.append(bytes.substr(i, end - i));
    i = end;
    if (lf != std::string_view::npos) {
      ready_.push_back(std::move(partial_));
      partial_.clear();
      in_sentence_ = false;
    }
  }
}

void SentenceFramer::CheckTimeOut(std::uint64_t now) {
  if (!in_sentence_ || now - started_ < kTimeOutMs) return;
  ++timed_out_;
  in_sentence_ = false;
  partial_.clear();
}

bool SentenceFramer::Next(std::string& sentence) {
  if (ready_.empty()) return false;
  sentence = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

void SentenceFramer::Reset() {
  in_sentence_ = false;
  partial_.clear();
  ready_.clear();
}

}  // namespace rvx
