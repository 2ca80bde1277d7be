#include "app/main/BuildStatusWindow.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/util/ProgramInfo.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

TEST(BuildStatusWindowTest, SaysWhatThisBuildCanDoAndCloses) {
  test::EnsureQtApplication();
  UtilsStartUp();
  TFrm_BuildStatus window;
  EXPECT_EQ(window.Lbl_Version->text(),
            QStringLiteral("Version : ") + QString::fromStdString(ProgramVersion));
  EXPECT_FALSE(ProgramVersion.empty());
  EXPECT_TRUE(window.Lbl_Status->text().contains(QStringLiteral("not built yet")));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  // The picture holds dark text on the form's colour.
  const QImage picture = window.grab(window.Lbl_Status->geometry()).toImage();
  int dark = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      dark += qGray(picture.pixel(x, y)) < 80;
  EXPECT_GT(dark, 100);

  QTest::mouseClick(window.Btn_Close, Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  UtilsShutDown();
}

}  // namespace
}  // namespace rvx
