// Helpers of the report tests: a fresh documents folder per test, the
// catalog of runs and trials in memory, generated samples, and the real
// readers of what the reports write (poppler's tools, openpyxl).
#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "app/acquisition/ShaftData.h"
#include "app/reports/ReportCatalog.h"
#include "platform/core/DateTime.h"
#include "tests/app/support/ScopedDocumentsFolder.h"

namespace rvx::test {

// The report folder under the documents folder (created on first use) and
// the runs and trials a test lists.
class InMemoryReportCatalog : public ReportCatalog {
 public:
  std::string getReportPath() override;
  std::vector<TReportRunEntry> AllRuns() override { return runs; }
  std::vector<TReportTrialEntry> AllTrials() override { return trials; }

  std::vector<TReportRunEntry> runs;
  std::vector<TReportTrialEntry> trials;
};

// One reading of a shaft: power (kW), speed (rpm), torque (kNm).
struct Reading {
  double power;
  double speed;
  double torque;
};
// Adds the readings one second apart from start, numbering them from the
// shaft's current count.
void AddReadings(TShaftDataSet& shaft, platform::TDateTime start,
                 const std::vector<Reading>& readings, double secondsApart = 1.0);
// count readings with a little noise around the given values.
void AddSteadyReadings(TShaftDataSet& shaft, platform::TDateTime start, std::size_t count,
                       const Reading& around, double secondsApart = 0.1);

std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Lines of a CR LF text (the last line ends with CR LF too).
std::string CrLfLines(const std::vector<std::string>& lines);

// Runs a shell command and returns its standard output; the test fails when
// it exits with an error.
std::string RunTool(const std::string& command);
// A path quoted for the shell.
std::string ShellQuoted(const std::string& path);
// pdftotext -layout of the whole file, or of one page (1-based).
std::string PdfText(const std::string& path, int page = 0);
int PdfPageCount(const std::string& path);

// The first page of a PDF as pdftoppm paints it at 100 dpi.
class PagePicture {
 public:
  explicit PagePicture(const std::string& pdf);
  bool Loaded() const { return !image_.isNull(); }
  QSize Size() const { return image_.size(); }
  // Pixels within tolerance (sum of the channel differences) of colour in
  // the box (mm from the page's top-left corner).
  int Count(double left, double top, double width, double height, QColor colour,
            int tolerance = 60) const;

 private:
  QImage image_;
};

}  // namespace rvx::test
