// ProgramInfo: what the program knows about itself and its machine: its
// version texts (from the project version of the build), whether it runs
// under a debugger, and the shell folders it keeps its files in.
//
// The module variables are set by UtilsStartUp before the program body runs
// and cleared by UtilsShutDown; the layout variables belong to the main
// window, which sets them for the compact or the full layout.
//
// Thread safety: the variables are written on the main thread only, at
// start-up and by the main window; the functions are safe from any thread.
#pragma once

#include <string>

namespace rvx {

// The program file's version texts. Only the running program has them; every
// other file gives eleven empty texts.
struct TVersionInfo {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string LegalTradeMarks;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;
  std::string Language;
};

// Info := the version texts of FileName: the build's when FileName names the
// running program (any path to the same file), else all empty. Never fails.
void ReadFileVersionInfo(const std::string& FileName, TVersionInfo& Info);

// The path of the running program file; empty when it cannot be read.
std::string ProgramFilePath();

// True when a debugger (any tracer) is attached to the process.
bool IsDebuggerAttached();

// Shell folder numbers that GetSpecialFolderPath knows.
inline constexpr int CSIDL_PERSONAL = 5;           // the user's documents
inline constexpr int CSIDL_COMMON_DOCUMENTS = 46;  // the documents folder of the program's data
// The folder for csidl as the file system names it (UTF-8 on Linux, "/"
// between names, no trailing "/"); empty for an unknown number or when no such
// folder can be found. Both numbers name the documents folder: $RVX_DOCUMENTS
// when set and not empty, else the user's documents folder.
std::string GetSpecialFolderPath(int csidl);

// Module variables.
extern TVersionInfo ProgramVersionInfo;
extern std::string ProgramVersion;  // ProgramVersionInfo.FileVersion
extern bool DebuggerAttached;

// How wide glow buttons place their picture (StyleGlowButton).
enum class TButtonLayout { blGlyphLeft, blGlyphLeftAdjusted, blGlyphTop };
// Layout variables, set by the main window: the full layout's values until
// then.
extern int GlowButtonHeight;
extern TButtonLayout GlowButtonLayout;
extern int RunsGridReserve;
extern int RunsGridGap;

// The module's start step: DebuggerAttached, ProgramVersionInfo of the
// running program and ProgramVersion. The end step clears the version texts.
void UtilsStartUp();
void UtilsShutDown();

}  // namespace rvx
