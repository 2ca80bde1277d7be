#include "app/main/GuardedApplication.h"

#include <cstdio>
#include <exception>
#include <string>

#include "app/util/MessageBox.h"

namespace rvx {

namespace {

void Show(MessageBox* box, const std::string& text) noexcept {
  try {
    if (box != nullptr) {
      box->ShowError(text);
      return;
    }
  } catch (...) {
    // The box itself failed: the error stream is all that is left.
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

bool DeliverGuarded(MessageBox* box, const std::function<bool()>& deliver) noexcept {
  try {
    return deliver();
  } catch (const std::exception& e) {
    Show(box, e.what());
  } catch (...) {
    Show(box, "Unknown error.");
  }
  return true;
}

TGuardedApplication::TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
  return DeliverGuarded(box_, [&] { return QApplication::notify(receiver, event); });
}

}  // namespace rvx
