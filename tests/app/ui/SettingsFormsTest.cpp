// The moving-average settings dialog and the progress window on the
// offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "app/storage/ConfigurationManager.h"
#include "app/storage/DMSystem.h"
#include "app/ui/SettingsForms.h"
#include "platform/core/TextConvert.h"
#include "tests/app/support/InMemoryDisplaySettings.h"
#include "tests/app/support/QtTestApplication.h"
#include "tests/app/support/ScopedDocumentsFolder.h"
#include "tests/app/support/ScriptedMessageBox.h"

namespace rvx {
namespace {

int DarkPixels(QWidget* widget) {
  const QImage picture = widget->grab().toImage();
  int dark = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      dark += qGray(picture.pixel(x, y)) < 80;
  return dark;
}

struct SettingsCase {
  const char* name;
  const char* window;
  const char* minimum;
  bool accepted;
};

class SettingsDialogTest : public ::testing::TestWithParam<SettingsCase> {
 protected:
  bool app_ = (test::EnsureQtApplication(), true);
  test::InMemoryDisplaySettings settings_;
  test::ScriptedMessageBox box_;
};

TEST_P(SettingsDialogTest, OkStoresOnlyAValidPairAndRefusesSilently) {
  const SettingsCase& c = GetParam();
  TFrm_Settings dialog(nullptr, settings_, box_);
  EXPECT_EQ(dialog.Edit_DataWindowSize->text(), "5");
  EXPECT_EQ(dialog.Edit_MinimumDataSamplesInWindow->text(), "5");
  dialog.Edit_DataWindowSize->setText(c.window);
  dialog.Edit_MinimumDataSamplesInWindow->setText(c.minimum);
  dialog.Btn_OK->click();
  EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
  if (c.accepted) {
    // As the program reads any typed integer ("$A" is ten).
    EXPECT_EQ(settings_.data_window_size, platform::StrToInt(c.window));
    EXPECT_EQ(settings_.minimum_data_samples, platform::StrToInt(c.minimum));
    EXPECT_EQ(settings_.stores, 2);
  } else {
    EXPECT_EQ(settings_.stores, 0);
  }
  EXPECT_TRUE(box_.Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Pairs, SettingsDialogTest,
                         ::testing::Values(SettingsCase{"Window5Minimum5", "5", "5", true},
                                           SettingsCase{"Window10Minimum4", "10", "4", true},
                                           SettingsCase{"Window4Minimum5", "4", "5", false},
                                           SettingsCase{"Window0", "0", "0", false},
                                           SettingsCase{"Minimum0", "5", "0", false},
                                           SettingsCase{"NegativeWindow", "-5", "1", false},
                                           SettingsCase{"HexWindow", "$A", "5", true},
                                           SettingsCase{"BlanksBefore", "  7", "5", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// On the log file: the dialog, shown modally and answered as a user would,
// stores at once, so a configuration manager made afterwards reads the
// new values, and a refused pair stores nothing.
TEST(SettingsDialogOnTheLogFileTest, ANewConfigurationManagerReadsTheAcceptedValues) {
  test::EnsureQtApplication();
  test::ScopedDocumentsFolder docs;
  test::ScriptedMessageBox box;
  auto log = std::make_unique<TDM_System>("RVX_Log.vez", box);
  auto answer = [&](const char* window, const char* minimum, bool cancelAfter) {
    TConfigurationManager config(*log);
    TFrm_Settings dialog(nullptr, config, box);
    QTimer::singleShot(0, &dialog, [&] {
      ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
      dialog.Edit_DataWindowSize->setText(window);
      dialog.Edit_MinimumDataSamplesInWindow->setText(minimum);
      dialog.Btn_OK->click();
      if (cancelAfter) dialog.Btn_Cancel->click();
    });
    return dialog.exec();
  };
  EXPECT_EQ(answer("12", "9", false), QDialog::Accepted);
  // The file opened anew.
  log.reset();
  log = std::make_unique<TDM_System>("RVX_Log.vez", box);
  {
    TConfigurationManager fresh(*log);
    EXPECT_EQ(fresh.DataWindowSize(), 12);
    EXPECT_EQ(fresh.MinimumDataSamplesInWindow(), 9);
  }
  EXPECT_EQ(answer("3", "9", true), QDialog::Rejected) << "refused, then cancelled";
  log.reset();
  log = std::make_unique<TDM_System>("RVX_Log.vez", box);
  TConfigurationManager fresh(*log);
  EXPECT_EQ(fresh.DataWindowSize(), 12);
  EXPECT_EQ(fresh.MinimumDataSamplesInWindow(), 9);
  EXPECT_TRUE(box.Log().empty());
}

TEST(SettingsDialogEntryTest, TextThatIsNoIntegerShowsTheConversionErrorAndStaysOpen) {
  test::EnsureQtApplication();
  test::InMemoryDisplaySettings settings;
  test::ScriptedMessageBox box;
  TFrm_Settings dialog(nullptr, settings, box);
  EXPECT_EQ(dialog.windowTitle(), "Moving average settings");
  EXPECT_GT(DarkPixels(dialog.Lbl_DataWindowSize), 20);
  dialog.Edit_DataWindowSize->setText("abc");
  box.ExpectErrors(1);
  dialog.Btn_OK->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(settings.stores, 0);
  ASSERT_EQ(box.Log().size(), 1u);
  EXPECT_EQ(box.Log()[0], "error:'abc' is not a valid integer value");
  box.ExpectDone();
}

TEST(BusyFormTest, StepsStopAtTheMaximumAndEmptyTextsGetDefaults) {
  test::EnsureQtApplication();
  TBusyForm form;
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(), "RVX Busy");
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "0% finished");
  form.setup("", "", 100);
  EXPECT_EQ(form.windowTitle(), "Busy");
  EXPECT_EQ(form.Lbl_text->text(), "Working...");
  form.step(125);
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "100% finished");
  form.step(125);
  EXPECT_EQ(form.ProgressBar->value(), 100);
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "100% finished");
  EXPECT_GT(DarkPixels(form.Lbl_PercentFinished), 20);

  form.setup("Run", "Reading run data...", 8);
  EXPECT_EQ(form.windowTitle(), "Run");
  EXPECT_EQ(form.Lbl_text->text(), "Reading run data...");
}

TEST(BusyFormTest, PercentIsTheNearestIntegerWithHalvesToEven) {
  test::EnsureQtApplication();
  TBusyForm form;
  form.setup("Run", "x", 8);
  struct Step {
    int steps;
    const char* text;
  };
  // 1/8 = 12.5 -> 12, 3/8 = 37.5 -> 38, 5/8 = 62.5 -> 62.
  for (const Step s : {Step{1, "12% finished"}, Step{2, "25% finished"}, Step{3, "38% finished"},
                       Step{5, "62% finished"}}) {
    SCOPED_TRACE(s.steps);
    while (form.ProgressBar->value() < s.steps)
      form.step();
    EXPECT_EQ(form.Lbl_PercentFinished->text(), s.text);
  }
}

TEST(BusyFormTest, ASmallerRangeKeepsThePositionWithinIt) {
  test::EnsureQtApplication();
  TBusyForm form;
  form.setup("Run", "x", 100);
  form.step(50);
  form.setup("Run", "x", 10);
  EXPECT_EQ(form.ProgressBar->value(), 10);
  form.step();
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "100% finished");
  form.setup("Run", "x", 40);
  form.step();
  EXPECT_EQ(form.ProgressBar->value(), 11);
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "28% finished");  // 27.5 to even
}

TEST(BusyFormTest, NoStepsCountAsFinished) {
  test::EnsureQtApplication();
  TBusyForm form;
  form.setup("Run", "x", 0);
  form.step();
  EXPECT_EQ(form.Lbl_PercentFinished->text(), "100% finished");
}

}  // namespace
}  // namespace rvx
