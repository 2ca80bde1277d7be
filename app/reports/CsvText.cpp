#include "app/reports/CsvText.h"

#include <charconv>
#include <cmath>

#include "platform/core/FormatSettings.h"
#include "platform/core/TextConvert.h"
#include "platform/os/File.h"

namespace rvx {

namespace {

// Flushed to the file when the buffer holds this much.
constexpr std::size_t kFlushSize = 1 << 20;
// Below this magnitude a value has at most 5 integer digits, so two decimals
// are the rounding position whatever the precision of 8.
constexpr double kFastLimit = 1e5;
// A product value x 100 lies within a few 1e-9 of the exact one below the
// limit; a fraction this far from a half rounds the same either way.
constexpr double kTieMargin = 1e-6;

void AppendUnsigned(std::string& out, std::uint64_t v) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  out.append(digits, r.ptr);
}

void AppendTwoDigits(std::string& out, int v) {
  out += static_cast<char>('0' + v / 10);
  out += static_cast<char>('0' + v % 10);
}

}  // namespace

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  return QuotedCsvField(text);
}

std::string QuotedCsvField(std::string_view text) {
  std::string s;
  s.reserve(text.size() + 2);
  s += '"';
  for (char c : text) {
    if (c == '"') s += '"';
    s += c;
  }
  s += '"';
  return s;
}

void AppendFixed2(std::string& out, double value) {
  const platform::TFormatSettings& fs = platform::FormatSettings();
  if (!(std::fabs(value) < kFastLimit) || fs.DecimalSeparator != '.') {
    out += platform::FloatToStrF(value, platform::TFloatFormat::ffFixed, 8, 2);
    return;
  }
  const double scaled = std::fabs(value) * 100;
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;  // exact: both lie on the same grid
  if (std::fabs(fraction - 0.5) < kTieMargin) {
    out += platform::FloatToStrF(value, platform::TFloatFormat::ffFixed, 8, 2);
    return;
  }
  const auto cents = static_cast<std::uint64_t>(fraction > 0.5 ? whole + 1 : whole);
  if (cents != 0 && std::signbit(value)) out += '-';
  AppendUnsigned(out, cents / 100);
  out += '.';
  AppendTwoDigits(out, static_cast<int>(cents % 100));
}

TSampleTimeText::TSampleTimeText() {
  const platform::TFormatSettings& fs = platform::FormatSettings();
  en_gb_times_ = fs.LongTimeFormat == "hh:nn:ss" && fs.TimeSeparator == ':';
}

void TSampleTimeText::Append(std::string& out, platform::TDateTime time) {
  if (!en_gb_times_ || !(time >= 0 && time <= platform::MaxDateTime)) {
    out += platform::DateToStr(time);
    out += ',';
    out += platform::TimeToStr(time);
    return;
  }
  // The decoder's own split: the time rounded to the millisecond, a time
  // that rounds to midnight carried into the next day.
  double days = 0;
  std::int32_t ms = 0;
  platform::SplitDateTime(time, days, ms);
  if (days != day_) {
    day_text_ = platform::DateToStr(days);
    day_ = days;
  }
  out += day_text_;
  out += ',';
  const int seconds = ms / 1000;
  AppendTwoDigits(out, seconds / 3600);
  out += ':';
  AppendTwoDigits(out, seconds / 60 % 60);
  out += ':';
  AppendTwoDigits(out, seconds % 60);
}

TCsvFileWriter::TCsvFileWriter(const std::string& path)
    : file_(platform::DefaultFileSystem().CreateFile(path, platform::FileShare::kDenyWrite)) {
  buffer_.reserve(kFlushSize + 4096);
}

TCsvFileWriter::~TCsvFileWriter() {
  if (!file_) return;
  try {
    Flush();
    file_->Close();
  } catch (...) {
    // Reported by Close when it is called; a destructor must not throw.
  }
}

void TCsvFileWriter::Line(std::string_view text) {
  buffer_ += text;
  EndLine();
}

void TCsvFileWriter::EndLine() {
  buffer_ += "\r\n";
  if (buffer_.size() >= kFlushSize) Flush();
}

void TCsvFileWriter::Flush() {
  if (buffer_.empty()) return;
  file_->WriteAt(written_, buffer_.data(), buffer_.size());
  written_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
}

void TCsvFileWriter::Close() {
  if (!file_) return;
  Flush();
  std::unique_ptr<platform::File> file = std::move(file_);
  file->Close();
}

}  // namespace rvx
