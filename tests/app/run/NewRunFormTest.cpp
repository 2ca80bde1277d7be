// The new-run dialog offscreen: its controls, the fixed-duration panel as
// the grabbed picture shows it, and the run it hands back.
#include "app/run/NewRunForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "app/storage/ConfigurationManager.h"
#include "tests/app/run/RunTestSupport.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx::test {
namespace {

class NewRunFormTest : public LogDatabaseTest {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    log_ = OpenLog();
    config_ = std::make_unique<TConfigurationManager>(*log_);
    form_ = std::make_unique<TFrm_NewRun>(nullptr, *config_, *log_, box_);
    form_->setTrialID(7);
    form_->show();
  }
  QImage Picture() { return form_->grab().toImage(); }
  QImage PanelArea() { return Picture().copy(form_->Panel_AutoStop->geometry()); }

  std::unique_ptr<TDM_System> log_;
  std::unique_ptr<TConfigurationManager> config_;
  std::unique_ptr<TFrm_NewRun> form_;
};

TEST_F(NewRunFormTest, StartsWithItsDefaults) {
  EXPECT_EQ(form_->windowTitle(), "RVX - New Run");
  EXPECT_EQ(form_->Edit_Name->text(), "Run");
  EXPECT_EQ(form_->Edit_Name->maxLength(), 30);
  EXPECT_EQ(form_->Btn_OK->text(), "Start");
  EXPECT_EQ(form_->Btn_Cancel->text(), "Cancel");
  EXPECT_FALSE(form_->CB_AutoStop->isChecked());
  EXPECT_FALSE(form_->Panel_AutoStop->isVisible());
  EXPECT_EQ(form_->DateTimePicker_AutoStopHours->text(), "00");
  EXPECT_EQ(form_->DateTimePicker_AutoStopMinutes->text(), "05");
  const QImage picture = Picture();
  EXPECT_EQ(picture.size(), form_->size() * form_->devicePixelRatio());
}

TEST_F(NewRunFormTest, TickingTheBoxShowsThePickersInThePicture) {
  const QImage hidden = PanelArea();
  form_->CB_AutoStop->click();
  EXPECT_TRUE(form_->Panel_AutoStop->isVisible());
  const QImage shown = PanelArea();
  EXPECT_NE(hidden, shown);
  form_->CB_AutoStop->click();
  EXPECT_FALSE(form_->Panel_AutoStop->isVisible());
  EXPECT_EQ(PanelArea(), hidden);
}

TEST_F(NewRunFormTest, HandsBackTheRunWithItsPlan) {
  struct Case {
    bool tick;
    int hours, minutes;
    bool autoStop;
    double stopAfter;
  };
  for (const Case& c : {Case{false, 1, 30, false, 25.0 / 24}, Case{true, 0, 0, false, 25.0 / 24},
                        Case{true, 1, 30, true, 0.0625}, Case{true, 23, 59, true, 1439.0 / 1440},
                        Case{true, 0, 5, true, 5.0 / 1440}}) {
    SCOPED_TRACE(std::to_string(c.tick) + " " + std::to_string(c.hours) + ":" +
                 std::to_string(c.minutes));
    form_->CB_AutoStop->setChecked(c.tick);
    form_->DateTimePicker_AutoStopHours->setValue(c.hours);
    form_->DateTimePicker_AutoStopMinutes->setValue(c.minutes);
    form_->Edit_Name->setText("Speed trial");
    form_->Memo_Comments->setPlainText("Sea state 2");
    auto run = form_->GetNewRun();
    EXPECT_EQ(run->name, "Speed trial");
    EXPECT_EQ(run->Comments, "Sea state 2");
    EXPECT_EQ(run->TrialID, 7);
    EXPECT_EQ(run->IsAutoStop, c.autoStop);
    EXPECT_NEAR(run->StopAfter, c.stopAfter, 1e-12);
  }
}

TEST_F(NewRunFormTest, CommentsAreCutAtTheirLimit) {
  form_->Memo_Comments->setPlainText(QString(600, QChar('x')));
  EXPECT_EQ(form_->Memo_Comments->toPlainText().size(), 500);
}

// A log that cannot answer (here: closed under the dialog) shows its error
// in the box; nothing reaches the event loop and the dialog stays open.
TEST_F(NewRunFormTest, ALogErrorOnStartShowsTheBoxAndKeepsTheDialog) {
  log_->Database().Close();
  box_.ExpectErrors(1);
  form_->Btn_OK->click();
  ASSERT_EQ(box_.Log().size(), 1u);
  EXPECT_EQ(box_.Log()[0].rfind("error:", 0), 0u) << box_.Log()[0];
  EXPECT_TRUE(form_->isVisible());
  EXPECT_NE(form_->result(), QDialog::Accepted);
}

}  // namespace
}  // namespace rvx::test
