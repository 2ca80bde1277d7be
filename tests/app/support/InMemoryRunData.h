// Test stand-in: a stored run held in memory, owning one TShaftDataSet per
// shaft. Its record ID is 1 unless set; shafts are numbered 1, 2 unless
// given their number.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/RunData.h"

namespace rvx::test {

class InMemoryRunData : public RunData {
 public:
  InMemoryRunData(std::string name, platform::TDateTime start, platform::TDateTime stop,
                  std::string comments = {})
      : name_(std::move(name)), comments_(std::move(comments)), start_(start), stop_(stop) {}

  // Adds a shaft with these moving-average settings and returns its samples.
  TShaftDataSet& AddShaft(int window = 5, int minimum = 5) {
    shafts_.push_back(std::make_unique<TShaftDataSet>(window, minimum));
    shaft_ids_.push_back(static_cast<int>(shafts_.size()));
    return *shafts_.back();
  }
  void SetRunId(int id) { id_ = id; }
  // REQUIRES: shaft < ShaftCount().
  void SetShaftId(std::size_t shaft, int id) { shaft_ids_.at(shaft) = id; }

  int RunId() const override { return id_; }
  std::string RunName() const override { return name_; }
  std::string Comments() const override { return comments_; }
  platform::TDateTime StartTime() const override { return start_; }
  platform::TDateTime StopTime() const override { return stop_; }
  std::size_t ShaftCount() const override { return shafts_.size(); }
  TShaftDataSet& ShaftDataSet(std::size_t shaft) override { return *shafts_.at(shaft); }
  int ShaftId(std::size_t shaft) const override { return shaft_ids_.at(shaft); }

 private:
  std::string name_;
  std::string comments_;
  platform::TDateTime start_;
  platform::TDateTime stop_;
  std::vector<std::unique_ptr<TShaftDataSet>> shafts_;
  std::vector<int> shaft_ids_;
  int id_ = 1;
};

}  // namespace rvx::test
