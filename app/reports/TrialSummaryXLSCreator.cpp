#include "app/reports/TrialSummaryXLSCreator.h"

#include <xlsxwriter.h>

#include <memory>

#include "app/reports/TrialSummaryCSVCreator.h"
#include "app/util/Utils.h"
#include "platform/core/CodePage.h"
#include "platform/core/Exceptions.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

constexpr lxw_color_t kHeadColour = 0x0000FF;  // blue
constexpr const char* kFontName = "Arial";

struct WorkbookFree {
  void operator()(lxw_workbook* w) const { lxw_workbook_free(w); }
};

void Check(lxw_error error, const std::string& path) {
  if (error != LXW_NO_ERROR)
    throw platform::Exception("Cannot write the spreadsheet " + platform::Utf8ToAnsi(path) + ": " +
                              lxw_strerror(error));
}

// The engine's styles: a head (bold, underlined, blue) or a value (regular,
// black), at a size, with an alignment and an optional number format.
lxw_format* Style(lxw_workbook* book, bool head, double size, std::uint8_t align,
                  const char* numberFormat = nullptr) {
  lxw_format* f = workbook_add_format(book);
  format_set_font_name(f, kFontName);
  format_set_font_size(f, size);
  format_set_align(f, align);
  if (head) {
    format_set_bold(f);
    format_set_underline(f, LXW_UNDERLINE_SINGLE);
    format_set_font_color(f, kHeadColour);
  }
  if (numberFormat) format_set_num_format(f, numberFormat);
  return f;
}

}  // namespace

std::string FormatTimeOfDay(platform::TDateTime time) {
  double days = 0;
  std::int32_t ms = 0;
  platform::SplitDateTime(time, days, ms);
  const std::int32_t s = ms / 1000;
  return IntToZeroPaddedStr(s / 3600, 2) + ":" + IntToZeroPaddedStr(s % 3600 / 60, 2) + ":" +
         IntToZeroPaddedStr(s % 60, 2);
}

TTRialSummaryXLSCreator::TTRialSummaryXLSCreator(const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {}

void TTRialSummaryXLSCreator::Generate(const std::vector<RunData*>& runDataSets, bool isTwinShafts,
                                       const std::string& aFilename) {
  const DisplaySettings& cm = FConfigurationManager;
  auto utf8 = [](const std::string& ansi) { return platform::AnsiToUtf8(ansi); };

  // SetupDocument
  std::unique_ptr<lxw_workbook, WorkbookFree> book(workbook_new(aFilename.c_str()));
  if (!book) Check(LXW_ERROR_MEMORY_MALLOC_FAILED, aFilename);
  lxw_worksheet* sheet = workbook_add_worksheet(book.get(), nullptr);
  if (!sheet) Check(LXW_ERROR_MEMORY_MALLOC_FAILED, aFilename);
  worksheet_set_landscape(sheet);
  Check(worksheet_set_column(sheet, 0, 1, 12, nullptr), aFilename);
  Check(worksheet_set_column(sheet, 2, 2, 31, nullptr), aFilename);
  Check(worksheet_set_column(sheet, 3, 9, 14, nullptr), aFilename);

  lxw_workbook* b = book.get();
  lxw_format* title = Style(b, true, 10, LXW_ALIGN_LEFT);
  lxw_format* name = Style(b, false, 10, LXW_ALIGN_LEFT);
  format_set_bold(name);
  lxw_format* head = Style(b, true, 8, LXW_ALIGN_CENTER);
  lxw_format* date = Style(b, false, 10, LXW_ALIGN_CENTER, "dd/mm/yyyy");
  lxw_format* centred = Style(b, false, 10, LXW_ALIGN_CENTER);
  lxw_format* left = Style(b, false, 10, LXW_ALIGN_LEFT);
  lxw_format* right = Style(b, false, 10, LXW_ALIGN_RIGHT);
  lxw_format* whole = Style(b, false, 10, LXW_ALIGN_RIGHT, "0");
  lxw_format* tenths = Style(b, false, 10, LXW_ALIGN_RIGHT, "0.0");

  auto text = [&](int row, int col, const std::string& ansi, lxw_format* f) {
    Check(worksheet_write_string(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(col),
                                 utf8(ansi).c_str(), f),
          aFilename);
  };
  auto number = [&](int row, int col, const std::string& value, lxw_format* f) {
    Check(worksheet_write_number(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(col),
                                 static_cast<double>(platform::StrToFloat(value)), f),
          aFilename);
  };

  // WriteHeader
  text(0, 2, "Trelmar RVX Log : Trial Summary Report", title);
  text(1, 0, "Vessel Name:", title);
  text(1, 2, cm.VesselName(), name);
  text(2, 0, "Sea Trial ID:", title);
  text(2, 2, cm.TrialName(), name);
  if (isTwinShafts) {
    text(3, 5, "PORT", head);
    text(3, 8, "STARBOARD", head);
  }
  text(4, 0, "Date", head);
  text(4, 1, "Time", head);
  text(4, 2, "Run Name", head);
  text(4, 3, "Duration", head);
  for (int col : isTwinShafts ? std::vector<int>{4, 7} : std::vector<int>{4}) {
    text(4, col, "Power (" + cm.PowerUnit() + ")", head);
    text(4, col + 1, "Speed (" + cm.SpeedUnit() + ")", head);
    text(4, col + 2, "Torque (" + cm.TorqueUnit() + ")", head);
  }

  // WriteRunRow
  int row = 5;
  for (RunData* run : runDataSets) {
    double days = 0;
    std::int32_t ms = 0;
    platform::SplitDateTime(run->StartTime(), days, ms);
    // A date cell from 1900 on, which the spreadsheet's calendar holds.
    int year = 0, month = 0, day = 0;
    if (days >= 1 && days <= platform::MaxDateTime) platform::DecodeDate(days, year, month, day);
    if (year >= 1900) {
      lxw_datetime d{year, month, day, 0, 0, 0};
      Check(worksheet_write_datetime(sheet, static_cast<lxw_row_t>(row), 0, &d, date), aFilename);
    } else {
      text(row, 0, run->RunStartDate(), centred);
    }
    text(row, 1, FormatTimeOfDay(run->StartTime()), centred);
    text(row, 2, run->RunName(), left);
    text(row, 3, run->RunDurationText(), right);
    // WriteShaftCells
    auto shaft_cells = [&](std::size_t shaft, int col) {
      const TSummaryShaftTexts t = SummaryShaftTexts(run->ShaftDataSet(shaft), cm);
      number(row, col, t.Power, whole);
      number(row, col + 1, t.Speed, tenths);
      number(row, col + 2, t.Torque, whole);
    };
    if (run->ShaftCount() >= 1) shaft_cells(0, 4);
    if (isTwinShafts && run->ShaftCount() >= 2) shaft_cells(1, 7);
    ++row;
  }

  // The library writes the file and frees the workbook, whatever the result.
  Check(workbook_close(book.release()), aFilename);
}

}  // namespace rvx
