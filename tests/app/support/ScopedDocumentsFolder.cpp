#include "tests/app/support/ScopedDocumentsFolder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace rvx::test {

ScopedDocumentsFolder::ScopedDocumentsFolder() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/rvx-docs-XXXXXX";
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "no temporary folder";
  path_ = pattern;
  if (const char* saved = std::getenv("RVX_DOCUMENTS")) {
    saved_ = saved;
    had_saved_ = true;
  }
  setenv("RVX_DOCUMENTS", path_.c_str(), 1);
}

ScopedDocumentsFolder::~ScopedDocumentsFolder() {
  if (had_saved_)
    setenv("RVX_DOCUMENTS", saved_.c_str(), 1);
  else
    unsetenv("RVX_DOCUMENTS");
  // RVX_KEEP_TEST_FILES keeps the files for a look at them.
  if (std::getenv("RVX_KEEP_TEST_FILES")) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace rvx::test
