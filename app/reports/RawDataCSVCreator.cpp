#include "app/reports/RawDataCSVCreator.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "app/reports/CsvText.h"
#include "app/util/Utils.h"
#include "platform/core/TextConvert.h"

namespace rvx {

namespace {

// The samples of one quantity that a file lists, in ordinal order: the
// unflagged entries of the whole list, or the kept samples. A list that is
// not in ordinal order (never so for recorded runs) is sorted first.
class TReadingSamples {
 public:
  explicit TReadingSamples(TDataValueEntries entries) : entries_(entries) { Prepare(); }
  explicit TReadingSamples(TDataValueList list) : list_(list) { Prepare(); }

  // The next sample; nullptr at the end.
  const TDataValue* Peek() const { return next_; }
  void Pop() {
    ++at_;
    Advance();
  }

 private:
  std::size_t Count() const { return entries_ ? entries_->Count() : list_->Count(); }
  // The sample at position i, or nullptr when the file skips it.
  const TDataValue* At(std::size_t i) const {
    if (list_) return &(*list_)[i];
    const TDataValue* v = (*entries_)[i];
    return v && !v->IsError() ? v : nullptr;
  }
  void Prepare() {
    bool ordered = true;
    std::uint32_t last = 0;
    bool first = true;
    for (std::size_t i = 0, n = Count(); i < n && ordered; ++i) {
      const TDataValue* v = At(i);
      if (!v) continue;
      ordered = first || v->Ordinal() >= last;
      last = v->Ordinal();
      first = false;
    }
    if (!ordered) {
      for (std::size_t i = 0, n = Count(); i < n; ++i)
        if (const TDataValue* v = At(i)) sorted_.push_back(v);
      std::stable_sort(
          sorted_.begin(), sorted_.end(),
          [](const TDataValue* a, const TDataValue* b) { return a->Ordinal() < b->Ordinal(); });
      use_sorted_ = true;
    }
    Advance();
  }
  void Advance() {
    next_ = nullptr;
    if (use_sorted_) {
      if (at_ < sorted_.size()) next_ = sorted_[at_];
      return;
    }
    for (const std::size_t n = Count(); at_ < n; ++at_)
      if ((next_ = At(at_))) return;
  }

  std::optional<TDataValueEntries> entries_;
  std::optional<TDataValueList> list_;
  std::vector<const TDataValue*> sorted_;
  bool use_sorted_ = false;
  std::size_t at_ = 0;
  const TDataValue* next_ = nullptr;
};

std::string PercentOfMcr(double displayedMean, int mcr) {
  if (mcr == 0) return "NA%";
  return FormatValue(displayedMean / mcr * 100) + "%";
}

std::string Fixed2(double value) {
  std::string s;
  AppendFixed2(s, value);
  return s;
}

}  // namespace

TRawDataCSVCreator::TRawDataCSVCreator(const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {}

void TRawDataCSVCreator::GenerateRawValues(int aShaftId, TShaftDataSet& aShaftDataSet,
                                           const std::string& aRunName,
                                           const std::string& aFilename) {
  Generate(false, aShaftId, aShaftDataSet, aRunName, aFilename);
}

void TRawDataCSVCreator::GenerateFilteredValues(int aShaftId, TShaftDataSet& aShaftDataSet,
                                                const std::string& aRunName,
                                                const std::string& aFilename) {
  Generate(true, aShaftId, aShaftDataSet, aRunName, aFilename);
}

void TRawDataCSVCreator::Generate(bool filtered, int aShaftId, TShaftDataSet& aShaftDataSet,
                                  const std::string& aRunName, const std::string& aFilename) {
  const DisplaySettings& cm = FConfigurationManager;
  const double factors[3] = {cm.PowerFactor(), cm.SpeedFactor(), cm.TorqueFactor()};
  const int mcr[3] = {cm.PowerMCR(), cm.SpeedMCR(), cm.TorqueMCR()};
  TShaftData* data[3] = {&aShaftDataSet.PowerData(), &aShaftDataSet.SpeedData(),
                         &aShaftDataSet.TorqueData()};
  const TStatisticalShaftData* stats[3];
  for (int q = 0; q < 3; ++q)
    stats[q] = &data[q]->StatisticalShaftData();
  const std::string units =
      "Power(" + cm.PowerUnit() + "),Speed(" + cm.SpeedUnit() + "),Torque(" + cm.TorqueUnit() + ")";

  TCsvFileWriter out(aFilename);
  // WriteFileHeader
  out.Line(CsvField("Vessel: " + cm.VesselName()));
  out.Line(CsvField("Trial: " + cm.TrialName()));
  out.Line(CsvField("Run: " + aRunName));
  out.Line("Shaft id: " + platform::IntToStr(aShaftId));
  out.Line(filtered ? "Outlier filter: Chauvenet" : "Outlier filter: no filter");
  // WriteFunctionHeader, WriteMCR
  out.Line("");
  out.Line("Function," + units);
  out.Line("MCR," + platform::IntToStr(mcr[0]) + "," + platform::IntToStr(mcr[1]) + "," +
           platform::IntToStr(mcr[2]));
  // WriteRawStatistics / WriteFilteredStatistics
  auto row = [&](const char* name, auto&& text) {
    std::string s = name;
    for (int q = 0; q < 3; ++q)
      s += "," + text(q);
    out.Line(s);
  };
  auto mean = [&](int q) {
    return filtered ? stats[q]->FilteredAverageValue() : stats[q]->AverageValue();
  };
  row("Mean", [&](int q) { return Fixed2(mean(q) * factors[q]); });
  row("% of MCR", [&](int q) { return PercentOfMcr(mean(q) * factors[q], mcr[q]); });
  row("Min", [&](int q) {
    return Fixed2((filtered ? stats[q]->FilteredMinValue() : stats[q]->MinValue()) * factors[q]);
  });
  row("Max", [&](int q) {
    return Fixed2((filtered ? stats[q]->FilteredMaxValue() : stats[q]->MaxValue()) * factors[q]);
  });
  row("Std. dev.", [&](int q) {
    return Fixed2((filtered ? stats[q]->FilteredStdDevValue() : stats[q]->StdDevValue()) *
                  factors[q]);
  });
  row("Samples", [&](int q) { return platform::UIntToStr(stats[q]->SampleCount()); });
  row("Outliers", [&](int q) {
    return filtered ? platform::UIntToStr(stats[q]->OutlierValues().Count()) : std::string("n/a");
  });
  row("Errors", [&](int q) { return platform::UIntToStr(stats[q]->ErrorCount()); });
  // WriteDataHeader
  out.Line("");
  out.Line("Date,Time," + units);

  // WriteValueSets: the three quantities merged by reading ordinal.
  std::optional<TReadingSamples> samples[3];
  for (int q = 0; q < 3; ++q) {
    if (filtered)
      samples[q].emplace(stats[q]->GoodValues());
    else
      samples[q].emplace(data[q]->Values());
  }
  TSampleTimeText times;
  std::string& line = out.Buffer();
  for (;;) {
    std::uint32_t ordinal = std::numeric_limits<std::uint32_t>::max();
    bool any = false;
    for (auto& s : samples)
      if (const TDataValue* v = s->Peek(); v && (!any || v->Ordinal() < ordinal)) {
        ordinal = v->Ordinal();
        any = true;
      }
    if (!any) break;
    TDataValueSet set;
    set.FOrdinal = ordinal;
    const TDataValue** fields[3] = {&set.FPower, &set.FSpeed, &set.FTorque};
    // Power first, then torque, then speed give the line its time.
    bool timed = false;
    for (int q : {0, 2, 1}) {
      // A later sample of one quantity with the same ordinal replaces the
      // earlier, as a second value for one reading can only be a repeat.
      while (const TDataValue* v = samples[q]->Peek()) {
        if (v->Ordinal() != ordinal) break;
        *fields[q] = v;
        samples[q]->Pop();
      }
      if (*fields[q] && !timed) {
        set.FTime = (*fields[q])->Time();
        timed = true;
      }
    }
    times.Append(line, set.FTime);
    for (int q = 0; q < 3; ++q) {
      line += ',';
      if (*fields[q]) AppendFixed2(line, (*fields[q])->Value() * factors[q]);
    }
    out.EndLine();
  }
  out.Close();
}

}  // namespace rvx
