// The trial summary report, read back through poppler.
#include "app/reports/QR_SeaTrial.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

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
constexpr double kMinute = 1.0 / 1440;

class SeaTrialReport : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  SeaTrialReport() {
    test::EnsureQtApplication();
    clock_.SetNow(platform::EncodeDateTime(2024, 3, 1, 12, 0, 0, 0));
  }

  void Add(const std::string& name, std::vector<test::Reading> shafts) {
    const platform::TDateTime start = kStart + static_cast<double>(runs_.size()) / 24;
    runs_.push_back(std::make_unique<test::InMemoryRunData>(name, start, start + 30 * kMinute));
    for (const test::Reading& r : shafts)
      test::AddReadings(runs_.back()->AddShaft(), start, {r, r});
    list_.push_back(runs_.back().get());
  }
  std::string Write() {
    const std::string path = docs_.Path() + "/summary.pdf";
    TQR_SeaTrial(settings_, stored_.Through(list_)).WritePdf(path);
    return path;
  }
  // The lines of the text that hold any of the runs' names or shaft names.
  static std::vector<std::string> TableLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool table = false;
    while (std::getline(in, line)) {
      if (line.find("Report printed") != std::string::npos) table = false;
      if (table && line.find_first_not_of(' ') != std::string::npos) {
        // One blank between fields, whatever the layout's spacing.
        std::istringstream words(line);
        std::string word, joined;
        while (words >> word)
          joined += (joined.empty() ? "" : " ") + word;
        lines.push_back(joined);
      }
      if (line.find("(kW)") != std::string::npos) table = true;
    }
    return lines;
  }

  platform::FakeClock clock_;
  platform::ScopedClock installed_{clock_};
  test::ScopedDocumentsFolder docs_;
  test::InMemoryDisplaySettings settings_;
  std::vector<std::unique_ptr<test::InMemoryRunData>> runs_;
  std::vector<RunData*> list_;
  // After docs_: the log database variant lives in that folder.
  test::StoredRunBackend stored_{GetParam()};
};

TEST_P(SeaTrialReport, OneShaftRunsHaveNoShaftColumn) {
  Add("Run 1", {{950.27, 85.27, 99.96}});
  Add("Run 2", {{12345.6, 100, 1000}});
  const std::string path = Write();
  EXPECT_EQ(test::PdfPageCount(path), 1);
  const std::string text = test::PdfText(path);
  for (const char* part :
       {"Trelmar RVX Log : Trial Summary Report", "Vessel name :", "Test Vessel",
        "Sea trial ID :", "Test Trial", "Mean values (Chauvenet's criterion applied):", "Date",
        "Time", "Run ID", "Duration", "Power", "Speed", "Torque", "(kW)", "(rpm)", "(kNm)",
        "Report printed :", "01/03/2024 12:00:00"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  EXPECT_EQ(text.find("Shaft"), std::string::npos) << text;
  EXPECT_EQ(TableLines(text),
            (std::vector<std::string>{"01/02/2024 10:00:00 Run 1 00:30:00 950.3 85.3 100.0",
                                      "01/02/2024 11:00:00 Run 2 00:30:00 12346 100.0 1000"}));
}

TEST_P(SeaTrialReport, TwoShaftRunsGetAStarboardLine) {
  Add("Twin", {{8000, 90, 850}, {7000, 88, 760}});
  Add("Single", {{6000, 80, 716}});
  const std::string text = test::PdfText(Write());
  EXPECT_NE(text.find("Shaft"), std::string::npos) << text;
  const test::PagePicture page(docs_.Path() + "/summary.pdf");
  ASSERT_TRUE(page.Loaded());
  const double m = 12.7;
  // The logo, the title-coloured table title, the black rules.
  EXPECT_GT(page.Count(m + 0.3, m + 1.3, 29.1, 25.7, ReportColour::kTitle, 120), 1000);
  EXPECT_GT(page.Count(m, m + 42.3, 100, 6, ReportColour::kTitle), 50);
  EXPECT_GT(page.Count(m, m + 28.4, 184, 1, QColor(0, 0, 0)), 300);
  // Below the lines the page is blank: every pixel of the box is white.
  EXPECT_EQ(page.Count(m, m + 100, 184, 100, QColor(255, 255, 255), 0),
            page.Count(m, m + 100, 184, 100, QColor(0, 0, 0), 3 * 255));
  EXPECT_EQ(TableLines(text),
            (std::vector<std::string>{"01/02/2024 10:00:00 Twin 00:30:00 Port 8000 90.0 850.0",
                                      "Stbd 7000 88.0 760.0",
                                      "01/02/2024 11:00:00 Single 00:30:00 6000 80.0 716.0"}));
}

TEST_P(SeaTrialReport, AnEmptyTrialPrintsItsHeadsOnly) {
  const std::string path = Write();
  EXPECT_EQ(test::PdfPageCount(path), 1);
  const std::string text = test::PdfText(path);
  EXPECT_NE(text.find("Mean values"), std::string::npos);
  EXPECT_NE(text.find("Report printed :"), std::string::npos);
  EXPECT_TRUE(TableLines(text).empty()) << text;
}

TEST_P(SeaTrialReport, ManyRunsFlowOntoMorePages) {
  // A page holds about 30 lines below the heads.
  for (int i = 0; i < 70; ++i)
    Add("Run " + std::to_string(i + 1), {{8000, 90, 850}});
  Add("Nothing recorded", {});
  const std::string path = Write();
  const int pages = test::PdfPageCount(path);
  EXPECT_EQ(pages, 3);
  for (int p = 1; p <= pages; ++p) {
    const std::string text = test::PdfText(path, p);
    EXPECT_NE(text.find("Trial Summary Report"), std::string::npos) << p;
    EXPECT_NE(text.find("Report printed :"), std::string::npos) << p;
  }
  const std::string all = test::PdfText(path);
  for (int i = 0; i < 70; ++i)
    EXPECT_NE(all.find("Run " + std::to_string(i + 1) + " "), std::string::npos) << i;
  EXPECT_NE(all.find("Nothing recorded"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Seams, SeaTrialReport,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx
