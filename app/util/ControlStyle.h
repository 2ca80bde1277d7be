// ControlStyle: the standard look of the application's labels and glow
// buttons, and TFormAC, the base form of the main window and the dialogs.
//
// Labels: Arial with a character height of 16 pixels, black, no word wrap,
// sized to their text, drawn on their parent's colour. The two label kinds
// of the original forms (plain and custom-drawn) look the same here; both
// routines stay so the forms read as designed.
//
// Glow buttons are QPushButtons with a hint, a toggle state and a picture.
// StyleGlowButton gives a wide one the height and picture placement of the
// current layout (GlowButtonHeight, GlowButtonLayout); the placement is kept
// in the button's "glowButtonLayout" property for the window that draws it.
//
// Thread safety: GUI thread only.
#pragma once

#include <QDialog>

#include <string>

#include "app/util/ProgramInfo.h"

class QLabel;
class QPushButton;
class QWidget;

namespace rvx {

// Label look: auto size, height 22 before sizing, no word wrap, black,
// Arial with a font height of 16 pixels, the parent's colour.
void StyleOvcLabel(QLabel* label);
void StyleLabel(QLabel* label);
// Sets the label's parent, then styles it.
void PlaceOvcLabel(QLabel* label, QWidget* parent);
void PlaceLabel(QLabel* label, QWidget* parent);

// Font name Arial, then the parent's font (the button ends with its form's
// font); a button wider than 80 pixels gets GlowButtonLayout and
// GlowButtonHeight.
void StyleGlowButton(QPushButton* button);
// The placement StyleGlowButton or SetGlowButtonLayout gave the button
// (blGlyphLeft when none).
TButtonLayout GlowButtonLayoutOf(const QPushButton* button);
void SetGlowButtonLayout(QPushButton* button, TButtonLayout layout);

// The base form: button-face colour, font size 10, black text; caption
// "FormAC" and a 467 x 290 client area until the derived form sets its own;
// shown centred on its parent (or on the active window, else the screen)
// the first time.
class TFormAC : public QDialog {
  Q_OBJECT

 public:
  explicit TFormAC(QWidget* AOwner = nullptr);

  // Set by the main window when its start-up was abandoned.
  bool shutDown = false;
  // Kept for the forms' designs; the program does not read it.
  std::string ColorLayout;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool placed_ = false;
};

}  // namespace rvx
