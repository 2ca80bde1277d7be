// The program's application object: every event it delivers (clicks,
// timers, serial port readings, all the slots they reach) runs inside a
// last-resort guard, so that nothing a handler raises crosses the event
// loop. What is caught is shown in the error box and the program goes on,
// as the commands' own guards do.
//
// Thread safety: GUI thread only.
#pragma once

#include <functional>

#include <QApplication>

namespace rvx {

class MessageBox;

// Runs deliver; what it raises is shown in box (written to the standard
// error stream when box is null) and counts as handled (true).
bool DeliverGuarded(MessageBox* box, const std::function<bool()>& deliver) noexcept;

class TGuardedApplication : public QApplication {
 public:
  TGuardedApplication(int& argc, char** argv);
  // Where caught errors are shown from now on; null: the error stream.
  void SetMessageBox(MessageBox* box) { box_ = box; }
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  MessageBox* box_ = nullptr;
};

}  // namespace rvx
