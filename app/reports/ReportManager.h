// TReportManager: the one place that names, writes, opens, prints and
// deletes the program's output files (see ReportFileNames.h for the names):
// a run's PDF report, the two raw-data CSV files of each shaft of a run, and
// the trial summary as CSV file, spreadsheet and PDF report.
//
// Guards: the summary CSV file, the summary spreadsheet and each raw-data
// file are written inside their own guard: an error is logged and shown
// (ErrorLog level 20, unit "ReportManager") and the next output is still
// made. The run report and the summary report have no guard: their errors
// pass to the caller.
//
// Viewing writes the PDF and hands it to the Shell; printing paints the same
// report on the Printer. A print-only summary is written, not opened.
//
// The manager holds no state beyond its borrowed collaborators, which must
// outlive it.
//
// Thread safety: GUI thread only.
#pragma once

#include <string>
#include <vector>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/ErrorLog.h"
#include "app/acquisition/RunData.h"
#include "app/reports/ReportCatalog.h"
#include "app/util/MessageBox.h"
#include "app/util/Printer.h"
#include "app/util/Shell.h"

namespace rvx {

class TReportManager {
 public:
  static constexpr const char* kUnitName = "ReportManager";

  // aConfigurationManager: the current vessel and trial, units and factors;
  // aDMSystem: the report folder and the names of all runs and trials.
  TReportManager(const DisplaySettings& aConfigurationManager, ReportCatalog& aDMSystem,
                 ErrorLog& aErrorLog, MessageBox& aMessageBox, Shell& aShell, Printer& aPrinter);
  TReportManager(const TReportManager&) = delete;
  TReportManager& operator=(const TReportManager&) = delete;

  // The run report of aRun (a run of the current trial) into its PDF file;
  // opened through the shell when aOpenReport, printed when aPrint.
  void GenerateRunPdfFile(RunData& aRun, bool aOpenReport, bool aPrint);
  // Opens the run's PDF file when it exists, else writes and opens it.
  void OpenRunPdf(RunData& aRun);
  // Writes the PDF file again and prints the report.
  void PrintRunPdf(RunData& aRun);

  // The two raw-data files of every shaft of aRun, shafts in order.
  void GenerateRunRawDataCsvFiles(RunData& aRun);
  // The "No filter" file, then the "Chauvenet" file of one shaft, each in
  // its own guard.
  void GenerateRawDataCsvFiles(const TReportRunEntry& aRun, int aShaftId,
                               TShaftDataSet& aShaftDataSet);

  // The chosen trial summary outputs of the current trial, whose runs are
  // runDataSets (in list order): the CSV file and the spreadsheet each in
  // its guard, then the PDF report when aCreatePDFFile or aPrint (opened
  // when aCreatePDFFile, printed when aPrint).
  void GenerateTrialSummary(const std::vector<RunData*>& runDataSets, bool aCreateCSVFile,
                            bool aCreateXLSFile, bool aCreatePDFFile, bool aPrint);

  // Deletes the run's PDF file: its plain name when the run owns it (no run
  // of lower ID shares its base) and its " (ID n)" name. With confirmDelete
  // the user is asked first, and only when a file exists. A file that
  // cannot be deleted is left.
  void DeleteRunPdf(const TReportRunEntry& aRun, bool confirmDelete);
  // Deletes a trial's summary files (".csv", ".xlsx", ".pdf") and the PDF of
  // each of aTrialRuns (its runs), without asking about them one by one.
  // With confirmDelete the user is asked once first ("Delete all reports
  // for ..."); No keeps every file.
  void DeleteTrialSummaryFiles(const TReportTrialEntry& aTrial,
                               const std::vector<TReportRunEntry>& aTrialRuns, bool confirmDelete);

  // The entry of aRun in the current vessel and trial.
  TReportRunEntry RunEntry(const RunData& aRun) const;
  // The current names of the files.
  std::string RunPdfFileName(const TReportRunEntry& aRun);
  std::string RawDataCsvFileName(const TReportRunEntry& aRun, bool filtered, int aShaftId);
  // extension: ".csv", ".xlsx" or ".pdf".
  std::string TrialSummaryFileName(const std::string& extension);
  // The same for any trial.
  std::string TrialSummaryFileName(const TReportTrialEntry& aTrial, const std::string& extension);

 private:
  // Runs output inside the guard named function.
  template <class Output>
  void Guarded(const char* function, Output&& output);

  const DisplaySettings& FConfigurationManager;
  ReportCatalog& FDMSystem;
  ErrorLog& FErrorLog;
  MessageBox& FMessageBox;
  Shell& FShell;
  Printer& FPrinter;
};

}  // namespace rvx
