#include "platform/os/FileQueries.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/core/Exceptions.h"

namespace platform {
namespace {

class FileQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vezqueryXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::system(("chattr -i " + dir_ + "/* 2>/dev/null").c_str());
    std::filesystem::remove_all(dir_);
  }
  std::string Make(const char* name, mode_t mode) {
    const std::string p = dir_ + "/" + name;
    std::ofstream(p) << "data";
    chmod(p.c_str(), mode);
    return p;
  }
  std::string dir_;
};

TEST_F(FileQueries, WritabilityWritesNothing) {
  const std::string rw = Make("rw", 0644);
  const std::string ro = Make("ro", 0444);
  struct stat before {};
  stat(rw.c_str(), &before);
  EXPECT_EQ(QueryFileWritability(rw), FileWritability::kWritable);
  EXPECT_EQ(QueryFileWritability(ro), FileWritability::kReadOnlyAttribute);
  EXPECT_EQ(QueryFileWritability(dir_ + "/none"), FileWritability::kMissing);
  EXPECT_THROW(QueryFileWritability(dir_), EOSError);
  struct stat after {};
  stat(rw.c_str(), &after);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
  if (geteuid() == 0) {
    // Root writes through permissions, but not through the immutable flag.
    const std::string imm = Make("imm", 0644);
    if (std::system(("chattr +i " + imm + " 2>/dev/null").c_str()) == 0) {
      EXPECT_EQ(QueryFileWritability(imm), FileWritability::kReadOnlyAttribute);
    }
  } else {
    const std::string theirs = Make("theirs", 0604);
    EXPECT_EQ(QueryFileWritability(theirs), FileWritability::kWritable);
  }
  ClearReadOnlyAttribute(ro);
  EXPECT_EQ(QueryFileWritability(ro), FileWritability::kWritable);
}

TEST_F(FileQueries, CanonicalPathsAndFolders) {
  const std::string f = Make("x.vez", 0644);
  std::filesystem::create_directory(dir_ + "/sub");
  std::filesystem::create_symlink(f, dir_ + "/link.vez");
  const std::string canon = CanonicalPath(f);
  EXPECT_EQ(CanonicalPath(dir_ + "/sub/../x.vez"), canon);
  EXPECT_EQ(CanonicalPath(dir_ + "/./link.vez"), canon);
  // A name that does not exist yet resolves through its folder.
  EXPECT_EQ(CanonicalPath(dir_ + "/sub/../new.vez"), CanonicalPath(dir_) + "/new.vez");
  EXPECT_THROW(CanonicalPath(dir_ + "/missing/new.vez"), EOSError);
  EXPECT_THROW(CanonicalPath(""), EOSError);
  EXPECT_EQ(DirectoryOf("/a/b/c.vez"), "/a/b");
  EXPECT_EQ(DirectoryOf("/c.vez"), "/");
  EXPECT_EQ(DirectoryOf("c.vez"), ".");
  SyncDirectory(dir_);
  EXPECT_THROW(SyncDirectory(dir_ + "/missing"), EOSError);
}

}  // namespace
}  // namespace platform
