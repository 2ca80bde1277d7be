#include "app/acquisition/Shaft.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

#include "app/acquisition/AutoCommunication.h"
#include "app/acquisition/DemoCommunication.h"
#include "platform/core/Clock.h"

namespace rvx {

namespace {

// A date-time on the millisecond grid the program stamps readings with.
long long WholeMilliseconds(TDateTime t) {
  return std::llround(t * platform::MSecsPerDay);
}

void FlagPresent(DataSet::TDataSet& aDataSet) {
  for (std::optional<TDataValue>* value : {&aDataSet.Power, &aDataSet.Torque, &aDataSet.Speed})
    if (*value) (*value)->SetIsError(true);
}

const TDataValue* Present(const std::optional<TDataValue>& value) {
  return value ? &*value : nullptr;
}

}  // namespace

TShaft::TShaft(int aShaftIndex, LinkServices aDMSystem, DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager),
      FShaftIndex(aShaftIndex),
      FPowerData(aConfigurationManager.DataWindowSize(),
                 aConfigurationManager.MinimumDataSamplesInWindow()),
      FTorqueData(aConfigurationManager.DataWindowSize(),
                  aConfigurationManager.MinimumDataSamplesInWindow()),
      FSpeedData(aConfigurationManager.DataWindowSize(),
                 aConfigurationManager.MinimumDataSamplesInWindow()),
      FCommunicationStatusTimer(std::make_unique<QTimer>()),
      FDMSystem(aDMSystem) {
  FCommunicationStatusTimer->setInterval(kCommunicationStatusIntervalMs);
  QObject::connect(FCommunicationStatusTimer.get(), &QTimer::timeout,
                   FCommunicationStatusTimer.get(), [this] { OnCommunicationStatusTimer(); });
  FCommunicationStatusTimer->start();
  Connect();
}

TShaft::~TShaft() {
  Disconnect();
  FCommunicationStatusTimer->stop();
  // Released for the last time at the end of one of its own ticks.
  DisposeQtObject(FCommunicationStatusTimer.release(), in_tick_ > 0);
}

void TShaft::Connect() {
  const std::vector<std::string>& modes = FConfigurationManager.ComModes();
  FDMSystem.Settings.EnsureComIndexExists(FShaftIndex, modes.empty() ? kComModeAuto : modes[0]);
  FComMode = FDMSystem.Settings.getComMode(FShaftIndex);
  // Only "Demo" exactly selects the simulated meter.
  if (FComMode == kComModeDemo)
    FCommunication = std::make_unique<TDemoCommunication>(FDMSystem, FShaftIndex);
  else
    FCommunication = std::make_unique<TAutoCommunication>(FDMSystem, FShaftIndex);
  FCommunication->RegisterObserver(this);
  FCommunication->Connect();
  FIsConnected = true;
}

void TShaft::Disconnect() {
  if (!FIsConnected) return;
  FCommunication->RemoveObserver(this);
  FCommunication.reset();
  FIsConnected = false;
}

void TShaft::OnDataReceived(DataSet::TDataSet& aDataSet) {
  const std::shared_ptr<TShaft> keep_alive = weak_from_this().lock();
  FLastCommunicationTimeStamp = aDataSet.Time;
  UpdateCommunicationStatus();
  NotifyObserversOfCommunication();
  if (aDataSet.HasCheckSumError) {
    FlagPresent(aDataSet);
    NotifyObserversOfCheckSumError(aDataSet.RawData, Present(aDataSet.Power),
                                   Present(aDataSet.Torque), Present(aDataSet.Speed));
  }
  if (!aDataSet.Torque || aDataSet.Torque->Value() == 0) {
    FlagPresent(aDataSet);
    NotifyObserversOfTorqueError(aDataSet.RawData, Present(aDataSet.Power),
                                 Present(aDataSet.Torque), Present(aDataSet.Speed));
  }
  FPowerData.Add(aDataSet.Power);
  FTorqueData.Add(aDataSet.Torque);
  FSpeedData.Add(aDataSet.Speed);
  NotifyObserversOfValues();
}

void TShaft::RegisterObserver(std::shared_ptr<IShaftObserver> aObserver) {
  FObserverList.push_back(std::move(aObserver));
}

void TShaft::RemoveObserver(const IShaftObserver* aObserver) {
  const auto it = std::find_if(FObserverList.begin(), FObserverList.end(),
                               [&](const auto& entry) { return entry.get() == aObserver; });
  if (it != FObserverList.end()) FObserverList.erase(it);
}

template <typename Call>
void TShaft::ForEachObserver(Call call) {
  const std::vector<std::shared_ptr<IShaftObserver>> observers = FObserverList;
  for (const std::shared_ptr<IShaftObserver>& observer : observers) {
    const bool registered = std::any_of(FObserverList.begin(), FObserverList.end(),
                                        [&](const auto& entry) { return entry == observer; });
    if (registered) call(*observer);
  }
}

void TShaft::NotifyObserversOfValues() {
  ForEachObserver([this](IShaftObserver& observer) {
    observer.UpdateValues(FPowerData.LastValue(), FTorqueData.LastValue(), FSpeedData.LastValue());
    observer.UpdateRunningAverageValues(FPowerData.LastRunningAverageValue(),
                                        FTorqueData.LastRunningAverageValue(),
                                        FSpeedData.LastRunningAverageValue());
  });
}

void TShaft::NotifyObserversOfCommunication() {
  ForEachObserver(
      [this](IShaftObserver& observer) { observer.UpdateHasCommunication(FHasCommunication); });
}

void TShaft::NotifyObserversOfCheckSumError(const std::string& aRawData, const TDataValue* aPower,
                                            const TDataValue* aTorque, const TDataValue* aSpeed) {
  ForEachObserver([&](IShaftObserver& observer) {
    observer.UpdateCheckSumError(FShaftIndex, aRawData, aPower, aTorque, aSpeed);
  });
}

void TShaft::NotifyObserversOfTorqueError(const std::string& aRawData, const TDataValue* aPower,
                                          const TDataValue* aTorque, const TDataValue* aSpeed) {
  ForEachObserver([&](IShaftObserver& observer) {
    observer.UpdateTorqueError(FShaftIndex, aRawData, aPower, aTorque, aSpeed);
  });
}

void TShaft::UpdateCommunicationStatus() {
  const bool has_communication =
      FLastCommunicationTimeStamp != kNeverCommunicated &&
      std::llabs(WholeMilliseconds(platform::Now()) -
                 WholeMilliseconds(FLastCommunicationTimeStamp)) < kCommunicationTimeOutMs;
  if (has_communication == FHasCommunication) return;
  FHasCommunication = has_communication;
  NotifyObserversOfCommunication();
}

void TShaft::OnCommunicationStatusTimer() {
  const std::shared_ptr<TShaft> keep_alive = weak_from_this().lock();
  ++in_tick_;
  try {
    UpdateCommunicationStatus();
  } catch (...) {
    ReportHandlerError(FDMSystem, "Shaft", "CommunicationStatus", CurrentExceptionMessage());
  }
  // Holding the last reference, the shaft is freed when this returns, still
  // inside its timer's signal: the tick stays counted for the destructor.
  if (keep_alive && keep_alive.use_count() == 1) return;
  --in_tick_;
}

}  // namespace rvx
