// MessageBox: the application's modal message boxes, behind an interface so
// that tests can answer and observe them. The Qt version lives in app/ui.
//
// Texts are Windows-1252. Both calls block until the user answers; the
// message loop runs meanwhile (timers and meter readings go on).
//
// Thread safety: GUI thread only.
#pragma once

#include <string>

namespace rvx {

class MessageBox {
 public:
  MessageBox() = default;
  MessageBox(const MessageBox&) = delete;
  MessageBox& operator=(const MessageBox&) = delete;
  virtual ~MessageBox() = default;

  // The error box: the text alone, the error icon, one OK button.
  virtual void ShowError(const std::string& text) = 0;
  // The confirmation box: the text, the confirmation icon, Yes and No. True
  // for Yes; closing the box any other way answers No.
  virtual bool Confirm(const std::string& text) = 0;
};

}  // namespace rvx
