#include "app/acquisition/Communication.h"

#include <QObject>
#include <QtGlobal>

#include <algorithm>
#include <exception>
#include <string>

namespace rvx {

namespace {

// One box for the whole program: set while a handler's error box is open.
bool gHandlerBoxOpen = false;

}  // namespace

void TCommunication::RegisterObserver(ICommunicationObserver* aObserver) {
  FObserverList.push_back(aObserver);
}

void TCommunication::RemoveObserver(ICommunicationObserver* aObserver) {
  const auto it = std::find(FObserverList.begin(), FObserverList.end(), aObserver);
  if (it != FObserverList.end()) FObserverList.erase(it);
}

void TCommunication::NotifyObservers(DataSet::TDataSet& aDataSet) {
  const std::weak_ptr<void> alive = AliveToken();
  const std::vector<ICommunicationObserver*> observers = FObserverList;
  for (ICommunicationObserver* observer : observers) {
    // An observer removed by an earlier one (and perhaps freed) is skipped.
    if (std::find(FObserverList.begin(), FObserverList.end(), observer) == FObserverList.end())
      continue;
    observer->OnDataReceived(aDataSet);
    if (alive.expired()) return;
  }
}

void ReportHandlerError(LinkServices& aServices, std::string_view aUnit, std::string_view aFunction,
                        std::string_view aMessage) {
  if (gHandlerBoxOpen) {
    try {
      aServices.Log.newError(aUnit, aFunction, aMessage, ErrorLog::kLog);
    } catch (...) {
      qWarning("RVX: an error could not be logged: %s", std::string(aMessage).c_str());
    }
    return;
  }
  gHandlerBoxOpen = true;
  struct BoxClosed {
    ~BoxClosed() { gHandlerBoxOpen = false; }
  } box_closed;
  try {
    aServices.Log.newError(aUnit, aFunction, aMessage, ErrorLog::kLogAndShow);
    return;
  } catch (...) {
    // The log failed before its box; the user still sees what went wrong.
  }
  try {
    aServices.Box.ShowError(std::string(aMessage.substr(0, ErrorLog::kTextLimit)));
  } catch (...) {
    qWarning("RVX: an error could not be shown: %s", std::string(aMessage).c_str());
  }
}

std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown exception";
  }
}

void DisposeQtObject(QObject* object, bool busy) {
  if (!object) return;
  if (busy)
    object->deleteLater();
  else
    delete object;
}

}  // namespace rvx
