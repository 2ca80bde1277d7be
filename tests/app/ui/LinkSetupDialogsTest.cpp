// The serial and simulated meter setup dialogs on the offscreen platform,
// answered through their widgets as a user would.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

#include <termios.h>

#include <functional>

#include "app/acquisition/AutoCommunication.h"
#include "app/ui/AutoComSetup.h"
#include "app/ui/DemoComSetup.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

// Answers the dialog once its modal loop runs.
void AnswerWhenShown(QDialog& dialog, std::function<void()> answer) {
  QTimer::singleShot(0, &dialog, [&dialog, answer = std::move(answer)] {
    ASSERT_TRUE(dialog.isVisible());
    ASSERT_TRUE(dialog.isModal());
    answer();
  });
}

// Dark pixels (text) in a widget's area of its window's picture.
int DarkPixels(QWidget& window, QWidget* part) {
  const QImage picture = window.grab(part->geometry()).toImage();
  int dark = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      dark += qGray(picture.pixel(x, y)) < 80;
  return dark;
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i)
    items << box->itemText(i);
  return items;
}

class LinkSetupDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }
  test::LinkTestBench bench_;
};

TEST_F(LinkSetupDialogsTest, SerialSetupChoosing9600StoresItAndThePortRunsAtIt) {
  test::SocatPair& pty = bench_.StartMeter(3);
  const int baud = bench_.store.GetAutoComBaud(0);
  const int port = bench_.store.GetAutoComPort(0);
  ASSERT_EQ(baud, 4800);
  ASSERT_EQ(port, 1);

  TFrm_AutoComSetup dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("RVX - AutoCom Setup"));
  AnswerWhenShown(dialog, [&] {
    EXPECT_EQ(dialog.CB_Port->count(), 25);
    EXPECT_EQ(dialog.CB_Port->currentIndex(), 0);
    EXPECT_EQ(dialog.CB_Port->itemText(2),
              QStringLiteral("3 (") + QString::fromStdString(pty.Meter()) + QStringLiteral(")"));
    EXPECT_TRUE(dialog.CB_Port->itemText(24).startsWith(QStringLiteral("25 (/dev/tty")));
    EXPECT_EQ(Items(dialog.CB_Baud), (QStringList{"4800", "9600"}));
    EXPECT_EQ(dialog.CB_Baud->currentText(), QStringLiteral("4800"));
    EXPECT_FALSE(dialog.CB_Port->isEditable());
    EXPECT_FALSE(dialog.CB_Baud->isEditable());
    EXPECT_EQ(dialog.Btn_OK->toolTip(), QStringLiteral("Start program"));
    EXPECT_EQ(dialog.Btn_Cancel->toolTip(), QStringLiteral("Close program"));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a fixed border";
    EXPECT_EQ(dialog.Lbl_Port->text(), QStringLiteral("Port:"));
    EXPECT_GT(DarkPixels(dialog, dialog.Lbl_Port), 20);
    EXPECT_GT(DarkPixels(dialog, dialog.Lbl_Baud), 20);
    dialog.CB_Baud->setCurrentIndex(1);
    dialog.CB_Port->setCurrentIndex(2);
    QTest::mouseClick(dialog.Btn_OK, Qt::LeftButton);
  });
  ASSERT_TRUE(dialog.Show(baud, port));
  EXPECT_EQ(dialog.Baud, 9600);
  EXPECT_EQ(dialog.Port, 3);

  // The caller stores what the dialog returns; the link uses it when it
  // connects.
  bench_.store.SetAutoComSettings(0, dialog.Baud, dialog.Port);
  EXPECT_EQ(bench_.store.AutoRows().at(0).Baud, 9600);
  EXPECT_EQ(bench_.store.AutoRows().at(0).Port, 3);
  TAutoCommunication link(bench_.services, 0);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Device(), pty.Meter());
  termios tio{};
  ASSERT_EQ(tcgetattr(link.SerialPort()->handle(), &tio), 0);
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
}

TEST_F(LinkSetupDialogsTest, SerialSetupCancelKeepsBothValues) {
  const struct {
    int baud;
    int port;
    const char* shown_baud;
  } cases[] = {{9600, 7, "9600"}, {4800, 25, "4800"}, {115200, 2, "9600"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.baud) + " baud, port " + std::to_string(c.port));
    TFrm_AutoComSetup dialog;
    AnswerWhenShown(dialog, [&] {
      EXPECT_EQ(dialog.CB_Port->currentIndex(), c.port - 1);
      EXPECT_EQ(dialog.CB_Baud->currentText(), QString::fromLatin1(c.shown_baud));
      dialog.CB_Baud->setCurrentIndex(1 - dialog.CB_Baud->currentIndex());
      dialog.CB_Port->setCurrentIndex(10);
      QTest::mouseClick(dialog.Btn_Cancel, Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.Show(c.baud, c.port));
    EXPECT_EQ(dialog.Baud, c.baud);
    EXPECT_EQ(dialog.Port, c.port);
  }
}

TEST_F(LinkSetupDialogsTest, SerialSetupOkOnAPortBeyondTheListKeepsIt) {
  TFrm_AutoComSetup dialog;
  AnswerWhenShown(dialog, [&] {
    EXPECT_EQ(dialog.CB_Port->currentIndex(), -1);
    QTest::mouseClick(dialog.Btn_OK, Qt::LeftButton);
  });
  EXPECT_TRUE(dialog.Show(4800, 40));
  EXPECT_EQ(dialog.Port, 40);
  EXPECT_EQ(dialog.Baud, 4800);
}

TEST_F(LinkSetupDialogsTest, DemoSetupShowsItsValuesAndUnitsAndReadsLeniently) {
  TFrm_DemoComSetup dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("RVX - Demo setup"));
  AnswerWhenShown(dialog, [&] {
    EXPECT_EQ(dialog.Edit_Timer->text(), QStringLiteral("1000"));
    EXPECT_EQ(dialog.Edit_Power->text(), QStringLiteral("8000"));
    EXPECT_EQ(dialog.Edit_speed->text(), QStringLiteral("100"));
    EXPECT_EQ(dialog.Edit_SpikeChance->text(), QStringLiteral("12.5"));
    EXPECT_EQ(dialog.Lbl_IntervalUnit->text(), QStringLiteral("ms"));
    EXPECT_EQ(dialog.Lbl_PowerUnit->text(), QStringLiteral("SHp"));
    EXPECT_EQ(dialog.Lbl_SpeedUnit->text(), QStringLiteral("rpm"));
    EXPECT_EQ(dialog.Lbl_SpikeChanceUnit->text(), QStringLiteral("%"));
    EXPECT_EQ(dialog.Lbl_SpikeChance->text(), QStringLiteral("Spike chance:"));
    // The unit it was given is drawn, whole.
    EXPECT_GT(DarkPixels(dialog, dialog.Lbl_PowerUnit), 20);
    EXPECT_GE(dialog.Lbl_PowerUnit->width(),
              dialog.Lbl_PowerUnit->fontMetrics().horizontalAdvance(QStringLiteral("SHp")));
    EXPECT_EQ(dialog.Btn_OK->toolTip(), QStringLiteral("Start program"));
    for (QLineEdit* edit :
         {dialog.Edit_Timer, dialog.Edit_Power, dialog.Edit_speed, dialog.Edit_SpikeChance})
      edit->clear();
    QTest::keyClicks(dialog.Edit_Timer, "abc");
    QTest::keyClicks(dialog.Edit_Power, "7 500");
    QTest::keyClicks(dialog.Edit_speed, "95.8");
    QTest::keyClicks(dialog.Edit_SpikeChance, "12,5");
    QTest::mouseClick(dialog.Btn_OK, Qt::LeftButton);
  });
  ASSERT_TRUE(dialog.Show(1000, 8000, 100, 0.125, "SHp", "rpm"));
  EXPECT_EQ(dialog.Interval, 0) << "letters only";
  EXPECT_EQ(dialog.Power, 7500);
  EXPECT_EQ(dialog.Speed, 95) << "digits left of the separator";
  EXPECT_DOUBLE_EQ(dialog.SpikeChance, 0.125);
}

TEST_F(LinkSetupDialogsTest, DemoSetupCancelKeepsTheInitialValues) {
  TFrm_DemoComSetup dialog;
  AnswerWhenShown(dialog, [&] {
    dialog.Edit_Timer->setText(QStringLiteral("5"));
    dialog.Edit_SpikeChance->setText(QStringLiteral("99"));
    QTest::mouseClick(dialog.Btn_Cancel, Qt::LeftButton);
  });
  EXPECT_FALSE(dialog.Show(250, 6000, 80, 0.02, "kW", "rpm"));
  EXPECT_EQ(dialog.Interval, 250);
  EXPECT_EQ(dialog.Power, 6000);
  EXPECT_EQ(dialog.Speed, 80);
  EXPECT_DOUBLE_EQ(dialog.SpikeChance, 0.02);
}

}  // namespace
}  // namespace rvx
