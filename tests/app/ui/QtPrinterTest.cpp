// The real printer seam on a machine without printers (CI): a clear error,
// and nothing painted.
#include <gtest/gtest.h>

#include <QPrinterInfo>

#include "app/ui/QtMessageBox.h"
#include "platform/core/Exceptions.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

TEST(QtPrinterTest, WithoutAPrinterPrintingRaisesAClearError) {
  test::EnsureQtApplication();
  if (!QPrinterInfo::availablePrinterNames().isEmpty()) GTEST_SKIP() << "this machine has printers";
  QtPrinter printer;
  bool painted = false;
  try {
    printer.Print("Trelmar Voyage Report", [&](QPagedPaintDevice&) { painted = true; });
    ADD_FAILURE() << "printed without a printer";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "There is no printer to print on");
  }
  EXPECT_FALSE(painted);
}

}  // namespace
}  // namespace rvx
