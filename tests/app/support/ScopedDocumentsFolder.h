// Test helper: RVX_DOCUMENTS points at a new temporary folder for the life
// of the object, so the log database and the reports of one test live apart
// from every other test's.
#pragma once

#include <string>

namespace rvx::test {

// The folder and everything in it are removed afterwards (kept
// when RVX_KEEP_TEST_FILES is set).
class ScopedDocumentsFolder {
 public:
  ScopedDocumentsFolder();
  ~ScopedDocumentsFolder();
  ScopedDocumentsFolder(const ScopedDocumentsFolder&) = delete;
  ScopedDocumentsFolder& operator=(const ScopedDocumentsFolder&) = delete;

  const std::string& Path() const { return path_; }
  // <documents>/RVX/reports/, the default report folder.
  std::string ReportFolder() const { return path_ + "/RVX/reports/"; }

 private:
  std::string path_;
  std::string saved_;
  bool had_saved_ = false;
};

}  // namespace rvx::test
