// Helpers of the run control tests: a shaft fed by hand.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"
#include "tests/app/storage/LogDatabaseTestSupport.h"

namespace rvx::test {

// A shaft the test feeds by hand: it keeps its observers as the real one
// does and passes a reading to every one of them.
class HandFedShaft : public IShaft {
 public:
  explicit HandFedShaft(int index) : index_(index) {}
  void RegisterObserver(std::shared_ptr<IShaftObserver> aObserver) override {
    observers_.push_back(std::move(aObserver));
  }
  void RemoveObserver(const IShaftObserver* aObserver) override {
    auto it = std::find_if(observers_.begin(), observers_.end(),
                           [&](const auto& o) { return o.get() == aObserver; });
    if (it != observers_.end()) observers_.erase(it);
  }
  void NotifyObserversOfValues() override {}
  void NotifyObserversOfCommunication() override {}
  void NotifyObserversOfCheckSumError(const std::string&, const TDataValue*, const TDataValue*,
                                      const TDataValue*) override {}
  void NotifyObserversOfTorqueError(const std::string&, const TDataValue*, const TDataValue*,
                                    const TDataValue*) override {}
  void Connect() override {}
  void Disconnect() override {}
  int GetID() const override { return index_ + 1; }
  bool GetHasCommunication() const override { return has_communication_; }
  std::string GetComMode() const override { return "Demo"; }
  int GetShaftIndex() const override { return index_; }
  void SetHasCommunication(bool on) { has_communication_ = on; }

  void Feed(const TDataValue* power, const TDataValue* torque, const TDataValue* speed) {
    auto copy = observers_;
    for (auto& o : copy)
      o->UpdateValues(power, torque, speed);
  }
  std::size_t ObserverCount() const { return observers_.size(); }

 private:
  int index_;
  bool has_communication_ = true;
  std::vector<std::shared_ptr<IShaftObserver>> observers_;
};

}  // namespace rvx::test
