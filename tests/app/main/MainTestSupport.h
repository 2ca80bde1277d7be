// Helpers of the main window tests: a modal-dialog answerer that polls the
// active modal widget, a message box that can run work while a question is
// open, and a fixture with a log file, the fake clock and the seams.
#pragma once

#include <QApplication>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "app/main/MainWindow.h"
#include "app/storage/DMSystem.h"
#include "platform/core/Clock.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx::test {

// Answers modal dialogs in order: each step gets the active modal widget and
// returns true once it has dealt with it.
class ModalAnswerer {
 public:
  using Step = std::function<bool(QWidget& modal)>;
  ModalAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || steps_.empty() || modal == last_) return;
      if (steps_.front()(*modal)) {
        last_ = modal;
        steps_.pop_front();
        ++answered_;
      }
    });
    timer_.start(5);
  }
  void Then(Step step) { steps_.push_back(std::move(step)); }
  // One dialog of type T, handled by action.
  template <class T>
  void On(std::function<void(T&)> action) {
    Then([action](QWidget& modal) {
      auto* dialog = qobject_cast<T*>(&modal);
      if (dialog == nullptr) return false;
      action(*dialog);
      return true;
    });
  }
  int Answered() const { return answered_; }
  bool Done() const { return steps_.empty(); }

 private:
  QTimer timer_;
  std::deque<Step> steps_;
  QWidget* last_ = nullptr;
  int answered_ = 0;
};

// The scripted box, with work run while a question is open (as timers and
// readings run while a real box waits for the user).
class HookedMessageBox : public ScriptedMessageBox {
 public:
  bool Confirm(const std::string& text) override {
    if (on_confirm) {
      auto hook = std::move(on_confirm);
      on_confirm = nullptr;
      hook();
    }
    return ScriptedMessageBox::Confirm(text);
  }
  std::function<void()> on_confirm;
};

class MainWindowFixture {
 public:
  MainWindowFixture() : scoped_clock_(clock_), printer_(docs_.Path() + "/printed.pdf") {
    EnsureQtApplication();
    clock_.SetNow(42700.5);
  }

  // A vessel of shafts shafts whose links are simulated meters, and one
  // trial.
  void AddVesselAndTrial(int shafts, const std::string& vessel = "Vessel",
                         const std::string& trial = "Trial") {
    TDM_System log(TFrm_Main::kDatabaseName, box_);
    TVessel v;
    v.name = vessel;
    v.MCRPower = 1000;
    v.MCRSpeed = 100;
    v.MCRTorque = 95;
    v.Shafts = shafts;
    v.Units = "SI";
    log.addVessel(v);
    const int id = log.getVessels()->Item(log.getVessels()->Count() - 1).ID;
    log.addTrial(TTrial{0, trial, id});
    for (int i = 0; i < shafts; ++i) {
      log.EnsureComIndexExists(i, "Demo");
      log.setComMode(i, "Demo");
      log.SetDemoComSettings(i, 50, 500, 60, 0.0);
    }
  }

  std::unique_ptr<TFrm_Main> NewWindow(int screen_height = 1200) {
    return std::make_unique<TFrm_Main>(
        nullptr, TMainSeams{box_, shell_, printer_, 1, screen_height, docs_.Path()});
  }

  ScopedDocumentsFolder docs_;
  platform::FakeClock clock_;
  platform::ScopedClock scoped_clock_;
  HookedMessageBox box_;
  RecordingShell shell_;
  RecordingPrinter printer_;
};

}  // namespace rvx::test
