#include "tests/app/support/InMemoryLinkSettingsStore.h"

namespace rvx::test {

void InMemoryLinkSettingsStore::EnsureComIndexExists(int aIndex, const std::string& aComMode) {
  com_.try_emplace(aIndex, aComMode);
}

std::string InMemoryLinkSettingsStore::getComMode(int aIndex) {
  const auto it = com_.find(aIndex);
  return it == com_.end() ? std::string() : it->second;
}

void InMemoryLinkSettingsStore::setComMode(int aIndex, const std::string& aComMode) {
  if (auto it = com_.find(aIndex); it != com_.end()) it->second = aComMode;
}

InMemoryLinkSettingsStore::AutoRow& InMemoryLinkSettingsStore::EnsureAutoComRow(int aIndex) {
  return auto_.try_emplace(aIndex, AutoRow{DefaultAutoComPort(aIndex), kDefaultBaud}).first->second;
}

InMemoryLinkSettingsStore::DemoRow& InMemoryLinkSettingsStore::EnsureDemoComRow(int aIndex) {
  return demo_
      .try_emplace(aIndex, DemoRow{kDefaultDemoInterval, kDefaultDemoPower, kDefaultDemoSpeed,
                                   kDefaultDemoSpikeChance})
      .first->second;
}

int InMemoryLinkSettingsStore::GetAutoComPort(int aIndex) {
  return EnsureAutoComRow(aIndex).Port;
}

int InMemoryLinkSettingsStore::GetAutoComBaud(int aIndex) {
  return EnsureAutoComRow(aIndex).Baud;
}

void InMemoryLinkSettingsStore::SetAutoComSettings(int aIndex, int aBaud, int aPort) {
  AutoRow& row = EnsureAutoComRow(aIndex);
  row.Baud = aBaud;
  row.Port = aPort;
}

int InMemoryLinkSettingsStore::GetDemoComInterval(int aIndex) {
  return EnsureDemoComRow(aIndex).TimerInterval;
}

int InMemoryLinkSettingsStore::GetDemoComPower(int aIndex) {
  return EnsureDemoComRow(aIndex).Power;
}

int InMemoryLinkSettingsStore::GetDemoComSpeed(int aIndex) {
  return EnsureDemoComRow(aIndex).Speed;
}

double InMemoryLinkSettingsStore::GetDemoComSpikeChance(int aIndex) {
  return EnsureDemoComRow(aIndex).SpikeChance;
}

void InMemoryLinkSettingsStore::SetDemoComSettings(int aIndex, int aInterval, int aPower,
                                                   int aSpeed, double aSpikeChance) {
  const auto it = demo_.find(aIndex);
  if (it == demo_.end()) return;
  it->second = DemoRow{aInterval, aPower, aSpeed, aSpikeChance};
}

}  // namespace rvx::test
