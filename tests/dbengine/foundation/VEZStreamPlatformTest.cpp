// The engine's streams serve as the dataset layer's streams.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "dbengine/foundation/VEZMemoryStream.h"
#include "platform/dataset/Stream.h"

namespace vez {
namespace {

TEST(VEZStreamPlatformTest, MemoryStreamWorksThroughThePlatformInterface) {
  std::unique_ptr<platform::Stream> s = std::make_unique<TVEZMemoryStream>();
  const std::string data = "BLOB bytes";
  EXPECT_EQ(s->Write(data.data(), static_cast<std::int32_t>(data.size())), 10);
  EXPECT_EQ(s->GetSize(), 10);
  EXPECT_EQ(s->Seek(5, platform::soBeginning), 5);
  char out[8] = {};
  EXPECT_EQ(s->Read(out, 8), 5);
  EXPECT_EQ(std::string(out, 5), "bytes");
  EXPECT_EQ(s->Seek(-1, platform::soBeginning), -1);  // refused, position kept
  EXPECT_EQ(s->Seek(0, platform::soCurrent), 10);
  s->SetSize(4);
  EXPECT_EQ(s->GetSize(), 4);
  // The engine's own origins are the platform's.
  static_assert(soEnd == platform::soEnd);
}

}  // namespace
}  // namespace vez
