// Test stand-in: a stored run held in memory, owning one TShaftDataSet per
// shaft.
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
    return *shafts_.back();
  }

  std::string RunName() const override { return name_; }
  std::string Comments() const override { return comments_; }
  platform::TDateTime StartTime() const override { return start_; }
  platform::TDateTime StopTime() const override { return stop_; }
  std::size_t ShaftCount() const override { return shafts_.size(); }
  TShaftDataSet& ShaftDataSet(std::size_t shaft) override { return *shafts_.at(shaft); }

 private:
  std::string name_;
  std::string comments_;
  platform::TDateTime start_;
  platform::TDateTime stop_;
  std::vector<std::unique_ptr<TShaftDataSet>> shafts_;
};

}  // namespace rvx::test
