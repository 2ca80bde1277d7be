#include "tests/app/support/ScriptedMessageBox.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPdfWriter>

#include "app/util/QtText.h"

namespace rvx::test {

void ScriptedMessageBox::ShowError(const std::string& text) {
  log_.push_back("error:" + text);
  if (errors_allowed_-- <= 0) ADD_FAILURE() << "unexpected error box: " << text;
}

bool ScriptedMessageBox::Confirm(const std::string& text) {
  log_.push_back("confirm:" + text);
  if (confirms_.empty()) {
    ADD_FAILURE() << "unexpected confirmation: " << text;
    return false;
  }
  const bool yes = confirms_.front();
  confirms_.pop_front();
  return yes;
}

void ScriptedMessageBox::ExpectDone() const {
  EXPECT_TRUE(confirms_.empty()) << "unused confirmation answers";
  EXPECT_EQ(errors_allowed_, 0) << "expected error boxes not shown";
}

void RecordingPrinter::Print(const std::string& documentName, const PageRenderer& render) {
  documents_.push_back(documentName);
  QPdfWriter writer(QFile::decodeName(pdf_path_.c_str()));
  writer.setTitle(ToQString(documentName));
  render(writer);
}

}  // namespace rvx::test
