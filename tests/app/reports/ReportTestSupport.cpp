#include "tests/app/reports/ReportTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "app/util/ProgramInfo.h"

namespace rvx::test {

std::string InMemoryReportCatalog::getReportPath() {
  const std::string folder = GetSpecialFolderPath(CSIDL_COMMON_DOCUMENTS) + "/RVX/reports/";
  std::filesystem::create_directories(folder);
  return folder;
}

void AddReadings(TShaftDataSet& shaft, platform::TDateTime start,
                 const std::vector<Reading>& readings, double secondsApart) {
  auto ordinal = static_cast<std::uint32_t>(shaft.PowerData().Values().Count());
  for (std::size_t i = 0; i < readings.size(); ++i, ++ordinal) {
    const platform::TDateTime t = start + static_cast<double>(i) * secondsApart / 86400.0;
    shaft.AddPower(t, readings[i].power, false, ordinal);
    shaft.AddTorque(t, readings[i].torque, false, ordinal);
    shaft.AddSpeed(t, readings[i].speed, false, ordinal);
  }
}

void AddSteadyReadings(TShaftDataSet& shaft, platform::TDateTime start, std::size_t count,
                       const Reading& around, double secondsApart) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise;
  std::vector<Reading> readings;
  readings.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    readings.push_back({around.power * (1 + 0.01 * noise(random)),
                        around.speed * (1 + 0.005 * noise(random)),
                        around.torque * (1 + 0.01 * noise(random))});
  AddReadings(shaft, start, readings, secondsApart);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::string CrLfLines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& line : lines)
    s += line + "\r\n";
  return s;
}

std::string ShellQuoted(const std::string& path) {
  std::string s = "'";
  for (char c : path) {
    if (c == '\'')
      s += "'\\''";
    else
      s += c;
  }
  return s + "'";
}

std::string RunTool(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return output;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << command << "\n" << output;
  return output;
}

std::string PdfText(const std::string& path, int page) {
  std::string range;
  if (page > 0) range = " -f " + std::to_string(page) + " -l " + std::to_string(page);
  return RunTool("pdftotext -layout" + range + " " + ShellQuoted(path) + " -");
}

int PdfPageCount(const std::string& path) {
  std::istringstream info(RunTool("pdfinfo " + ShellQuoted(path)));
  std::string line;
  while (std::getline(info, line))
    if (line.rfind("Pages:", 0) == 0) return std::stoi(line.substr(6));
  ADD_FAILURE() << "no page count for " << path;
  return 0;
}

PagePicture::PagePicture(const std::string& pdf) {
  const std::string prefix = pdf + "-page";
  RunTool("pdftoppm -r 100 -f 1 -l 1 -png " + ShellQuoted(pdf) + " " + ShellQuoted(prefix));
  image_.load(QString::fromStdString(prefix + "-1.png"));
}

int PagePicture::Count(double left, double top, double width, double height, QColor colour,
                       int tolerance) const {
  const double px = 100 / 25.4;
  int n = 0;
  for (int y = static_cast<int>(top * px); y < static_cast<int>((top + height) * px); ++y)
    for (int x = static_cast<int>(left * px); x < static_cast<int>((left + width) * px); ++x) {
      const QColor c = image_.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
              std::abs(c.blue() - colour.blue()) <=
          tolerance)
        ++n;
    }
  return n;
}

}  // namespace rvx::test
