// CsvText: the pieces of the program's comma-separated text files (raw data,
// trial summary): field quoting, the two-decimal number text, the date and
// time texts of a sample, and a buffered writer of Windows-1252 lines ended
// by CR LF.
//
// Fields: an ordinary field is written as it stands. A field holding a
// comma, a double quote, CR or LF is enclosed in double quotes with each
// embedded quote doubled (RFC 4180), so a name cannot shift or split the
// fields of its line.
//
// Numbers and dates follow the process-wide format settings (en-GB). The
// fast paths here give exactly the texts of FloatToStrF, DateToStr and
// TimeToStr; where they cannot be sure (ties, large values, other settings)
// they ask those routines.
//
// Errors: TCsvFileWriter raises platform::EOSError when the file cannot be
// created or written; what was written before stays in the file.
//
// Thread safety: plain functions and objects used from one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/DateTime.h"

namespace platform {
class File;
}

namespace rvx {

// The field as it stands, or quoted as above when it needs it.
std::string CsvField(std::string_view text);
// The field always enclosed in double quotes, embedded quotes doubled.
std::string QuotedCsvField(std::string_view text);

// Appends FloatToStrF(value, ffFixed, 8, 2): two decimals, halves away from
// zero on the exact binary value, exponent notation beyond 8 integer digits.
void AppendFixed2(std::string& out, double value);

// Appends the date (short date format) and, after a comma, the time of day
// (long time format) of sample times, as DateToStr and TimeToStr write them.
// Remembers the last day's date text, so a run's lines pay for it once a day.
class TSampleTimeText {
 public:
  TSampleTimeText();
  void Append(std::string& out, platform::TDateTime time);

 private:
  bool en_gb_times_;
  double day_ = -1;
  std::string day_text_;
};

// Writes a text file line by line through a buffer. The file is created (or
// truncated) by the constructor.
class TCsvFileWriter {
 public:
  explicit TCsvFileWriter(const std::string& path);
  TCsvFileWriter(const TCsvFileWriter&) = delete;
  TCsvFileWriter& operator=(const TCsvFileWriter&) = delete;
  // Closes the file when Close was not called, without reporting errors.
  ~TCsvFileWriter();

  // text followed by CR LF.
  void Line(std::string_view text);
  // The buffer, for a caller that builds a line in place; EndLine ends it.
  std::string& Buffer() { return buffer_; }
  void EndLine();
  // Writes what is buffered and closes the file; raises on failure.
  void Close();

 private:
  void Flush();

  std::unique_ptr<platform::File> file_;
  std::string buffer_;
  std::int64_t written_ = 0;
};

}  // namespace rvx
