// TDemoCommunication: the simulated meter. A timer makes one reading per tick
// from a slow sine wave around the stored base power and speed, with random
// spikes; it serves demonstrations and tests of the whole chain.
//
// One tick (OnDemoTimer), with n the readings made so far and t the timer's
// interval in ms:
//   e = sin(n * t / 20000)                 (one period per ~126 s simulated)
//   power = base power + 100 e, speed = base speed + e / 2,
//   torque = 9.549297 * power / speed      (absent when speed is 0),
// then power, speed and torque in this order: r uniform in [0, 1) from the
// installed random source; when r <= spike chance, value += r' * value * 0.5
// with a fresh r' (an absent torque is left alone, though its r is drawn).
// RawData is "N/A - Demo mode"; no checksum error.
//
// The interval and spike chance are read when the link is created, base
// power and speed at every tick (each read creates the shaft's Demo row with
// its defaults when missing). An interval of 0 or below never starts the
// timer: the simulated meter then makes no readings. Nothing is logged.
//
// An exception from an observer is caught in the tick and reported through
// ReportHandlerError ("DemoCommunication", "OnDemoTimer").
//
// Thread safety: GUI thread only (see Communication.h).
#pragma once

#include <cstdint>
#include <memory>

#include "app/acquisition/Communication.h"
#include "app/acquisition/DataValue.h"

class QTimer;

namespace rvx {

class TDemoCommunication : public TCommunication {
 public:
  static constexpr const char* kRawData = "N/A - Demo mode";

  // The simulated meter of shaft Index; the timer does not run until
  // Connect.
  TDemoCommunication(LinkServices aDMSystem, int Index);
  ~TDemoCommunication() override;

  // Starts the ticks (not for an interval of 0 or below).
  void Connect() override;
  void Disconnect() override;

  // One tick: one reading to the observers.
  void OnDemoTimer();
  // value += r * value * 0.5, r a new random number in [0, 1); nothing for
  // an absent value.
  static void TransformToSpike(std::optional<TDataValue>& aDataValue);

  int GetDemoInterval();
  int GetDemoPower();
  int GetDemoSpeed();
  double GetDemoSpikeChance();

  // The timer runs.
  bool IsTicking() const;
  int Interval() const;
  std::int64_t LoggingCount() const { return FLoggingCount; }

 private:
  std::unique_ptr<QTimer> Timer;
  std::int64_t FLoggingCount = 0;
  int FIndex;
  LinkServices FDMSystem;
  double FSpikeChance;
  int ticking_ = 0;
};

// A uniform random number in [0, 1) from the installed random source.
double RandomUnit();

}  // namespace rvx
