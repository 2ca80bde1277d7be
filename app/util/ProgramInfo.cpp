#include "app/util/ProgramInfo.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace rvx {

TVersionInfo ProgramVersionInfo;
std::string ProgramVersion;
bool DebuggerAttached = false;
int GlowButtonHeight = 60;
TButtonLayout GlowButtonLayout = TButtonLayout::blGlyphTop;
int RunsGridReserve = 510;
int RunsGridGap = 8;

namespace {

// Two paths name the same file; false when either cannot be examined.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

}  // namespace

std::string ProgramFilePath() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

void ReadFileVersionInfo(const std::string& FileName, TVersionInfo& Info) {
  Info = TVersionInfo();
  const std::string self = ProgramFilePath();
  if (FileName.empty() || self.empty() || !SameFile(FileName, self)) return;
  Info.CompanyName = "Trelmar";
  Info.FileDescription = "RVX Log Program";
  Info.FileVersion = RVX_PROGRAM_VERSION;
  Info.InternalName = "rvxlog";
  Info.OriginalFilename = "rvxlog";
  Info.ProductName = "RVX Log";
  Info.ProductVersion = RVX_PROGRAM_VERSION;
  Info.Language = "English (United Kingdom)";
}

bool IsDebuggerAttached() {
  // The kernel names the tracing process in the status file; 0 means none.
  std::ifstream status("/proc/self/status");
  std::string line;
  constexpr std::string_view kKey = "TracerPid:";
  while (std::getline(status, line)) {
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    const std::size_t digit = line.find_first_of("0123456789", kKey.size());
    return digit != std::string::npos && std::atol(line.c_str() + digit) != 0;
  }
  return false;
}

std::string GetSpecialFolderPath(int csidl) {
  if (csidl != CSIDL_COMMON_DOCUMENTS && csidl != CSIDL_PERSONAL) return {};
  QString folder = qEnvironmentVariable("RVX_DOCUMENTS");
  if (folder.isEmpty())
    folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) return {};
  folder = QDir::cleanPath(QDir::fromNativeSeparators(folder));
  return QFile::encodeName(folder).toStdString();
}

void UtilsStartUp() {
  DebuggerAttached = IsDebuggerAttached();
  ReadFileVersionInfo(ProgramFilePath(), ProgramVersionInfo);
  ProgramVersion = ProgramVersionInfo.FileVersion;
}

void UtilsShutDown() {
  ProgramVersionInfo = TVersionInfo();
  ProgramVersion.clear();
}

}  // namespace rvx
