#include "app/util/ControlStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace rvx {

namespace {

constexpr int kLabelHeight = 22;
constexpr int kLabelFontPixels = 16;
constexpr int kWideButton = 80;
constexpr const char* kLayoutProperty = "glowButtonLayout";

void StyleAnyLabel(QLabel* label) {
  label->resize(label->width(), kLabelHeight);
  label->setWordWrap(false);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(palette);
  QFont font = label->font();
  font.setFamily(QStringLiteral("Arial"));
  font.setPixelSize(kLabelFontPixels);
  label->setFont(font);
  // The parent's colour shows through.
  label->setAutoFillBackground(false);
  label->adjustSize();
}

}  // namespace

void StyleOvcLabel(QLabel* label) {
  StyleAnyLabel(label);
}

void StyleLabel(QLabel* label) {
  StyleAnyLabel(label);
}

void PlaceOvcLabel(QLabel* label, QWidget* parent) {
  label->setParent(parent);
  StyleOvcLabel(label);
}

void PlaceLabel(QLabel* label, QWidget* parent) {
  label->setParent(parent);
  StyleLabel(label);
}

void StyleGlowButton(QPushButton* button) {
  QFont arial = button->font();
  arial.setFamily(QStringLiteral("Arial"));
  button->setFont(arial);
  // A font that sets nothing of its own: everything comes from the parent.
  button->setFont(QFont());
  if (button->width() > kWideButton) {
    SetGlowButtonLayout(button, GlowButtonLayout);
    button->resize(button->width(), GlowButtonHeight);
  }
}

TButtonLayout GlowButtonLayoutOf(const QPushButton* button) {
  const QVariant v = button->property(kLayoutProperty);
  return v.isValid() ? static_cast<TButtonLayout>(v.toInt()) : TButtonLayout::blGlyphLeft;
}

void SetGlowButtonLayout(QPushButton* button, TButtonLayout layout) {
  button->setProperty(kLayoutProperty, static_cast<int>(layout));
}

TFormAC::TFormAC(QWidget* AOwner) : QDialog(AOwner) {
  setWindowTitle(QStringLiteral("FormAC"));
  resize(467, 290);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    palette.setColor(role, Qt::black);
  setPalette(palette);
  QFont font = this->font();
  font.setPointSize(10);
  setFont(font);
}

void TFormAC::showEvent(QShowEvent* event) {
  if (!placed_ && !event->spontaneous()) {
    placed_ = true;
    QRect area;
    if (QWidget* over = parentWidget() ? parentWidget()->window() : QApplication::activeWindow();
        over && over != this && over->isVisible()) {
      area = over->frameGeometry();
    } else if (QScreen* screen = this->screen()) {
      area = screen->availableGeometry();
    }
    if (area.isValid()) move(area.center() - rect().center());
  }
  QDialog::showEvent(event);
}

}  // namespace rvx
