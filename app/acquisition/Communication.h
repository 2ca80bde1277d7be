// Communication: a shaft's meter link, the serial meter (TAutoCommunication)
// or the simulated one (TDemoCommunication), and the interfaces between a
// link and its observer, the shaft.
//
// A link turns what its meter sends into readings (DataSet::TDataSet) and
// passes each one to its observers in registration order. The shaft that
// creates a link owns it, registers itself as its one observer, connects
// and disconnects it and frees it.
//
// Handlers: every reading starts in a Qt handler of the link (serial bytes,
// the simulated meter's timer). An exception from an observer (an engine
// error while a sample is stored) must not reach the Qt event loop: the
// handler catches it and reports it through ReportHandlerError. The other
// observers miss that reading.
//
// Thread safety: GUI thread only. A handler may be re-entered while an
// observer runs the message loop (a message box), so observers see readings
// nested inside other readings.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/acquisition/DataSet.h"
#include "app/acquisition/ErrorLog.h"
#include "app/acquisition/LinkSettingsStore.h"
#include "app/util/MessageBox.h"

class QObject;

namespace rvx {

// What links, shafts and the error manager use of the rest of the program:
// the link settings and the error log (the log database) and the error box.
// Everything referred to must outlive its users.
struct LinkServices {
  LinkSettingsStore& Settings;
  ErrorLog& Log;
  MessageBox& Box;
};

class ICommunicationObserver {
 public:
  virtual ~ICommunicationObserver() = default;
  // One decoded reading. The observer may flag its values; the reading is
  // the sender's and gone after the call.
  virtual void OnDataReceived(DataSet::TDataSet& aDataSet) = 0;
};

class ICommunicationSubject {
 public:
  virtual ~ICommunicationSubject() = default;
  // REQUIRES: the observer outlives its registration.
  virtual void RegisterObserver(ICommunicationObserver* aObserver) = 0;
  // Removes the observer's first entry; nothing when it has none.
  virtual void RemoveObserver(ICommunicationObserver* aObserver) = 0;
  // OnDataReceived on every observer in registration order. An observer
  // registered or removed meanwhile takes effect from the next reading.
  virtual void NotifyObservers(DataSet::TDataSet& aDataSet) = 0;
};

class TCommunication : public ICommunicationSubject {
 public:
  TCommunication() = default;
  TCommunication(const TCommunication&) = delete;
  TCommunication& operator=(const TCommunication&) = delete;
  ~TCommunication() override = default;

  // Opens the link with its stored settings; a failure is logged and leaves
  // the link closed (the serial link), never raised.
  virtual void Connect() = 0;
  // Closes the link; readings stop. Nothing when it is closed.
  virtual void Disconnect() = 0;

  void RegisterObserver(ICommunicationObserver* aObserver) override;
  void RemoveObserver(ICommunicationObserver* aObserver) override;
  void NotifyObservers(DataSet::TDataSet& aDataSet) override;

 protected:
  // Lives as long as the link: a handler that may see the link freed by an
  // observer (a shaft reconnecting from a nested message loop) holds a
  // weak copy and touches nothing of the link once it has expired.
  std::weak_ptr<void> AliveToken() const { return alive_; }

  // Runs the work of a Qt handler with aDepth (the handler's nesting count)
  // raised by one. An exception is caught, aDepth lowered and the exception
  // reported through ReportHandlerError, so nothing reaches the event loop.
  // aDepth is not touched once the link has been freed by the work.
  template <typename Work>
  void RunHandler(LinkServices aServices, int& aDepth, std::string_view aUnit,
                  std::string_view aFunction, Work&& aWork);

 private:
  std::vector<ICommunicationObserver*> FObserverList;
  std::shared_ptr<void> alive_ = std::make_shared<char>(0);
};

// Reports an exception that a Qt handler (a link's handler, a shaft's timer)
// caught: newError (unit, function, message, 20), one ErrorLog row and the
// error box. When the log fails, the box is still shown with the message.
// While such a box is open (it runs the message loop), further failures of
// any handler are logged only (level 10), so boxes do not pile up; a log
// failure then is lost. Never raises.
void ReportHandlerError(LinkServices& aServices, std::string_view aUnit, std::string_view aFunction,
                        std::string_view aMessage);

// The message of the exception being handled (call inside a catch block):
// what() of a std::exception, "Unknown exception" for anything else.
std::string CurrentExceptionMessage();

template <typename Work>
void TCommunication::RunHandler(LinkServices aServices, int& aDepth, std::string_view aUnit,
                                std::string_view aFunction, Work&& aWork) {
  const std::weak_ptr<void> alive = AliveToken();
  ++aDepth;
  try {
    aWork();
  } catch (...) {
    const std::string message = CurrentExceptionMessage();
    if (!alive.expired()) --aDepth;
    ReportHandlerError(aServices, aUnit, aFunction, message);
    return;
  }
  if (!alive.expired()) --aDepth;
}

// Frees a Qt object that may be inside one of its own handlers (busy): then
// later, from the event loop; else at once.
void DisposeQtObject(QObject* object, bool busy);

}  // namespace rvx
