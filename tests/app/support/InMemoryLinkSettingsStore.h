// Test stand-in: the Com, auto and Demo rows of every shaft in memory, with
// the log database's defaults for rows created on first read.
#pragma once

#include <map>
#include <string>

#include "app/acquisition/LinkSettingsStore.h"

namespace rvx::test {

class InMemoryLinkSettingsStore : public LinkSettingsStore {
 public:
  struct AutoRow {
    int Port;
    int Baud;
  };
  struct DemoRow {
    int TimerInterval;
    int Power;
    int Speed;
    double SpikeChance;
  };

  void EnsureComIndexExists(int aIndex, const std::string& aComMode) override;
  std::string getComMode(int aIndex) override;
  void setComMode(int aIndex, const std::string& aComMode) override;
  int GetAutoComPort(int aIndex) override;
  int GetAutoComBaud(int aIndex) override;
  void SetAutoComSettings(int aIndex, int aBaud, int aPort) override;
  int GetDemoComInterval(int aIndex) override;
  int GetDemoComPower(int aIndex) override;
  int GetDemoComSpeed(int aIndex) override;
  double GetDemoComSpikeChance(int aIndex) override;
  void SetDemoComSettings(int aIndex, int aInterval, int aPower, int aSpeed,
                          double aSpikeChance) override;

  // The rows as stored, for checks.
  const std::map<int, std::string>& ComRows() const { return com_; }
  const std::map<int, AutoRow>& AutoRows() const { return auto_; }
  const std::map<int, DemoRow>& DemoRows() const { return demo_; }

 private:
  AutoRow& EnsureAutoComRow(int aIndex);
  DemoRow& EnsureDemoComRow(int aIndex);

  std::map<int, std::string> com_;
  std::map<int, AutoRow> auto_;
  std::map<int, DemoRow> demo_;
};

}  // namespace rvx::test
