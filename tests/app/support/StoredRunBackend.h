// Test helper: the run data a report test builds in memory, handed to the
// report either as it is or after a round trip through the log database
// (runs, measurements and one Data row per reading on a real file, read
// back with GetDataSet), so report scenarios run on both.
//
// A read-back routine may replace how the stored run is read (the run
// control's data sets, for example).
//
// The log database variant opens the log under the current documents
// folder (RVX_DOCUMENTS): create the helper after the test's folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/acquisition/RunData.h"
#include "app/storage/DMSystem.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx::test {

class StoredRunBackend {
 public:
  // Reads a stored run (its Runs row as stored) back with the moving-average
  // settings of the original.
  using ReadBack = std::function<std::unique_ptr<RunData>(TDM_System& log, const TRun& row,
                                                          int window, int minimum)>;

  explicit StoredRunBackend(SeamBackend backend, ReadBack readBack = {})
      : backend_(backend), read_back_(std::move(readBack)) {}
  ~StoredRunBackend();

  // run itself in memory; else a stored copy of it read back from the log
  // (owned by the helper). Each call stores the run anew.
  RunData& Through(RunData& run);
  // Each run of the list through Through, in the same order.
  std::vector<RunData*> Through(const std::vector<RunData*>& runs);
  // With the log database: a stored copy of run as a run of that trial.
  RunData& StoreInTrial(RunData& run, int trialId);
  // The log database (opened on first use).
  TDM_System& Log();

 private:
  SeamBackend backend_;
  ReadBack read_back_;
  ScriptedMessageBox box_;
  std::unique_ptr<TDM_System> log_;
  std::vector<std::unique_ptr<RunData>> stored_;
  int next_trial_ = 1;
};

}  // namespace rvx::test
