// The run report, read back through poppler: its pages, texts, fonts and a
// picture of its first page.
#include "app/reports/QR_Run.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/reports/BandReport.h"
#include "platform/core/Clock.h"
#include "platform/core/DateTime.h"
#include "tests/app/reports/ReportTestSupport.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/InMemoryRunData.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/StoredRunBackend.h"

namespace rvx {
namespace {

const platform::TDateTime kStart = platform::EncodeDateTime(2024, 2, 1, 10, 0, 0, 0);
const platform::TDateTime kPrinted = platform::EncodeDateTime(2024, 3, 1, 12, 0, 0, 0);
constexpr double kMinute = 1.0 / 1440;

// 30 minutes at 2 Hz: power alternating 8400 / 8600 kW (mean 8500), speed
// and torque steady.
void FillShaft(TShaftDataSet& shaft, double power = 8500) {
  std::vector<test::Reading> readings;
  for (int i = 0; i < 3600; ++i)
    readings.push_back({power + (i % 2 ? 100 : -100), 90 + (i % 3) * 0.5, 900.0 + i % 5});
  test::AddReadings(shaft, kStart, readings, 0.5);
}

class RunReport : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  RunReport() : run_("Run 2/3", kStart, kStart + 30 * kMinute, "Calm sea, full ahead.") {
    test::EnsureQtApplication();
    clock_.SetNow(kPrinted);
    settings_.power_mcr = 10000;
    settings_.speed_mcr = 100;
    settings_.torque_mcr = 1000;
  }

  std::string Write(const TQR_Run& report) {
    const std::string path = docs_.Path() + "/run.pdf";
    report.WritePdf(path);
    return path;
  }

  platform::FakeClock clock_;
  platform::ScopedClock installed_{clock_};
  test::ScopedDocumentsFolder docs_;
  test::InMemoryDisplaySettings settings_;
  test::InMemoryRunData run_;
  // After docs_: the log database variant lives in that folder.
  test::StoredRunBackend stored_{GetParam()};
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_P(RunReport, TwoShaftsGiveAPageEach) {
  settings_.number_of_shafts = 2;
  FillShaft(run_.AddShaft());
  FillShaft(run_.AddShaft(), 7000);
  const std::string path = Write(TQR_Run(settings_, stored_.Through(run_)));
  EXPECT_EQ(test::PdfPageCount(path), 2);
  const std::string page1 = test::PdfText(path, 1);
  const std::string page2 = test::PdfText(path, 2);
  EXPECT_TRUE(Contains(page1, "Shaft data (Port):")) << page1;
  EXPECT_FALSE(Contains(page1, "Stbd"));
  EXPECT_TRUE(Contains(page2, "Shaft data (Stbd):")) << page2;
  // Header, comments and footer on both pages.
  for (const std::string& page : {page1, page2}) {
    EXPECT_TRUE(Contains(page, "Trelmar RVX Log : Run Report")) << page;
    EXPECT_TRUE(Contains(page, "Comments:"));
    EXPECT_TRUE(Contains(page, "Report printed :"));
    EXPECT_TRUE(Contains(page, "01/03/2024 12:00:00"));
  }
  const std::string info = test::RunTool("pdfinfo " + test::ShellQuoted(path));
  EXPECT_TRUE(Contains(info, "Trelmar Voyage Report")) << info;
  EXPECT_TRUE(Contains(info, "A4")) << info;
}

TEST_P(RunReport, HeaderAndStatisticsOfOneShaft) {
  FillShaft(run_.AddShaft());
  const std::string path = Write(TQR_Run(settings_, stored_.Through(run_)));
  EXPECT_EQ(test::PdfPageCount(path), 1);
  const std::string text = test::PdfText(path);
  for (const char* part : {"Shaft data:",
                           "Vessel name :",
                           "Test Vessel",
                           "Sea trial ID :",
                           "Test Trial",
                           "Report period :",
                           "01/02/2024 10:00:00",
                           "01/02/2024 10:30:00",
                           "Duration :",
                           "00:30:00",
                           "Run:",
                           "Run 2/3",
                           "Comments:",
                           "Calm sea, full ahead.",
                           "(MCR: 10000 kW)",
                           "(MCR: 100 rpm)",
                           "(MCR: 1000 kNm)",
                           "8500 kW",
                           "(85.0 % MCR)",
                           "Min.:",
                           "8400 kW",
                           "Max.:",
                           "8600 kW",
                           "Std. dev.:",
                           "Tot. samples:",
                           "3600",
                           "Outliers:",
                           "Errors:",
                           "Logging history (Chauvenet's criterion applied):"})
    EXPECT_TRUE(Contains(text, part)) << part << "\n" << text;
  EXPECT_FALSE(Contains(text, "Port"));
}

// The power axis centres on the mean: MCR 10000 kW gives an interval of
// 2000 and steps of 100, so 8500 kW spans 7100 .. 9100.
TEST_P(RunReport, PowerAxisRunsFrom7100To9100) {
  FillShaft(run_.AddShaft());
  const TQR_Run report(settings_, stored_.Through(run_));
  const TChartValueAxis& power = report.ShaftBands()[0].Chart.Axes[TReportChart::kLeftAxis];
  EXPECT_EQ(power.Minimum, 7100);
  EXPECT_EQ(power.Maximum, 9100);
  std::istringstream text(test::PdfText(Write(report)));
  std::vector<std::string> words{std::istream_iterator<std::string>(text), {}};
  for (const char* label : {"7100", "7300", "8100", "8900", "9100"})
    EXPECT_NE(std::find(words.begin(), words.end(), label), words.end()) << label;
  for (const char* beyond : {"6900", "7000", "9200", "9300"})
    EXPECT_EQ(std::find(words.begin(), words.end(), beyond), words.end()) << beyond;
}

TEST_P(RunReport, MetricUnitsScaleTheFiguresButNotTheCounts) {
  settings_.power_unit = "SHp";
  settings_.torque_unit = "Tm";
  settings_.power_factor = 1.3596;
  settings_.torque_factor = 0.10197;
  settings_.power_mcr = 13596;
  settings_.torque_mcr = 102;
  FillShaft(run_.AddShaft());
  const std::string text = test::PdfText(Write(TQR_Run(settings_, stored_.Through(run_))));
  for (const char* part : {"(MCR: 13596 SHp)", "(MCR: 102 Tm)", "11557 SHp", "(85.0 % MCR)",
                           "11421 SHp", "11693 SHp", "92.0 Tm", "92.2 Tm", "3600"})
    EXPECT_TRUE(Contains(text, part)) << part << "\n" << text;
  EXPECT_FALSE(Contains(text, "kW"));
  EXPECT_FALSE(Contains(text, "kNm"));
}

TEST_P(RunReport, AnMcrOfZeroShowsNA) {
  settings_.torque_mcr = 0;
  FillShaft(run_.AddShaft());
  const std::string text = test::PdfText(Write(TQR_Run(settings_, stored_.Through(run_))));
  EXPECT_TRUE(Contains(text, "(NA % MCR)")) << text;
  EXPECT_TRUE(Contains(text, "(MCR: 0 kNm)"));
}

TEST_P(RunReport, ALongCommentWrapsOntoSeveralLines) {
  std::string comment;
  for (int i = 0; i < 50; ++i)
    comment += "remark" + std::to_string(100 + i) + " ";
  comment.pop_back();
  ASSERT_GE(comment.size(), 400u);
  test::InMemoryRunData run("Run 1", kStart, kStart + 30 * kMinute, comment);
  FillShaft(run.AddShaft());
  const TQR_Run report(settings_, stored_.Through(run));
  std::istringstream text(test::PdfText(Write(report)));
  std::string line;
  int lines_with_remarks = 0;
  std::string remarks;
  while (std::getline(text, line))
    if (Contains(line, "remark")) {
      ++lines_with_remarks;
      remarks += line + " ";
    }
  EXPECT_GE(lines_with_remarks, 3);
  // Every word, in order.
  std::size_t at = 0;
  for (int i = 0; i < 50; ++i) {
    at = remarks.find("remark" + std::to_string(100 + i), at);
    ASSERT_NE(at, std::string::npos) << i;
  }
}

TEST_P(RunReport, FontsAreEmbeddedLiberationSans) {
  FillShaft(run_.AddShaft());
  const std::string fonts = test::RunTool(
      "pdffonts " + test::ShellQuoted(Write(TQR_Run(settings_, stored_.Through(run_)))));
  std::istringstream lines(fonts);
  std::string line;
  int liberation = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("name", 0) == 0 || line.rfind("----", 0) == 0) continue;
    EXPECT_TRUE(Contains(line, "LiberationSans")) << line;
    std::istringstream fields(line);
    std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
    ASSERT_GE(f.size(), 7u);
    EXPECT_EQ(f[f.size() - 5], "yes") << "embedded: " << line;
    ++liberation;
  }
  EXPECT_GE(liberation, 2) << fonts;  // regular and bold at least
}

// A quantity without kept samples has no mean to centre on: its axis shows
// 0 .. its interval (0.2 x MCR).
TEST_P(RunReport, AQuantityWithoutSamplesKeepsItsAxisAtItsInterval) {
  TShaftDataSet& shaft = run_.AddShaft();
  for (int i = 0; i < 100; ++i) {
    const double t = kStart + i / 86400.0;
    shaft.PowerData().Add(TDataValue(t, 8500, false), i);
    shaft.SpeedData().Add(TDataValue(t, 90, false), i);
    shaft.TorqueData().Add(std::nullopt, i);
  }
  const TQR_Run report(settings_, stored_.Through(run_));
  const TReportChart& chart = report.ShaftBands()[0].Chart;
  EXPECT_EQ(chart.Axes[TReportChart::kRightAxis].Minimum, 0);
  EXPECT_EQ(chart.Axes[TReportChart::kRightAxis].Maximum, 200);
  EXPECT_EQ(chart.Axes[TReportChart::kSpeedAxis].Minimum, 80);
  EXPECT_EQ(chart.Axes[TReportChart::kSpeedAxis].Maximum, 100);
  // The time axis spans the samples there are (the log keeps times to the
  // millisecond).
  const double ms = 1.0 / 86400000;
  EXPECT_NEAR(chart.BottomAxis.Minimum, kStart, ms);
  EXPECT_NEAR(chart.BottomAxis.Maximum, kStart + 99 / 86400.0, ms);
  EXPECT_EQ(chart.BottomAxis.DateTimeFormat, "hh:nn");
  EXPECT_DOUBLE_EQ(chart.BottomAxis.Increment, kMinute);
  EXPECT_EQ(test::PdfPageCount(Write(report)), 1);

  // Without any sample the time axis is the run's.
  test::InMemoryRunData empty("Empty", kStart, kStart + 30 * kMinute);
  empty.AddShaft();
  const TQR_Run none(settings_, stored_.Through(empty));
  EXPECT_EQ(none.ShaftBands()[0].Chart.BottomAxis.Minimum, kStart);
  EXPECT_EQ(none.ShaftBands()[0].Chart.BottomAxis.Maximum, kStart + 30 * kMinute);
  EXPECT_EQ(none.ShaftBands()[0].Chart.Axes[TReportChart::kLeftAxis].Maximum, 2000);
  EXPECT_EQ(test::PdfPageCount(Write(none)), 1);
}

// The columns of the picture that hold a vertical black line over more than
// half its height: first and last column of each line, left to right.
std::vector<std::pair<int, int>> VerticalBlackLines(const QImage& image) {
  auto black = [&](int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return c.red() < 60 && c.green() < 60 && c.blue() < 60;
  };
  std::vector<std::pair<int, int>> lines;
  for (int x = 0; x < image.width(); ++x) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      count += black(x, y);
    if (count <= image.height() / 2) continue;
    if (!lines.empty() && lines.back().second == x - 1)
      lines.back().second = x;
    else
      lines.push_back({x, x});
  }
  return lines;
}

// Black pixels in columns x0 .. x1 of the rows where column lineX is black,
// leaving out the last few rows (the bottom axis and its labels).
int BlackBesideLine(const QImage& image, int lineX, int x0, int x1) {
  auto black = [&](int x, int y) {
    const QColor c = image.pixelColor(x, y);
    return c.red() < 60 && c.green() < 60 && c.blue() < 60;
  };
  int top = -1, bottom = -1;
  for (int y = 0; y < image.height(); ++y)
    if (black(lineX, y)) {
      if (top < 0) top = y;
      bottom = y;
    }
  int count = 0;
  for (int y = top; y >= 0 && y <= bottom - 6; ++y)
    for (int x = x0; x <= x1; ++x)
      count += black(x, y);
  return count;
}

// The power axis has ticks beside its labels; the speed and torque axes on
// the right show their labels without ticks (and without grid).
TEST_P(RunReport, OnlyThePowerAxisHasTicks) {
  FillShaft(run_.AddShaft());
  const TQR_Run report(settings_, stored_.Through(run_));
  const TReportChart& chart = report.ShaftBands()[0].Chart;
  EXPECT_TRUE(chart.Axes[TReportChart::kLeftAxis].Grid);
  EXPECT_FALSE(chart.Axes[TReportChart::kSpeedAxis].Grid);
  EXPECT_FALSE(chart.Axes[TReportChart::kRightAxis].Grid);

  constexpr int kDotsPerMm = 10;
  QImage image(183 * kDotsPerMm, 130 * kDotsPerMm, QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMm * 1000);
  image.setDotsPerMeterY(kDotsPerMm * 1000);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    TReportCanvas canvas(image, &painter);
    chart.Paint(canvas, 0, 0, 182.3, 129.4);
  }
  const std::vector<std::pair<int, int>> lines = VerticalBlackLines(image);
  ASSERT_EQ(lines.size(), 3u) << "power, torque and speed axis lines";
  // A tick is 1 mm long; the labels begin 1.5 mm from the line.
  const auto [power_first, power_last] = lines[0];
  EXPECT_GT(BlackBesideLine(image, power_first, power_first - 8, power_first - 2), 0);
  for (std::size_t i = 1; i < 3; ++i) {
    SCOPED_TRACE(i == 1 ? "torque axis" : "speed axis");
    const auto [first, last] = lines[i];
    EXPECT_EQ(BlackBesideLine(image, first, last + 2, last + 8), 0);
  }
}

TEST_P(RunReport, PictureOfThePageShowsLogoTitlesAndTheThreeLines) {
  FillShaft(run_.AddShaft());
  const std::string path = Write(TQR_Run(settings_, stored_.Through(run_)));
  const test::PagePicture page(path);
  ASSERT_TRUE(page.Loaded());
  EXPECT_EQ(page.Size().width(), 827);  // A4 at 100 dpi
  EXPECT_NEAR(page.Size().height(), 1169, 1);
  const double m = 12.7;
  const QColor white(255, 255, 255);
  // The logo fills its frame; the margin left of it is blank.
  const double logo_area = (29.1 * 25.7) * (100 / 25.4) * (100 / 25.4);
  EXPECT_LT(page.Count(m + 0.3, m + 1.3, 29.1, 25.7, white), logo_area * 0.5);
  EXPECT_EQ(page.Count(0, 0, m - 1, 297, white, 0),
            static_cast<int>((m - 1) * 100 / 25.4) * static_cast<int>(297 * 100 / 25.4));
  // "Run:" and "Comments:" in the title colour.
  EXPECT_GT(page.Count(m, m + 30.9, 24.5, 5.3, ReportColour::kTitle), 20);
  EXPECT_GT(page.Count(m, m + 36.9, 24.5, 6, ReportColour::kTitle), 20);
  // The chart's lines in their colours, inside the chart's frame.
  const double chart_top = m + 36.9 + 9.4 + 60.6;
  EXPECT_GT(page.Count(m, chart_top + 20, 184, 100, ReportColour::kBlue), 500);
  EXPECT_GT(page.Count(m, chart_top + 20, 184, 100, ReportColour::kGreen), 500);
  EXPECT_GT(page.Count(m, chart_top + 20, 184, 100, ReportColour::kMaroon), 500);
  // Nothing of the chart spills into the footer's rule area.
  EXPECT_EQ(page.Count(m, 297 - m - 10.6 - 3, 184, 3, ReportColour::kBlue, 100), 0);
}

// The same reports from runs in memory and from runs read back from the log
// database on a real file.
INSTANTIATE_TEST_SUITE_P(Seams, RunReport,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx
