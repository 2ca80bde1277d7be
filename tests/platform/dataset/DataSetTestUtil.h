// Shared set-up of the dataset tests: a fake table of (ID autoinc, Name
// string(10), V integer) and an event recorder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/platform/dataset/FakeDataSet.h"

namespace platform::test {

inline void DefineDefault(FakeDataSet& ds) {
  ds.DefineField("ID", ftAutoInc);
  ds.DefineField("Name", ftString, 10);
  ds.DefineField("V", ftInteger);
}

// Opens a fake table holding rows with V = values[i], Name = "r<V>".
inline void Fill(FakeDataSet& ds, const std::vector<int>& values) {
  if (ds.columns.empty()) DefineDefault(ds);
  ds.Open();
  for (int v : values)
    ds.AppendRecord(
        {Variant(), Variant::FromString("r" + std::to_string(v)), Variant::FromInteger(v)});
  ds.First();
}

inline const char* EventName(TDataEvent e) {
  switch (e) {
    case TDataEvent::deFieldChange:
      return "deFieldChange";
    case TDataEvent::deRecordChange:
      return "deRecordChange";
    case TDataEvent::deDataSetChange:
      return "deDataSetChange";
    case TDataEvent::deDataSetScroll:
      return "deDataSetScroll";
    case TDataEvent::deUpdateRecord:
      return "deUpdateRecord";
    case TDataEvent::deUpdateState:
      return "deUpdateState";
    case TDataEvent::deCheckBrowseMode:
      return "deCheckBrowseMode";
    default:
      return "de?";
  }
}

// Records the dataset's notification events and data events by name.
inline void Record(FakeDataSet& ds, std::vector<std::string>& log) {
  auto on = [&log](const char* name) { return [&log, name](DataSet&) { log.push_back(name); }; };
  ds.BeforeOpen = on("BeforeOpen");
  ds.AfterOpen = on("AfterOpen");
  ds.BeforeClose = on("BeforeClose");
  ds.AfterClose = on("AfterClose");
  ds.BeforeInsert = on("BeforeInsert");
  ds.AfterInsert = on("AfterInsert");
  ds.BeforeEdit = on("BeforeEdit");
  ds.AfterEdit = on("AfterEdit");
  ds.BeforePost = on("BeforePost");
  ds.AfterPost = on("AfterPost");
  ds.BeforeCancel = on("BeforeCancel");
  ds.AfterCancel = on("AfterCancel");
  ds.BeforeDelete = on("BeforeDelete");
  ds.AfterDelete = on("AfterDelete");
  ds.BeforeScroll = on("BeforeScroll");
  ds.AfterScroll = on("AfterScroll");
  ds.BeforeRefresh = on("BeforeRefresh");
  ds.AfterRefresh = on("AfterRefresh");
  ds.OnNewRecord = on("OnNewRecord");
  ds.on_data_event = [&log](TDataEvent e, std::intptr_t) { log.push_back(EventName(e)); };
}

}  // namespace platform::test
