// Test doubles for the message box, shell and printer seams. The message box
// answers confirmations from a queue and logs every box; a box nobody
// expected fails the test. The shell and the printer record their calls.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/util/MessageBox.h"
#include "app/util/Printer.h"
#include "app/util/Shell.h"

namespace rvx::test {

class ScriptedMessageBox : public MessageBox {
 public:
  void QueueConfirm(bool yes) { confirms_.push_back(yes); }
  void ExpectErrors(int count = 1) { errors_allowed_ += count; }

  void ShowError(const std::string& text) override;
  bool Confirm(const std::string& text) override;

  // "error:<text>" and "confirm:<text>", in order.
  const std::vector<std::string>& Log() const { return log_; }
  // Everything queued was used and every expected box shown.
  void ExpectDone() const;

 private:
  std::deque<bool> confirms_;
  int errors_allowed_ = 0;
  std::vector<std::string> log_;
};

class RecordingShell : public Shell {
 public:
  bool Open(const std::string& path) override {
    opened_.push_back(path);
    return answer_;
  }
  void SetAnswer(bool answer) { answer_ = answer; }
  const std::vector<std::string>& Opened() const { return opened_; }

 private:
  bool answer_ = true;
  std::vector<std::string> opened_;
};

// Prints on a PDF file of its own (path given), so that tests can read the
// printed pages back; counts the print dialogs.
class RecordingPrinter : public Printer {
 public:
  explicit RecordingPrinter(std::string pdf_path) : pdf_path_(std::move(pdf_path)) {}
  bool ChoosePrinter() override {
    ++dialogs_;
    return choose_answer_;
  }
  void Print(const std::string& documentName, const PageRenderer& render) override;

  void SetChooseAnswer(bool answer) { choose_answer_ = answer; }
  int Dialogs() const { return dialogs_; }
  const std::vector<std::string>& Documents() const { return documents_; }

 private:
  std::string pdf_path_;
  bool choose_answer_ = true;
  int dialogs_ = 0;
  std::vector<std::string> documents_;
};

}  // namespace rvx::test
