// LinkSettingsStore: where each shaft's meter link keeps its settings: the
// link mode (Com rows), the serial port and baud rate (auto rows) and the
// simulated meter's settings (Demo rows), one row per shaft index. The log
// database implements it; tests use an in-memory version.
//
// Reading a serial or simulated-meter setting of a shaft without a row
// creates the row with the defaults below first; so does writing the serial
// settings. The writers of the link mode and of the simulated meter's
// settings expect the row to exist (their callers read the settings first);
// without one they write nothing.
//
// Errors: the store's own errors (an engine error) pass to the caller.
//
// Thread safety: main thread only.
#pragma once

#include <string>

namespace rvx {

// Link modes, in the order the link setup lists them.
inline constexpr const char* kComModeAuto = "RVS Auto-send";  // serial meter
inline constexpr const char* kComModeDemo = "Demo";           // simulated meter

// Defaults of rows created on first read.
inline constexpr int kDefaultBaud = 4800;
inline int DefaultAutoComPort(int aIndex) {
  return aIndex + 1;
}
inline constexpr int kDefaultDemoInterval = 1000;  // ms
inline constexpr int kDefaultDemoPower = 8000;     // kW
inline constexpr int kDefaultDemoSpeed = 100;      // rpm
inline constexpr double kDefaultDemoSpikeChance = 0;

class LinkSettingsStore {
 public:
  LinkSettingsStore() = default;
  LinkSettingsStore(const LinkSettingsStore&) = delete;
  LinkSettingsStore& operator=(const LinkSettingsStore&) = delete;
  virtual ~LinkSettingsStore() = default;

  // Com: creates the shaft's row with aComMode when it has none.
  virtual void EnsureComIndexExists(int aIndex, const std::string& aComMode) = 0;
  // The shaft's link mode; empty when it has no row.
  virtual std::string getComMode(int aIndex) = 0;
  virtual void setComMode(int aIndex, const std::string& aComMode) = 0;

  // auto: port number and baud rate (row created with port aIndex + 1,
  // baud 4800, by any of the three).
  virtual int GetAutoComPort(int aIndex) = 0;
  virtual int GetAutoComBaud(int aIndex) = 0;
  virtual void SetAutoComSettings(int aIndex, int aBaud, int aPort) = 0;

  // Demo: timer interval in ms, base power in kW, base speed in rpm, spike
  // chance as a fraction (row created with 1000, 8000, 100, 0).
  virtual int GetDemoComInterval(int aIndex) = 0;
  virtual int GetDemoComPower(int aIndex) = 0;
  virtual int GetDemoComSpeed(int aIndex) = 0;
  virtual double GetDemoComSpikeChance(int aIndex) = 0;
  virtual void SetDemoComSettings(int aIndex, int aInterval, int aPower, int aSpeed,
                                  double aSpikeChance) = 0;
};

}  // namespace rvx
