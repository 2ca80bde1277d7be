// The link setup dialog on the offscreen platform, with real shafts whose
// settings live in a log database file; the nested setup dialogs are
// answered by polling for the active modal window.
#include "app/ui/SetupComPorts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/acquisition/AutoCommunication.h"
#include "app/acquisition/DemoCommunication.h"
#include "app/acquisition/LinkSettingsStore.h"
#include "app/acquisition/Shaft.h"
#include "app/ui/AutoComSetup.h"
#include "app/ui/DemoComSetup.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/RecordingShaftObserver.h"

namespace rvx {
namespace {

// Answers modal windows in turn: each step is offered the active modal
// window until it accepts it (returns true). Clicks are queued so the poll
// keeps running inside the nested modal loops they open.
class ModalSteps {
 public:
  using Step = std::function<bool(QWidget*)>;
  explicit ModalSteps(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (next_ >= steps_.size()) return;
      if (steps_[next_](QApplication::activeModalWidget())) ++next_;
    });
    timer_.start(1);
  }
  bool AllDone() const { return next_ == steps_.size(); }

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  QTimer timer_;
};

void QueueClick(QPushButton* button) {
  QTimer::singleShot(0, button, [button] { button->click(); });
}

// A step for the active modal window of type T, once the window an earlier
// step answered is gone (its opener has then finished with its result).
template <typename T>
ModalSteps::Step When(std::function<void(T&)> act, const QPointer<QWidget>* after = nullptr) {
  return [act = std::move(act), after](QWidget* w) {
    auto* dialog = qobject_cast<T*>(w);
    if (!dialog || (after && !after->isNull())) return false;
    act(*dialog);
    return true;
  };
}

int DarkPixels(QWidget& window, const QRect& area) {
  const QImage picture = window.grab(area).toImage();
  int dark = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      dark += qGray(picture.pixel(x, y)) < 80;
  return dark;
}

// The real store, except that storing the mode of one shaft index fails.
class ModeFailsStore : public LinkSettingsStore {
 public:
  ModeFailsStore(LinkSettingsStore& real, int failing) : real_(real), failing_(failing) {}
  void EnsureComIndexExists(int i, const std::string& m) override {
    real_.EnsureComIndexExists(i, m);
  }
  std::string getComMode(int i) override { return real_.getComMode(i); }
  void setComMode(int i, const std::string& m) override {
    if (i == failing_) throw std::runtime_error("disk full");
    real_.setComMode(i, m);
  }
  int GetAutoComPort(int i) override { return real_.GetAutoComPort(i); }
  int GetAutoComBaud(int i) override { return real_.GetAutoComBaud(i); }
  void SetAutoComSettings(int i, int b, int p) override { real_.SetAutoComSettings(i, b, p); }
  int GetDemoComInterval(int i) override { return real_.GetDemoComInterval(i); }
  int GetDemoComPower(int i) override { return real_.GetDemoComPower(i); }
  int GetDemoComSpeed(int i) override { return real_.GetDemoComSpeed(i); }
  double GetDemoComSpikeChance(int i) override { return real_.GetDemoComSpikeChance(i); }
  void SetDemoComSettings(int i, int a, int p, int s, double c) override {
    real_.SetDemoComSettings(i, a, p, s, c);
  }

 private:
  LinkSettingsStore& real_;
  int failing_;
};

class SetupComPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureQtApplication();
    // Serial links point at ports that do not open: the shafts connect
    // without communication.
    bench_.SetPortDevice(1, bench_.dirs.File("absent-meter1"));
    bench_.SetPortDevice(2, bench_.dirs.File("absent-meter2"));
  }

  // Each connect of a serial link to an absent port logs one row.
  std::size_t ConnectRows() const {
    std::size_t n = 0;
    for (const auto& row : bench_.errors.Rows())
      n += row.FunctionName == "Connect";
    return n;
  }

  std::vector<std::shared_ptr<IShaft>> Shafts(int count) {
    settings_.number_of_shafts = count;
    for (int i = 0; i < count; ++i)
      shafts_.push_back(std::make_shared<TShaft>(i, bench_.services, settings_));
    return {shafts_.begin(), shafts_.end()};
  }

  test::LinkTestBench bench_{test::SeamBackend::kLogDatabase};
  test::InMemoryDisplaySettings settings_;
  std::vector<std::shared_ptr<TShaft>> shafts_;
};

TEST_F(SetupComPortsTest, SizesHeadersAndFramesFollowTheShafts) {
  struct Case {
    int shafts;
    int width;
    std::vector<QString> headers;
  };
  const Case cases[] = {
      {1, 309, {"Com Port Setup"}},
      {2, 598, {"Com Port Setup (Port)", "Com Port Setup (Starboard)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.shafts) + " shaft(s)");
    shafts_.clear();
    TFrm_SetupComPorts dialog(nullptr, settings_, bench_.settings, Shafts(c.shafts));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("RVX - Comport Setup"));
    EXPECT_EQ(dialog.size(), QSize(c.width, 235));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a fixed border";
    EXPECT_EQ(dialog.Btn_OK->toolTip(), QStringLiteral("Close and save changes"));
    EXPECT_EQ(dialog.Btn_Cancel->toolTip(), QStringLiteral("Cancel"));
    dialog.show();
    for (int i = 0; i < 2; ++i) {
      TFrame_ComPort* frame = dialog.Frame_ComSetup[static_cast<std::size_t>(i)];
      if (i >= c.shafts) {
        EXPECT_EQ(frame, nullptr);
        continue;
      }
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(frame->objectName(), QStringLiteral("ComPortFrame") + QString::number(i));
      EXPECT_EQ(frame->geometry(), QRect(i * 289 + 10, 10, 286, 105));
      EXPECT_EQ(frame->Lbl_Header->text(), c.headers[static_cast<std::size_t>(i)]);
      EXPECT_EQ(frame->Lbl_Mode->text(), QStringLiteral("Mode:"));
      EXPECT_EQ(frame->Btn_Setup->text(), QStringLiteral("Setup"));
      EXPECT_EQ(frame->Btn_Setup->toolTip(), QStringLiteral("Setup the ComPort"));
      EXPECT_EQ(frame->Btn_Setup->height(), 36);
      EXPECT_EQ(GlowButtonLayoutOf(frame->Btn_Setup), TButtonLayout::blGlyphLeft);
      ASSERT_EQ(frame->CB_Mode->count(), 2);
      EXPECT_EQ(frame->CB_Mode->itemText(0), QStringLiteral("RVS Auto-send"));
      EXPECT_EQ(frame->CB_Mode->itemText(1), QStringLiteral("Demo"));
      EXPECT_EQ(frame->CB_Mode->currentText(), QStringLiteral("RVS Auto-send"));
      // The header and the mode label are drawn where they sit.
      const QRect header = frame->Lbl_Header->geometry().translated(frame->pos());
      EXPECT_GT(DarkPixels(dialog, header), 20);
      const QRect mode = frame->Lbl_Mode->geometry().translated(frame->pos());
      EXPECT_GT(DarkPixels(dialog, mode), 10);
    }
  }
}

TEST_F(SetupComPortsTest, CancelAfterAModeChangeLeavesTheModeAndTheLinks) {
  auto shafts = Shafts(2);
  const std::size_t connects = ConnectRows();
  ASSERT_EQ(connects, 2u);
  TFrm_SetupComPorts dialog(nullptr, settings_, bench_.settings, shafts);
  ModalSteps steps({When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) {
    d.Frame_ComSetup[0]->CB_Mode->setCurrentIndex(1);
    d.Frame_ComSetup[1]->CB_Mode->setCurrentIndex(1);
    QueueClick(d.Btn_Cancel);
  })});
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_TRUE(steps.AllDone());
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bench_.settings.getComMode(i), "RVS Auto-send");
    EXPECT_TRUE(shafts_[static_cast<std::size_t>(i)]->IsConnected());
  }
  EXPECT_EQ(ConnectRows(), connects) << "no link was opened again";
}

TEST_F(SetupComPortsTest, SwitchingToDemoAndOkReconnectsAndSimulatedReadingsArrive) {
  auto shafts = Shafts(2);
  // A fast simulated meter for the starboard shaft.
  bench_.settings.GetDemoComInterval(1);
  bench_.settings.SetDemoComSettings(1, 10, 5000, 90, 0);
  auto observer = std::make_shared<test::RecordingShaftObserver>();
  shafts_[1]->RegisterObserver(observer);
  TFrm_SetupComPorts dialog(nullptr, settings_, bench_.settings, shafts);
  ModalSteps steps({When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) {
    d.Frame_ComSetup[1]->CB_Mode->setCurrentIndex(1);
    QueueClick(d.Btn_OK);
  })});
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(steps.AllDone());
  EXPECT_EQ(bench_.settings.getComMode(0), "RVS Auto-send");
  EXPECT_EQ(bench_.settings.getComMode(1), "Demo");
  EXPECT_NE(dynamic_cast<TAutoCommunication*>(shafts_[0]->Communication()), nullptr);
  auto* demo = dynamic_cast<TDemoCommunication*>(shafts_[1]->Communication());
  ASSERT_NE(demo, nullptr);
  EXPECT_EQ(shafts_[1]->GetComMode(), "Demo");
  ASSERT_TRUE(test::WaitUntil([&] { return observer->values.size() >= 3; }));
  EXPECT_TRUE(shafts_[1]->GetHasCommunication());
  ASSERT_TRUE(observer->values[0].power.has_value());
  EXPECT_NEAR(observer->values[0].power->value, 5000, 5000 * 0.2);
  shafts_[1]->RemoveObserver(observer.get());
}

TEST_F(SetupComPortsTest, SetupOpensTheDialogOfTheChosenModeAndStoresAtOnce) {
  bench_.settings.EnsureComIndexExists(0, kComModeDemo);
  auto shafts = Shafts(1);
  ASSERT_EQ(shafts_[0]->GetComMode(), "Demo");
  bench_.settings.SetDemoComSettings(0, 0, 8000, 100, 0);
  shafts_[0]->Disconnect();
  shafts_[0]->Connect();
  TDemoCommunication* const link = dynamic_cast<TDemoCommunication*>(shafts_[0]->Communication());
  ASSERT_NE(link, nullptr);
  settings_.power_unit = "SHp";
  TFrm_SetupComPorts dialog(nullptr, settings_, bench_.settings, shafts);
  bool demoShown = false;
  bool serialShown = false;
  QPointer<QWidget> demo;
  QPointer<QWidget> serial;
  ModalSteps steps({
      When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) {
        EXPECT_EQ(d.Frame_ComSetup[0]->CB_Mode->currentText(), QStringLiteral("Demo"));
        QueueClick(d.Frame_ComSetup[0]->Btn_Setup);
      }),
      When<TFrm_DemoComSetup>([&](TFrm_DemoComSetup& d) {
        demoShown = true;
        demo = &d;
        EXPECT_EQ(d.Edit_Power->text(), QStringLiteral("8000"));
        EXPECT_EQ(d.Lbl_PowerUnit->text(), QStringLiteral("SHp"));
        d.Edit_Timer->setText("250");
        d.Edit_Power->setText("6000");
        QueueClick(d.Btn_OK);
      }),
      When<TFrm_SetupComPorts>(
          [&](TFrm_SetupComPorts& d) {
            // Stored while the link setup dialog is still open.
            EXPECT_EQ(bench_.settings.GetDemoComInterval(0), 250);
            EXPECT_EQ(bench_.settings.GetDemoComPower(0), 6000);
            // The serial dialog for a mode chosen but not saved.
            d.Frame_ComSetup[0]->CB_Mode->setCurrentIndex(0);
            QueueClick(d.Frame_ComSetup[0]->Btn_Setup);
          },
          &demo),
      When<TFrm_AutoComSetup>([&](TFrm_AutoComSetup& d) {
        serialShown = true;
        serial = &d;
        EXPECT_EQ(bench_.settings.getComMode(0), "Demo") << "nothing saved yet";
        d.CB_Baud->setCurrentIndex(1);
        d.CB_Port->setCurrentIndex(4);
        QueueClick(d.Btn_OK);
      }),
      When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) { QueueClick(d.Btn_Cancel); }, &serial),
  });
  EXPECT_EQ(dialog.exec(), QDialog::Rejected);
  EXPECT_TRUE(steps.AllDone());
  EXPECT_TRUE(demoShown);
  EXPECT_TRUE(serialShown);
  // Cancel kept the mode and the link, and the settings chosen through Setup.
  EXPECT_EQ(bench_.settings.getComMode(0), "Demo");
  EXPECT_EQ(shafts_[0]->Communication(), link);
  EXPECT_EQ(bench_.settings.GetDemoComInterval(0), 250);
  EXPECT_EQ(bench_.settings.GetDemoComPower(0), 6000);
  EXPECT_EQ(bench_.settings.GetAutoComBaud(0), 9600);
  EXPECT_EQ(bench_.settings.GetAutoComPort(0), 5);
}

TEST_F(SetupComPortsTest, AComRowWithAnUnknownModeKeepsItOnOkAndTheShaftEndsConnected) {
  bench_.settings.EnsureComIndexExists(0, "Manual");
  auto shafts = Shafts(1);
  ASSERT_EQ(shafts_[0]->GetComMode(), "Manual");
  ASSERT_EQ(ConnectRows(), 1u);
  TFrm_SetupComPorts dialog(nullptr, settings_, bench_.settings, shafts);
  QPointer<QWidget> serial;
  ModalSteps steps({
      When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) {
        EXPECT_EQ(d.Frame_ComSetup[0]->CB_Mode->currentIndex(), -1);
        EXPECT_EQ(d.Frame_ComSetup[0]->ComMode(), "");
        QueueClick(d.Frame_ComSetup[0]->Btn_Setup);
      }),
      // No mode chosen is "any other mode": the serial link's dialog.
      When<TFrm_AutoComSetup>([&](TFrm_AutoComSetup& d) {
        serial = &d;
        QueueClick(d.Btn_Cancel);
      }),
      When<TFrm_SetupComPorts>([](TFrm_SetupComPorts& d) { QueueClick(d.Btn_OK); }, &serial),
  });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(steps.AllDone());
  EXPECT_EQ(bench_.settings.getComMode(0), "Manual");
  EXPECT_TRUE(shafts_[0]->IsConnected());
  EXPECT_NE(shafts_[0]->Communication(), nullptr);
  EXPECT_EQ(ConnectRows(), 2u) << "the link was built anew";
  EXPECT_EQ(shafts_[0]->GetComMode(), "Manual");
}

TEST_F(SetupComPortsTest, AModeThatCannotBeStoredLeavesEveryShaftConnected) {
  struct Case {
    int failing;
    std::vector<std::string> modes;  // stored after the failed OK
  };
  const Case cases[] = {{0, {"RVS Auto-send", "RVS Auto-send"}}, {1, {"Demo", "RVS Auto-send"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE("storing fails for shaft " + std::to_string(c.failing));
    for (int i = 0; i < 2; ++i)
      bench_.settings.setComMode(i, kComModeAuto);
    shafts_.clear();
    auto shafts = Shafts(2);
    ModeFailsStore store(bench_.settings, c.failing);
    TFrm_SetupComPorts dialog(nullptr, settings_, store, shafts);
    dialog.Frame_ComSetup[0]->CB_Mode->setCurrentIndex(1);
    dialog.Frame_ComSetup[1]->CB_Mode->setCurrentIndex(1);
    EXPECT_THROW(dialog.Btn_OKClick(), std::runtime_error);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(i);
      TShaft& shaft = *shafts_[static_cast<std::size_t>(i)];
      EXPECT_EQ(bench_.settings.getComMode(i), c.modes[static_cast<std::size_t>(i)]);
      EXPECT_TRUE(shaft.IsConnected());
      EXPECT_NE(shaft.Communication(), nullptr);
      EXPECT_EQ(shaft.GetComMode(), c.modes[static_cast<std::size_t>(i)]);
    }
  }
}

}  // namespace
}  // namespace rvx
