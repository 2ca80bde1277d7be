#include "app/reports/TrialSummaryCSVCreator.h"

#include "app/reports/CsvText.h"
#include "platform/core/TextConvert.h"

namespace rvx {

TSummaryShaftTexts SummaryShaftTexts(TShaftDataSet& shaft, const DisplaySettings& settings) {
  using platform::FloatToStrF;
  using platform::TFloatFormat;
  const double power =
      shaft.PowerData().StatisticalShaftData().FilteredAverageValue() * settings.PowerFactor();
  const double speed =
      shaft.SpeedData().StatisticalShaftData().FilteredAverageValue() * settings.SpeedFactor();
  const double torque =
      shaft.TorqueData().StatisticalShaftData().FilteredAverageValue() * settings.TorqueFactor();
  return {FloatToStrF(power, TFloatFormat::ffFixed, 6, 0),
          FloatToStrF(speed, TFloatFormat::ffFixed, 4, 1),
          FloatToStrF(torque, TFloatFormat::ffFixed, 6, 0)};
}

bool IsTwinShaftSummary(const std::vector<RunData*>& runDataSets) {
  for (const RunData* run : runDataSets)
    if (run->ShaftCount() == 2) return true;
  return false;
}

TTRialSummaryCSVCreator::TTRialSummaryCSVCreator(const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {}

void TTRialSummaryCSVCreator::Generate(const std::vector<RunData*>& runDataSets, bool isTwinShafts,
                                       const std::string& aFilename) {
  const DisplaySettings& cm = FConfigurationManager;
  TCsvFileWriter out(aFilename);
  // WriteHeader
  std::string head = "Date,Time,Run Name,Duration,";
  for (const char* prefix :
       isTwinShafts ? std::vector<const char*>{"P.", "S."} : std::vector<const char*>{""}) {
    const std::string p = prefix;
    head += CsvField(p + "Power(" + cm.PowerUnit() + ")") + ",";
    head += CsvField(p + "Speed(" + cm.SpeedUnit() + ")") + ",";
    head += CsvField(p + "Torque(" + cm.TorqueUnit() + ")") + ",";
  }
  out.Line(head);
  // WriteRunLine
  for (RunData* run : runDataSets) {
    std::string line = run->RunStartDate() + "," + run->RunStartTime() + "," +
                       QuotedCsvField(run->RunName()) + "," + run->RunDurationText();
    // WriteShaftValues
    auto shaft_values = [&](std::size_t shaft) {
      if (shaft >= run->ShaftCount()) {
        line += ",,,";
        return;
      }
      const TSummaryShaftTexts t = SummaryShaftTexts(run->ShaftDataSet(shaft), cm);
      line += "," + t.Power + "," + t.Speed + "," + t.Torque;
    };
    shaft_values(0);
    if (isTwinShafts && run->ShaftCount() >= 2) shaft_values(1);
    out.Line(line);
  }
  out.Close();
}

}  // namespace rvx
