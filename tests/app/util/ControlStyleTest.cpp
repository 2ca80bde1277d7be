#include "app/util/ControlStyle.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

class ControlStyleTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }
};

// The darkest pixel of an image, as a grey level.
int Darkest(const QImage& image) {
  int darkest = 255;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      darkest = std::min(darkest, qGray(image.pixel(x, y)));
  return darkest;
}

TEST_F(ControlStyleTest, LabelsAreBlackArialOnTheirParentsColour) {
  for (bool ovc : {false, true}) {
    SCOPED_TRACE(ovc ? "StyleOvcLabel" : "StyleLabel");
    QWidget parent;
    parent.resize(300, 100);
    QPalette palette = parent.palette();
    const QColor sea(200, 230, 250);
    palette.setColor(QPalette::Window, sea);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    auto* label = new QLabel(QStringLiteral("Power Wide Text That Stays On One Line"));
    if (ovc)
      PlaceOvcLabel(label, &parent);
    else
      PlaceLabel(label, &parent);
    label->move(10, 10);
    EXPECT_EQ(label->parentWidget(), &parent);
    EXPECT_EQ(label->font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(label->font().pixelSize(), 16);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_FALSE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(label->size(), label->sizeHint());  // sized to its text

    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    const QImage picture = parent.grab(label->geometry()).toImage();
    // The parent's colour shows around the letters, which are black.
    EXPECT_EQ(QColor(picture.pixel(0, 0)), sea);
    EXPECT_EQ(QColor(picture.pixel(picture.width() - 1, picture.height() - 1)), sea);
    EXPECT_LT(Darkest(picture), 40);
  }
}

TEST_F(ControlStyleTest, GlowButtonsTakeTheLayoutOfTheWindow) {
  QWidget form;
  QFont form_font(QStringLiteral("Liberation Serif"));
  form_font.setPointSize(12);
  form.setFont(form_font);
  auto* wide = new QPushButton(QStringLiteral("New Run"), &form);
  wide->resize(112, 30);
  auto* narrow = new QPushButton(QStringLiteral("OK"), &form);
  narrow->resize(80, 30);

  GlowButtonHeight = 36;
  GlowButtonLayout = TButtonLayout::blGlyphLeftAdjusted;
  StyleGlowButton(wide);
  StyleGlowButton(narrow);
  EXPECT_EQ(wide->height(), 36);
  EXPECT_EQ(GlowButtonLayoutOf(wide), TButtonLayout::blGlyphLeftAdjusted);
  // 80 pixels is not wider than 80: left as it was.
  EXPECT_EQ(narrow->height(), 30);
  EXPECT_EQ(GlowButtonLayoutOf(narrow), TButtonLayout::blGlyphLeft);
  // Both end with the form's font.
  EXPECT_EQ(wide->font(), form.font());
  EXPECT_EQ(narrow->font(), form.font());
  form_font.setPointSize(14);
  form.setFont(form_font);
  EXPECT_EQ(wide->font().pointSize(), 14);

  GlowButtonHeight = 60;
  GlowButtonLayout = TButtonLayout::blGlyphTop;
  StyleGlowButton(wide);
  EXPECT_EQ(wide->height(), 60);
  EXPECT_EQ(GlowButtonLayoutOf(wide), TButtonLayout::blGlyphTop);
}

TEST_F(ControlStyleTest, BaseFormLookAndPlace) {
  QWidget main_window;
  main_window.setGeometry(100, 80, 900, 700);
  main_window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main_window));

  TFormAC form(&main_window);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("FormAC"));
  EXPECT_EQ(form.size(), QSize(467, 290));
  EXPECT_FALSE(form.shutDown);
  EXPECT_EQ(form.font().pointSize(), 10);
  EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
  EXPECT_EQ(form.palette().color(QPalette::WindowText), QColor(Qt::black));

  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QPoint offset = form.frameGeometry().center() - main_window.frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 4);
  // The picture shows the button-face colour.
  const QImage picture = form.grab().toImage();
  EXPECT_EQ(QColor(picture.pixel(5, 5)), form.palette().color(QPalette::Button));
}

}  // namespace
}  // namespace rvx
