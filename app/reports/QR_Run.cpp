#include "app/reports/QR_Run.h"

#include <QPainter>

#include "app/reports/ReportLogo.h"
#include "app/util/ChartFunctions.h"
#include "app/util/Utils.h"
#include "platform/core/Clock.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

// Band heights and the grid of the shaft band (mm).
constexpr double kHeaderHeight = 36.9;
constexpr double kCommentsHeight = 9.4;
constexpr double kShaftHeight = 187.3;
constexpr double kFooterHeight = 10.6;
constexpr double kCaptionWidth = 21.6;
constexpr double kCaptionLeft[3] = {0.0, 56.6, 118.5};
constexpr double kValueLeft[3] = {22.6, 79.5, 141.6};
constexpr double kRowTop[9] = {9.6, 14.7, 19.8, 25.0, 30.1, 35.3, 40.4, 45.6, 50.7};

const TLabelFont kPlain{};
const TLabelFont kBold{10, true};
const TLabelFont kItalic{10, false, true};
const TLabelFont kTitle12{12, true, false, false, ReportColour::kTitle};

// "(" + FormatValueWithUnit(percent, "% MCR)"), "NA" for an MCR of 0.
std::string PercentText(double displayedMean, int mcr) {
  if (mcr == 0) return "(NA % MCR)";
  return "(" + FormatValueWithUnit(displayedMean / mcr * 100, "% MCR)");
}

}  // namespace

TQR_Run::TQR_Run(const DisplaySettings& aConfigurationManager, RunData& aRun)
    : FConfigurationManager(aConfigurationManager), FRun(aRun) {
  SetMCRIntervals();
  FillHeader();
  for (std::size_t i = 0; i < FRun.ShaftCount(); ++i)
    QRLoopBand1BeforePrint(i);
  BuildBands();
}

void TQR_Run::SetMCRIntervals() {
  FPowerInterval = 0.2 * FConfigurationManager.PowerMCR();
  FSpeedInterval = 0.2 * FConfigurationManager.SpeedMCR();
  FTorqueInterval = 0.2 * FConfigurationManager.TorqueMCR();
}

void TQR_Run::FillHeader() {
  vessel_name_ = FConfigurationManager.VesselName();
  trial_name_ = FConfigurationManager.TrialName();
  run_name_ = FRun.RunName();
  start_text_ = platform::DateTimeToStr(FRun.StartTime());
  stop_text_ = platform::DateTimeToStr(FRun.StopTime());
  comments_ = FRun.Comments();
  Interval = FRun.StopTime() - FRun.StartTime();
  duration_text_ = FormatDuration(Interval);
}

void TQR_Run::QRLoopBand1BeforePrint(std::size_t i) {
  const DisplaySettings& cm = FConfigurationManager;
  TShaftDataSet& data = FRun.ShaftDataSet(i);
  TShaftBand band;
  const std::string short_name =
      ShaftShortName(static_cast<int>(i), static_cast<int>(FRun.ShaftCount()));
  band.Title = short_name.empty() ? "Shaft data:" : "Shaft data (" + short_name + "):";

  struct Quantity {
    const char* caption;
    QColor colour;
    TShaftData* data;
    double factor;
    std::string unit;
    int mcr;
  };
  const Quantity quantities[3] = {{"Power", ReportColour::kBlue, &data.PowerData(),
                                   cm.PowerFactor(), cm.PowerUnit(), cm.PowerMCR()},
                                  {"Speed", ReportColour::kGreen, &data.SpeedData(),
                                   cm.SpeedFactor(), cm.SpeedUnit(), cm.SpeedMCR()},
                                  {"Torque", ReportColour::kMaroon, &data.TorqueData(),
                                   cm.TorqueFactor(), cm.TorqueUnit(), cm.TorqueMCR()}};
  for (int q = 0; q < 3; ++q) {
    const Quantity& in = quantities[q];
    const TStatisticalShaftData& s = in.data->StatisticalShaftData();
    TQuantityTexts& t = band.Quantities[q];
    t.Caption = in.caption;
    t.Colour = in.colour;
    t.Mcr = "(MCR: " + platform::IntToStr(in.mcr) + " " + in.unit + ")";
    const double mean = s.FilteredAverageValue() * in.factor;
    t.Mean = FormatValueWithUnit(mean, in.unit);
    t.Percent = PercentText(mean, in.mcr);
    t.Min = FormatValueWithUnit(s.FilteredMinValue() * in.factor, in.unit);
    t.Max = FormatValueWithUnit(s.FilteredMaxValue() * in.factor, in.unit);
    t.StdDev = FormatValueWithUnit(s.FilteredStdDevValue() * in.factor, in.unit);
    t.Samples = platform::UIntToStr(s.SampleCount());
    t.Outliers = platform::UIntToStr(s.OutlierValues().Count());
    t.Errors = platform::UIntToStr(s.ErrorCount());
  }
  FillChart(band.Chart, data);
  shaft_bands_.push_back(std::move(band));
}

void TQR_Run::FillChart(TReportChart& chart, TShaftDataSet& data) const {
  const DisplaySettings& cm = FConfigurationManager;
  chart.Title = "Logging history (Chauvenet's criterion applied):";
  // SetupChart: series and axis colours, the unit texts as axis titles.
  // Speed and torque axes show neither grid nor ticks.
  chart.Axes[TReportChart::kLeftAxis] = {0, 1, cm.PowerUnit(), ReportColour::kBlue, true, true};
  chart.Axes[TReportChart::kSpeedAxis] = {0, 1, cm.SpeedUnit(), ReportColour::kGreen, false, false};
  chart.Axes[TReportChart::kRightAxis] = {0,     1,    cm.TorqueUnit(), ReportColour::kMaroon,
                                          false, false};

  struct Quantity {
    const char* title;
    QColor colour;
    int axis;
    int kind;
    bool flag;
    double interval;
    const TStatisticalShaftData* stats;
    double factor;
  };
  const Quantity quantities[3] = {
      {"Power", ReportColour::kBlue, TReportChart::kLeftAxis, 0, true, FPowerInterval,
       &data.PowerData().StatisticalShaftData(), cm.PowerFactor()},
      {"Speed", ReportColour::kGreen, TReportChart::kSpeedAxis, 1, false, FSpeedInterval,
       &data.SpeedData().StatisticalShaftData(), cm.SpeedFactor()},
      {"Torque", ReportColour::kMaroon, TReportChart::kRightAxis, 2, false, FTorqueInterval,
       &data.TorqueData().StatisticalShaftData(), cm.TorqueFactor()}};

  double earliest = 0;
  double latest = 0;
  for (const Quantity& q : quantities) {
    const TDataValueList good = q.stats->GoodValues();
    chart.Series.push_back({q.title, q.colour, q.axis, good, q.factor});
    for (const TDataValue& v : good) {
      earliest = MinNonZero(earliest, v.Time());
      latest = MaxOf(latest, v.Time());
    }
    TChartValueAxis& axis = chart.Axes[q.axis];
    if (good.Count() == 0) {
      // No centre to scale around: the quantity's interval from 0.
      axis.Minimum = 0;
      axis.Maximum = q.interval;
    } else {
      const double centre = q.stats->FilteredAverageValue() * q.factor;
      axis.Minimum = AxisMinimum(q.kind, q.flag, centre, q.interval);
      axis.Maximum = AxisMaximum(q.kind, q.flag, centre, q.interval);
    }
    if (!(axis.Maximum > axis.Minimum)) axis.Maximum = axis.Minimum + 1;
  }
  if (earliest == 0 && latest == 0) {
    earliest = FRun.StartTime();
    latest = FRun.StopTime();
  }
  chart.BottomAxis.Minimum = earliest;
  chart.BottomAxis.Maximum = latest;
  SetTimeAxisFormat(chart.BottomAxis, Interval);
}

void TQR_Run::BuildBands() {
  report_ = std::make_unique<TBandReport>(kReportTitle);

  TBand header;
  header.Height = kHeaderHeight;
  header.Paint = [this](TReportCanvas& c) {
    PaintReportLogo(c.Painter(), c.Rect(0.3, 1.3, 29.1, 25.7));
    c.Label(66.1, 2.2, "Trelmar RVX Log : Run Report", {14, true});
    c.Label(32.2, 10.4, "Vessel name :");
    c.Label(58.6, 10.4, vessel_name_);
    c.Label(32.2, 16.3, "Sea trial ID :");
    c.Label(58.6, 16.3, trial_name_);
    c.Label(32.2, 22.5, "Report period :");
    c.Label(58.6, 22.5, start_text_, kItalic);
    c.Label(97.7, 22.5, "to", kItalic);
    c.Label(102.7, 22.5, stop_text_, kItalic);
    c.Label(142.9, 22.5, "Duration :");
    c.BoxLabel(160.9, 22.5, 22.2, 4.5, Qt::AlignLeft, duration_text_);
    c.FillRect(-0.3, 28.6, 184.7, 0.5);
    c.BoxLabel(0.3, 30.9, 23.8, 5.3, Qt::AlignRight, "Run:", kTitle12);
    c.Label(25.4, 30.9, run_name_, {11, true, true});
  };
  report_->PageHeader.push_back(std::move(header));

  // The comments wrap at spaces within 157 mm and stretch the band.
  TBand comments;
  comments.Height = kCommentsHeight;
  comments.Measure = [this](const TReportCanvas& c) {
    return 1.6 + std::max(7.3, c.WrappedHeight(comments_, 157.0, kPlain)) + 0.5;
  };
  comments.Paint = [this](TReportCanvas& c) {
    c.BoxLabel(0.3, 0.9, 23.8, 5.1, Qt::AlignRight, "Comments:", kTitle12);
    c.WrappedLabel(25.4, 1.6, 157.0, comments_);
  };
  report_->PageHeader.push_back(std::move(comments));

  for (const TShaftBand& shaft : shaft_bands_) {
    TBand band;
    band.Height = kShaftHeight;
    band.Paint = [&shaft](TReportCanvas& c) {
      // Right-aligned in its box; a title wider than the box starts at its
      // left edge instead of running off the page.
      if (c.TextWidth(shaft.Title, kTitle12) <= 22.2)
        c.BoxLabel(1.6, 1.5, 22.2, 5.3, Qt::AlignRight, shaft.Title, kTitle12);
      else
        c.Label(1.6, 1.5, shaft.Title, kTitle12);
      static const char* const kCaptions[9] = {nullptr,         "Mean:",     nullptr,
                                               "Min.:",         "Max.:",     "Std. dev.:",
                                               "Tot. samples:", "Outliers:", "Errors:"};
      for (int q = 0; q < 3; ++q) {
        const TQuantityTexts& t = shaft.Quantities[q];
        const TLabelFont coloured_bold{10, true, false, false, t.Colour};
        const TLabelFont coloured{10, false, false, false, t.Colour};
        c.BoxLabel(kCaptionLeft[q], kRowTop[0], kCaptionWidth, 4.5, Qt::AlignRight, t.Caption,
                   coloured_bold);
        c.Label(kValueLeft[q], kRowTop[0], t.Mcr, coloured);
        const std::string* values[9] = {nullptr,   &t.Mean,    &t.Percent,  &t.Min,   &t.Max,
                                        &t.StdDev, &t.Samples, &t.Outliers, &t.Errors};
        for (int r = 1; r < 9; ++r) {
          if (kCaptions[r])
            c.BoxLabel(kCaptionLeft[q], kRowTop[r], kCaptionWidth, 4.5, Qt::AlignRight,
                       kCaptions[r]);
          c.Label(kValueLeft[q], kRowTop[r], *values[r], kBold);
        }
      }
      shaft.Chart.Paint(c, 0.1, 60.6, 182.3, 129.4);
    };
    report_->Details.push_back(std::move(band));
  }

  TBand footer;
  footer.Height = kFooterHeight;
  footer.Paint = [](TReportCanvas& c) {
    c.FillRect(0.3, 1.9, 184.2, 0.5);
    c.Label(0.1, 4.0, "Report printed : ");
    c.Label(29.1, 4.0, platform::DateTimeToStr(platform::Now()));
  };
  report_->PageFooter = std::move(footer);
}

}  // namespace rvx
