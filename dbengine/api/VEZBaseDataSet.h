// TVEZBaseDataSet: what a database component and a session need of a dataset
// that uses a database: to close it when the database closes, to tell a query
// from a table (queries close first), and its session name. The dataset
// component implements it beside the platform's dataset; the components of
// this layer hold datasets only through it.
//
// Thread safety: a dataset is used by one thread at a time.
#pragma once

#include <string>

namespace vez {

class TVEZBaseDataSet {
 public:
  TVEZBaseDataSet() = default;
  virtual ~TVEZBaseDataSet() = default;
  TVEZBaseDataSet(const TVEZBaseDataSet&) = delete;
  TVEZBaseDataSet& operator=(const TVEZBaseDataSet&) = delete;

  // Closes the dataset (a query also unprepares) and lets go of its
  // database: afterwards the database no longer lists it (it calls
  // TVEZDatabase::RemoveDataSet on the way). Errors pass on.
  virtual void Disconnect() = 0;
  // True for a query component.
  virtual bool IsQuery() const = 0;
  // The name of the session whose database the dataset uses ("" for the
  // default session).
  virtual std::string GetSessionName() const = 0;
  // Sets it; the dataset must be closed (the setter raises otherwise).
  virtual void SetSessionName(const std::string& session_name) = 0;
};

}  // namespace vez
