// TShaft: the hub of one propeller shaft. It owns the shaft's meter link
// (serial or simulated, chosen by the stored link mode), receives every
// reading from it, decides whether the shaft has communication, flags
// readings with a checksum mismatch or without a usable torque, keeps the
// samples and moving averages of power, torque and speed, and passes all of
// it on to its observers: the live panels, the error manager and, during a
// run, the measurement manager.
//
// One reading (OnDataReceived), in this order:
//   1. the last-communication time := the reading's time;
//   2. UpdateCommunicationStatus, then UpdateHasCommunication once more on
//      every observer, unconditionally;
//   3. checksum mismatch: every value present is flagged, then
//      UpdateCheckSumError on every observer;
//   4. torque absent or exactly 0: every value present is flagged, then
//      UpdateTorqueError on every observer (after 3 when both apply);
//   5. the three values (absent ones as absent entries) go to the power,
//      torque and speed lists;
//   6. for every observer UpdateValues (the lists' last values), then
//      UpdateRunningAverageValues (their last averages).
// Within each notification the observers are called in registration order.
// Values passed to observers may be absent (nullptr) and are valid only
// during the call.
//
// Communication: on exactly when a reading came less than 5000 ms ago (whole
// milliseconds, installed clock); looked at with every reading and every
// tick of the 5000 ms status timer, which runs from creation to destruction.
// A change is told to every observer.
//
// Lifetime: shafts are shared (the main window's list, panels, measurement
// managers). Each observer entry holds a reference; observers that hold the
// shaft in turn break the cycle by removing themselves. A shaft made through
// std::make_shared keeps itself alive until a notification that drops its
// last other reference has finished.
//
// Errors: an observer's exception passes to the caller of OnDataReceived (the
// link, which reports it) and the remaining observers miss that
// notification; the status tick catches and reports its own
// (ReportHandlerError, "Shaft", "CommunicationStatus"). Connect never
// raises for a port that does not open (the link logs it); the settings
// store's errors pass through.
//
// Thread safety: GUI thread only; OnDataReceived can be re-entered while an
// observer runs the message loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/acquisition/Communication.h"
#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/ShaftData.h"

class QTimer;

namespace rvx {

class IShaftObserver {
 public:
  virtual ~IShaftObserver() = default;
  virtual void UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                            const TDataValue* aSpeed) = 0;
  virtual void UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                          const TDataValue* aSpeed) = 0;
  virtual void UpdateHasCommunication(bool aHasCommunication) = 0;
  virtual void UpdateCheckSumError(int aShaftIndex, const std::string& aRawData,
                                   const TDataValue* aPower, const TDataValue* aTorque,
                                   const TDataValue* aSpeed) = 0;
  virtual void UpdateTorqueError(int aShaftIndex, const std::string& aRawData,
                                 const TDataValue* aPower, const TDataValue* aTorque,
                                 const TDataValue* aSpeed) = 0;
};

class IShaftSubject {
 public:
  virtual ~IShaftSubject() = default;
  // Appends the observer; its entry holds a reference.
  virtual void RegisterObserver(std::shared_ptr<IShaftObserver> aObserver) = 0;
  // Removes the observer's first entry; nothing when it has none. A
  // notification under way does not call it any more.
  virtual void RemoveObserver(const IShaftObserver* aObserver) = 0;
  virtual void NotifyObserversOfValues() = 0;
  virtual void NotifyObserversOfCommunication() = 0;
  virtual void NotifyObserversOfCheckSumError(const std::string& aRawData, const TDataValue* aPower,
                                              const TDataValue* aTorque,
                                              const TDataValue* aSpeed) = 0;
  virtual void NotifyObserversOfTorqueError(const std::string& aRawData, const TDataValue* aPower,
                                            const TDataValue* aTorque,
                                            const TDataValue* aSpeed) = 0;
};

class IShaft : public IShaftSubject {
 public:
  // Creates the link the stored mode names, registers with it and opens it.
  // REQUIRES: disconnected (callers disconnect first).
  virtual void Connect() = 0;
  // Closes and frees the link; communication is left to the status timer.
  virtual void Disconnect() = 0;
  // The shaft's number stored with measurements: shaft index + 1.
  virtual int GetID() const = 0;
  virtual bool GetHasCommunication() const = 0;
  // The link mode read at the last Connect.
  virtual std::string GetComMode() const = 0;
  virtual int GetShaftIndex() const = 0;
};

class TShaft : public ICommunicationObserver,
               public IShaft,
               public std::enable_shared_from_this<TShaft> {
 public:
  // Status timer of the communication light, and how recent a reading must
  // be for the light to be on.
  static constexpr int kCommunicationStatusIntervalMs = 5000;
  static constexpr long long kCommunicationTimeOutMs = 5000;
  // The last-communication time of a shaft that never had a reading
  // (1 January 0100).
  static constexpr TDateTime kNeverCommunicated = -657434.0;

  // Shaft aShaftIndex (0: port or the only shaft, 1: starboard); the sample
  // lists take the current moving-average settings, fixed for the shaft's
  // life. Starts the status timer and connects. Both references must
  // outlive the shaft.
  TShaft(int aShaftIndex, LinkServices aDMSystem, DisplaySettings& aConfigurationManager);
  ~TShaft() override;
  TShaft(const TShaft&) = delete;
  TShaft& operator=(const TShaft&) = delete;

  void Connect() override;
  void Disconnect() override;
  int GetID() const override { return FShaftIndex + 1; }
  bool GetHasCommunication() const override { return FHasCommunication; }
  std::string GetComMode() const override { return FComMode; }
  int GetShaftIndex() const override { return FShaftIndex; }
  bool IsConnected() const { return FIsConnected; }

  void OnDataReceived(DataSet::TDataSet& aDataSet) override;

  void RegisterObserver(std::shared_ptr<IShaftObserver> aObserver) override;
  void RemoveObserver(const IShaftObserver* aObserver) override;
  void NotifyObserversOfValues() override;
  void NotifyObserversOfCommunication() override;
  void NotifyObserversOfCheckSumError(const std::string& aRawData, const TDataValue* aPower,
                                      const TDataValue* aTorque, const TDataValue* aSpeed) override;
  void NotifyObserversOfTorqueError(const std::string& aRawData, const TDataValue* aPower,
                                    const TDataValue* aTorque, const TDataValue* aSpeed) override;

  // Sets the communication state from the last reading's age; tells the
  // observers when it changed.
  void UpdateCommunicationStatus();
  // The status timer's tick; never raises.
  void OnCommunicationStatusTimer();

  const TShaftData& PowerData() const { return FPowerData; }
  const TShaftData& TorqueData() const { return FTorqueData; }
  const TShaftData& SpeedData() const { return FSpeedData; }
  TDateTime LastCommunicationTimeStamp() const { return FLastCommunicationTimeStamp; }
  // The link, while connected.
  TCommunication* Communication() const { return FCommunication.get(); }

 private:
  // The observers still registered, each called once in registration order;
  // a reference is held for the call.
  template <typename Call>
  void ForEachObserver(Call call);

  DisplaySettings& FConfigurationManager;
  std::vector<std::shared_ptr<IShaftObserver>> FObserverList;
  TDateTime FLastCommunicationTimeStamp = kNeverCommunicated;
  int FShaftIndex;
  bool FIsConnected = false;
  std::string FComMode;
  std::unique_ptr<TCommunication> FCommunication;
  bool FHasCommunication = false;
  TShaftData FPowerData;
  TShaftData FTorqueData;
  TShaftData FSpeedData;
  std::unique_ptr<QTimer> FCommunicationStatusTimer;
  LinkServices FDMSystem;
  int in_tick_ = 0;
};

}  // namespace rvx
