#include "app/acquisition/DemoCommunication.h"

#include <QTimer>

#include <cmath>

#include "platform/core/Random.h"

namespace rvx {

namespace {

constexpr const char* kUnit = "DemoCommunication";
// Torque in kNm from power in kW and speed in rpm: 60 / (2 pi) / 1000 x 1000.
constexpr double kTorqueFactor = 9.549297;

}  // namespace

double RandomUnit() {
  // The top 53 bits: every double in [0, 1) on a 2^-53 grid, never 1.
  return static_cast<double>(platform::CurrentRandom().Next64() >> 11) * 0x1.0p-53;
}

TDemoCommunication::TDemoCommunication(LinkServices aDMSystem, int Index)
    : Timer(std::make_unique<QTimer>()), FIndex(Index), FDMSystem(aDMSystem) {
  FSpikeChance = GetDemoSpikeChance();
  const int interval = GetDemoInterval();
  // Qt turns a negative interval into 1 ms; such a timer never starts here.
  Timer->setInterval(interval > 0 ? interval : 0);
  QObject::connect(Timer.get(), &QTimer::timeout, Timer.get(), [this] { OnDemoTimer(); });
  Disconnect();
}

TDemoCommunication::~TDemoCommunication() {
  Disconnect();
  // Freed by an observer during a tick: the timer is inside its signal.
  DisposeQtObject(Timer.release(), ticking_ > 0);
}

void TDemoCommunication::Connect() {
  // A Qt timer of 0 ms fires at every pass of the event loop; an interval
  // of 0 means no simulated readings.
  if (Timer->interval() > 0) Timer->start();
}

void TDemoCommunication::Disconnect() {
  if (Timer) Timer->stop();
}

bool TDemoCommunication::IsTicking() const {
  return Timer->isActive();
}

int TDemoCommunication::Interval() const {
  return Timer->interval();
}

void TDemoCommunication::TransformToSpike(std::optional<TDataValue>& aDataValue) {
  if (!aDataValue) return;
  aDataValue->SetValue(aDataValue->Value() + RandomUnit() * aDataValue->Value() * 0.5);
}

void TDemoCommunication::OnDemoTimer() {
  RunHandler(FDMSystem, ticking_, kUnit, "OnDemoTimer", [this] {
    const std::weak_ptr<void> alive = AliveToken();
    const std::int64_t phase = FLoggingCount * static_cast<std::int64_t>(Timer->interval());
    const double e = std::sin(static_cast<double>(phase) / 20000.0);
    DataSet::TDataSet reading;
    reading.RawData = kRawData;
    reading.Power = TDataValue(reading.Time, GetDemoPower() + 100 * e, false);
    reading.Speed = TDataValue(reading.Time, GetDemoSpeed() + e / 2, false);
    if (reading.Speed->Value() != 0) {
      reading.Torque = TDataValue(
          reading.Time, kTorqueFactor * reading.Power->Value() / reading.Speed->Value(), false);
    }
    for (std::optional<TDataValue>* value : {&reading.Power, &reading.Speed, &reading.Torque}) {
      if (RandomUnit() <= FSpikeChance) TransformToSpike(*value);
    }
    NotifyObservers(reading);
    if (alive.expired()) return;
    ++FLoggingCount;
  });
}

int TDemoCommunication::GetDemoInterval() {
  return FDMSystem.Settings.GetDemoComInterval(FIndex);
}

int TDemoCommunication::GetDemoPower() {
  return FDMSystem.Settings.GetDemoComPower(FIndex);
}

int TDemoCommunication::GetDemoSpeed() {
  return FDMSystem.Settings.GetDemoComSpeed(FIndex);
}

double TDemoCommunication::GetDemoSpikeChance() {
  return FDMSystem.Settings.GetDemoComSpikeChance(FIndex);
}

}  // namespace rvx
