// The record classes of the log: vessels, trials, runs, measurements and a
// shaft's link mode, as the log database adapter reads and writes them, and
// the two cursor lists the vessel and trial dialogs walk.
//
// Texts are Windows-1252, as stored. Dates are platform date-times.
//
// Thread safety: plain objects used from one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/DateTime.h"

namespace rvx {

struct TVessel {
  int ID = 0;
  std::string name;
  int MCRPower = 0;   // kW per shaft
  int MCRSpeed = 0;   // rpm
  int MCRTorque = 0;  // kNm
  int Shafts = 0;
  std::string Units;  // "SI" or "Metric"
};

struct TTrial {
  int ID = 0;
  std::string name;
  int VesselID = 0;
};

struct TRun {
  int ID = 0;
  std::string name;
  std::string Comments;
  int TrialID = 0;
  // The planned duration; kept in memory only.
  bool IsAutoStop = false;
  platform::TDateTime StopAfter = 0;
  platform::TDateTime StartTime = 0;
  platform::TDateTime StopTime = 0;
};

// One shaft's recording of one run. ID is 0 until the row is stored.
struct TMeassurement {
  TMeassurement(int aRunId, int aShaftId) : RunId(aRunId), ShaftId(aShaftId) {}
  TMeassurement(int aRunId, int aShaftId, int aID) : ID(aID), RunId(aRunId), ShaftId(aShaftId) {}

  int ID = 0;
  int RunId;
  int ShaftId;  // shaft index + 1
  double AvgPower = 0;
  double AvgSpeed = 0;
  double AvgTorque = 0;
};

struct TComPort {
  TComPort(int newIndex, std::string newMode) : Mode(std::move(newMode)), Index(newIndex) {}
  std::unique_ptr<TComPort> clone() const { return std::make_unique<TComPort>(Index, Mode); }

  std::string Mode;
  int Index;
};

// A list with a cursor: add makes the new item current; first and next move
// it; EOF once the position passes the last item. The getters read the
// current item. REQUIRES for the getters: a current item.
template <typename T>
class TRecordCursorList {
 public:
  std::size_t Count() const { return items_.size(); }
  void first() {
    if (items_.empty()) return;
    position_ = 0;
    current_ = items_.front().get();
  }
  void next() {
    ++position_;
    if (position_ < items_.size()) current_ = items_[position_].get();
  }
  // The list's EOF (the C library owns that name as a macro).
  bool eof() const { return position_ >= items_.size(); }
  const T* Current() const { return current_; }
  const T& Item(std::size_t i) const { return *items_.at(i); }

 protected:
  T& Append() {
    items_.push_back(std::make_unique<T>());
    position_ = items_.size() - 1;
    current_ = items_.back().get();
    return *current_;
  }
  const T& Cur() const { return *current_; }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::size_t position_ = 0;
  T* current_ = nullptr;
};

class TVessels : public TRecordCursorList<TVessel> {
 public:
  void add(int ID, const std::string& Name, int MCRPower, int MCRRPM, int Shafts,
           const std::string& Units) {
    TVessel& v = Append();
    v.ID = ID;
    v.name = Name;
    v.MCRPower = MCRPower;
    v.MCRSpeed = MCRRPM;
    v.Shafts = Shafts;
    v.Units = Units;
  }
  int getID() const { return Cur().ID; }
  std::string getName() const { return Cur().name; }
  int getMCRPower() const { return Cur().MCRPower; }
  int getMCRSpeed() const { return Cur().MCRSpeed; }
  int getShafts() const { return Cur().Shafts; }
};

class TTrials : public TRecordCursorList<TTrial> {
 public:
  void add(int ID, const std::string& name, int VesselID) {
    TTrial& t = Append();
    t.ID = ID;
    t.name = name;
    t.VesselID = VesselID;
  }
  int getID() const { return Cur().ID; }
  std::string getName() const { return Cur().name; }
  int getVesselID() const { return Cur().VesselID; }
};

}  // namespace rvx
