#include "platform/os/FileView.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/File.h"

namespace platform {
namespace {

class FileViews : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vezfileviewXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/viewed";
    writer_ = PosixFileSystem().CreateFile(path_, FileShare::kDenyNone);
    std::vector<std::uint8_t> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i);
    writer_->WriteAt(0, bytes.data(), bytes.size());
  }
  void TearDown() override {
    writer_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::string dir_;
  std::string path_;
  std::unique_ptr<File> writer_;
};

// Views at several alignments of another handle see every write of the
// writer at once, without a read.
TEST_F(FileViews, SeeEveryWriteOfAnotherHandleAtOnce) {
  std::unique_ptr<File> reader =
      PosixFileSystem().OpenFile(path_, FileAccess::kRead, FileShare::kDenyNone);
  for (const std::int64_t offset :
       {std::int64_t{0}, std::int64_t{38}, std::int64_t{4094}, std::int64_t{5000}}) {
    SCOPED_TRACE(offset);
    FileView view;
    ASSERT_TRUE(view.Open(reader->Descriptor(), offset, 5));
    std::uint8_t got[5];
    view.Load(0, got, 5);
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(got[i], static_cast<std::uint8_t>(offset + i));
    const std::uint8_t changed[5] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
    writer_->WriteAt(offset, changed, 5);
    view.Load(1, got, 4);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(got[i], changed[i + 1]);
  }
}

TEST_F(FileViews, RefuseWhatCannotBeMappedAndCloseTwice) {
  FileView view;
  EXPECT_FALSE(view.Open(-1, 0, 4));
  EXPECT_FALSE(view.IsOpen());
  EXPECT_FALSE(view.Open(writer_->Descriptor(), 0, 0));
  ASSERT_TRUE(view.Open(writer_->Descriptor(), 10, 4));
  EXPECT_TRUE(view.IsOpen());
  view.Close();
  view.Close();
  EXPECT_FALSE(view.IsOpen());
}

}  // namespace
}  // namespace platform
