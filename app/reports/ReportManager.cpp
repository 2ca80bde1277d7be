#include "app/reports/ReportManager.h"

#include <exception>
#include <vector>

#include "app/reports/QR_Run.h"
#include "app/reports/QR_SeaTrial.h"
#include "app/reports/RawDataCSVCreator.h"
#include "app/reports/ReportFileNames.h"
#include "app/reports/TrialSummaryCSVCreator.h"
#include "app/reports/TrialSummaryXLSCreator.h"
#include "platform/core/Exceptions.h"
#include "platform/os/File.h"

namespace rvx {

TReportManager::TReportManager(const DisplaySettings& aConfigurationManager,
                               ReportCatalog& aDMSystem, ErrorLog& aErrorLog,
                               MessageBox& aMessageBox, Shell& aShell, Printer& aPrinter)
    : FConfigurationManager(aConfigurationManager),
      FDMSystem(aDMSystem),
      FErrorLog(aErrorLog),
      FMessageBox(aMessageBox),
      FShell(aShell),
      FPrinter(aPrinter) {}

template <class Output>
void TReportManager::Guarded(const char* function, Output&& output) {
  try {
    output();
  } catch (const std::exception& e) {
    // Logged and shown: a failed output must not pass for a written one.
    FErrorLog.newError(kUnitName, function, e.what(), ErrorLog::kLogAndShow);
  }
}

TReportRunEntry TReportManager::RunEntry(const RunData& aRun) const {
  return {aRun.RunId(), FConfigurationManager.VesselName(), FConfigurationManager.TrialName(),
          aRun.RunName()};
}

std::string TReportManager::RunPdfFileName(const TReportRunEntry& aRun) {
  const std::string folder = FDMSystem.getReportPath();
  return rvx::RunPdfFileName(folder, RunFileBase(aRun, FDMSystem.AllRuns()));
}

std::string TReportManager::RawDataCsvFileName(const TReportRunEntry& aRun, bool filtered,
                                               int aShaftId) {
  const std::string folder = FDMSystem.getReportPath();
  return rvx::RawDataCsvFileName(folder, RunFileBase(aRun, FDMSystem.AllRuns()), filtered,
                                 aShaftId);
}

std::string TReportManager::TrialSummaryFileName(const std::string& extension) {
  return TrialSummaryFileName({FConfigurationManager.TrialId(), FConfigurationManager.VesselName(),
                               FConfigurationManager.TrialName()},
                              extension);
}

std::string TReportManager::TrialSummaryFileName(const TReportTrialEntry& aTrial,
                                                 const std::string& extension) {
  const std::string folder = FDMSystem.getReportPath();
  return rvx::TrialSummaryFileName(folder, TrialFileBase(aTrial, FDMSystem.AllTrials()), extension);
}

void TReportManager::GenerateRunPdfFile(RunData& aRun, bool aOpenReport, bool aPrint) {
  const TQR_Run report(FConfigurationManager, aRun);
  const std::string file_name = RunPdfFileName(RunEntry(aRun));
  report.WritePdf(file_name);
  if (aOpenReport) FShell.Open(file_name);
  if (aPrint)
    FPrinter.Print(TQR_Run::kReportTitle,
                   [&report](QPagedPaintDevice& device) { report.Render(device); });
}

void TReportManager::OpenRunPdf(RunData& aRun) {
  const std::string file_name = RunPdfFileName(RunEntry(aRun));
  if (platform::DefaultFileSystem().FileExists(file_name))
    FShell.Open(file_name);
  else
    GenerateRunPdfFile(aRun, true, false);
}

void TReportManager::PrintRunPdf(RunData& aRun) {
  GenerateRunPdfFile(aRun, false, true);
}

void TReportManager::GenerateRunRawDataCsvFiles(RunData& aRun) {
  const TReportRunEntry entry = RunEntry(aRun);
  for (std::size_t i = 0; i < aRun.ShaftCount(); ++i)
    GenerateRawDataCsvFiles(entry, aRun.ShaftId(i), aRun.ShaftDataSet(i));
}

void TReportManager::GenerateRawDataCsvFiles(const TReportRunEntry& aRun, int aShaftId,
                                             TShaftDataSet& aShaftDataSet) {
  TRawDataCSVCreator creator(FConfigurationManager);
  Guarded("GenerateRawDataCsvFiles - No filter", [&] {
    creator.GenerateRawValues(aShaftId, aShaftDataSet, aRun.RunName,
                              RawDataCsvFileName(aRun, false, aShaftId));
  });
  Guarded("GenerateRawDataCsvFiles - Filtered", [&] {
    creator.GenerateFilteredValues(aShaftId, aShaftDataSet, aRun.RunName,
                                   RawDataCsvFileName(aRun, true, aShaftId));
  });
}

void TReportManager::GenerateTrialSummary(const std::vector<RunData*>& runDataSets,
                                          bool aCreateCSVFile, bool aCreateXLSFile,
                                          bool aCreatePDFFile, bool aPrint) {
  const bool twin = IsTwinShaftSummary(runDataSets);
  if (aCreateCSVFile)
    Guarded("GenerateTrialSummaryCsvFile", [&] {
      TTRialSummaryCSVCreator(FConfigurationManager)
          .Generate(runDataSets, twin, TrialSummaryFileName(".csv"));
    });
  if (aCreateXLSFile)
    Guarded("GenerateTrialSummaryXlsFile", [&] {
      TTRialSummaryXLSCreator(FConfigurationManager)
          .Generate(runDataSets, twin, TrialSummaryFileName(".xlsx"));
    });
  if (aCreatePDFFile || aPrint) {
    const TQR_SeaTrial report(FConfigurationManager, runDataSets);
    const std::string file_name = TrialSummaryFileName(".pdf");
    report.WritePdf(file_name);
    if (aCreatePDFFile) FShell.Open(file_name);
    if (aPrint)
      FPrinter.Print(TQR_SeaTrial::kReportTitle,
                     [&report](QPagedPaintDevice& device) { report.Render(device); });
  }
}

void TReportManager::DeleteRunPdf(const TReportRunEntry& aRun, bool confirmDelete) {
  const std::string folder = FDMSystem.getReportPath();
  const std::string plain = RunReportBase(aRun);
  std::vector<std::string> names;
  // The plain name is this run's only when no run of lower ID shares it.
  if (RunFileBase(aRun, FDMSystem.AllRuns()) == plain)
    names.push_back(rvx::RunPdfFileName(folder, plain));
  names.push_back(rvx::RunPdfFileName(folder, plain + IdSuffix(aRun.RunId)));
  platform::FileSystem& fs = platform::DefaultFileSystem();
  std::erase_if(names, [&](const std::string& name) { return !fs.FileExists(name); });
  if (names.empty()) return;
  if (confirmDelete &&
      !FMessageBox.Confirm("Delete the report file for '" + aRun.RunName + "' too?"))
    return;
  for (const std::string& name : names) {
    try {
      fs.DeleteFile(name);
    } catch (const platform::Exception&) {
      // A file that cannot be deleted is left; the run goes all the same.
    }
  }
}

void TReportManager::DeleteTrialSummaryFiles(const TReportTrialEntry& aTrial,
                                             const std::vector<TReportRunEntry>& aTrialRuns,
                                             bool confirmDelete) {
  if (confirmDelete &&
      !FMessageBox.Confirm("Delete all reports for '" + aTrial.TrialName + "' too?"))
    return;
  platform::FileSystem& fs = platform::DefaultFileSystem();
  for (const char* extension : {".csv", ".xlsx", ".pdf"}) {
    const std::string name = TrialSummaryFileName(aTrial, extension);
    try {
      if (fs.FileExists(name)) fs.DeleteFile(name);
    } catch (const platform::Exception&) {
      // A file that cannot be deleted is left; the trial goes all the same.
    }
  }
  for (const TReportRunEntry& run : aTrialRuns)
    DeleteRunPdf(run, false);
}

}  // namespace rvx
