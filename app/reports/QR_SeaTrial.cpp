#include "app/reports/QR_SeaTrial.h"

#include "app/reports/ReportLogo.h"
#include "app/util/Utils.h"
#include "platform/core/Clock.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

constexpr double kHeaderHeight = 42.3;
constexpr double kTableHeadHeight = 21.2;
constexpr double kLineHeight = 6.6;
constexpr double kFooterHeight = 17.2;

const TLabelFont kHead11{11, true, false, true};
const TLabelFont kBold10{10, true};

}  // namespace

TQR_SeaTrial::TQR_SeaTrial(const DisplaySettings& aConfigurationManager,
                           const std::vector<RunData*>& runDataSets)
    : FConfigurationManager(aConfigurationManager), FRunDataSets(runDataSets) {
  FillHeader();
  for (std::size_t i = 0; i < FRunDataSets.size(); ++i)
    QRLoopBand1BeforePrint(i);
  BuildBands();
}

void TQR_SeaTrial::FillHeader() {
  vessel_name_ = FConfigurationManager.VesselName();
  trial_name_ = FConfigurationManager.TrialName();
  power_units_ = "(" + FConfigurationManager.PowerUnit() + ")";
  speed_units_ = "(" + FConfigurationManager.SpeedUnit() + ")";
  torque_units_ = "(" + FConfigurationManager.TorqueUnit() + ")";
  for (const RunData* run : FRunDataSets)
    if (run->ShaftCount() > 1) shaft_label_enabled_ = true;
}

void TQR_SeaTrial::QRLoopBand1BeforePrint(std::size_t i) {
  const DisplaySettings& cm = FConfigurationManager;
  RunData& run = *FRunDataSets[i];
  const int count = static_cast<int>(run.ShaftCount());
  auto fill_values = [&](TLine& line, std::size_t shaft) {
    TShaftDataSet& data = run.ShaftDataSet(shaft);
    line.AvgPower = FormatValue(data.PowerData().StatisticalShaftData().FilteredAverageValue() *
                                cm.PowerFactor());
    line.AvgSpeed = FormatValue(data.SpeedData().StatisticalShaftData().FilteredAverageValue() *
                                cm.SpeedFactor());
    line.AvgTorque = FormatValue(data.TorqueData().StatisticalShaftData().FilteredAverageValue() *
                                 cm.TorqueFactor());
  };
  TLine line;
  line.RunStartDate = run.RunStartDate();
  line.RunStartTime = run.RunStartTime();
  line.RunName = run.RunName();
  line.RunDurationText = run.RunDurationText();
  line.ShaftName = ShaftShortName(0, count);
  if (count > 0) fill_values(line, 0);
  lines_.push_back(line);
  // ExtraShaftsLoopBandBeforePrint, once per shaft beyond the first.
  for (int k = 0; k + 1 < count; ++k) {
    TLine extra;
    extra.IsRunLine = false;
    extra.ShaftName = ShaftShortName(k + 1, count);
    fill_values(extra, static_cast<std::size_t>(k + 1));
    lines_.push_back(extra);
  }
}

void TQR_SeaTrial::BuildBands() {
  report_ = std::make_unique<TBandReport>(kReportTitle);

  TBand header;
  header.Height = kHeaderHeight;
  header.Paint = [this](TReportCanvas& c) {
    PaintReportLogo(c.Painter(), c.Rect(0.3, 1.3, 29.1, 25.7));
    c.Label(43.4, 2.4, "Trelmar RVX Log : Trial Summary Report  ", {14, true});
    c.Label(34.4, 10.6, "Vessel name :");
    c.Label(58.5, 10.6, vessel_name_, {11, true});
    c.Label(34.4, 16.9, "Sea trial ID :");
    c.Label(58.5, 16.1, trial_name_, {11, true});
    c.FillRect(-0.3, 28.6, 184.7, 0.3);
  };
  report_->PageHeader.push_back(std::move(header));

  TBand head;
  head.Height = kTableHeadHeight;
  head.Paint = [this](TReportCanvas& c) {
    c.Label(2.6, 1.3, "Mean values (Chauvenet's criterion applied):",
            {12, true, false, true, ReportColour::kTitle});
    c.BoxLabel(0.3, 10.6, 17.2, 5, Qt::AlignLeft, "Date", kHead11);
    c.BoxLabel(20.9, 10.6, 13.5, 5, Qt::AlignLeft, "Time", kHead11);
    c.Label(45.0, 10.6, "Run ID", kHead11);
    c.Label(101.6, 10.6, "Duration", kHead11);
    if (shaft_label_enabled_) c.Label(120.7, 10.6, "Shaft", kHead11);
    c.Label(133.6, 10.3, "Power", kHead11);
    c.Label(149.8, 10.6, "Speed", kHead11);
    c.Label(170.7, 10.3, "Torque", kHead11);
    c.CentredLabel(134.9, 145.7, 15.6, power_units_, kBold10);
    c.CentredLabel(151.9, 162.7, 15.6, speed_units_, kBold10);
    c.RightLabel(184.1, 15.6, torque_units_, kBold10);
  };
  report_->Details.push_back(std::move(head));

  for (const TLine& line : lines_) {
    TBand band;
    band.Height = kLineHeight;
    band.Paint = [&line](TReportCanvas& c) {
      if (line.IsRunLine) {
        c.Label(0.3, 1.3, line.RunStartDate);
        c.RightLabel(34.4, 1.3, line.RunStartTime);
        c.Label(45.0, 1.3, line.RunName);
        c.RightLabel(118.3, 1.3, line.RunDurationText);
      }
      c.Label(120.7, 1.3, line.ShaftName);
      c.RightLabel(145.8, 1.3, line.AvgPower);
      c.RightLabel(162.4, 1.3, line.AvgSpeed);
      c.RightLabel(184.4, 1.3, line.AvgTorque);
    };
    report_->Details.push_back(std::move(band));
  }

  TBand footer;
  footer.Height = kFooterHeight;
  footer.Paint = [](TReportCanvas& c) {
    c.FillRect(0.3, 2.6, 184.2, 0.5);
    c.Label(0.0, 5.0, "Report printed : ");
    c.Label(29.1, 5.0, platform::DateTimeToStr(platform::Now()));
  };
  report_->PageFooter = std::move(footer);
}

}  // namespace rvx
