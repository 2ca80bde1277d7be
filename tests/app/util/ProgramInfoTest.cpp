#include "app/util/ProgramInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/util/NormalDistribution.h"
#include "platform/core/Exceptions.h"

namespace rvx {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ProgramInfoTest, VersionTextsBelongToTheRunningProgramOnly) {
  const std::string self = ProgramFilePath();
  ASSERT_FALSE(self.empty());
  TVersionInfo info;
  ReadFileVersionInfo(self, info);
  EXPECT_EQ(info.FileVersion, RVX_PROGRAM_VERSION);
  EXPECT_EQ(info.ProductVersion, RVX_PROGRAM_VERSION);
  EXPECT_EQ(info.ProductName, "RVX Log");

  // Another path to the same file names the same program.
  const std::string relative =
      std::filesystem::relative(self, std::filesystem::current_path()).string();
  ReadFileVersionInfo(relative, info);
  EXPECT_EQ(info.FileVersion, RVX_PROGRAM_VERSION);

  for (const char* other : {"/etc/hostname", "/no/such/file", ""}) {
    SCOPED_TRACE(other);
    info.FileVersion = "left over";
    ReadFileVersionInfo(other, info);
    EXPECT_EQ(info.FileVersion, "");
    EXPECT_EQ(info.ProductName, "");
    EXPECT_EQ(info.Language, "");
  }
}

TEST(ProgramInfoTest, StartStepSetsAndEndStepClearsTheModuleVariables) {
  UtilsStartUp();
  EXPECT_EQ(ProgramVersion, RVX_PROGRAM_VERSION);
  EXPECT_EQ(ProgramVersionInfo.FileVersion, RVX_PROGRAM_VERSION);
  // The tests do not run under a debugger.
  EXPECT_FALSE(DebuggerAttached);
  UtilsShutDown();
  EXPECT_EQ(ProgramVersion, "");
  EXPECT_EQ(ProgramVersionInfo.FileVersion, "");
}

TEST(ProgramInfoTest, DocumentsFolder) {
  {
    ScopedEnv docs("RVX_DOCUMENTS", "/srv/rvx docs/");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_DOCUMENTS), "/srv/rvx docs");
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_PERSONAL), "/srv/rvx docs");
    EXPECT_EQ(GetSpecialFolderPath(26), "");  // not a folder the program uses
  }
  // Without the variable (or with it empty): the user's documents folder.
  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("rvx-home-" + std::to_string(getpid()));
  ScopedEnv home_env("HOME", home.c_str());
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv docs("RVX_DOCUMENTS", value);
    EXPECT_EQ(GetSpecialFolderPath(CSIDL_COMMON_DOCUMENTS), (home / "Documents").string());
  }
}

TEST(NormalDistributionTest, KnownValues) {
  EXPECT_NEAR(static_cast<double>(NormalPdf(0)), 0.3989422804014327, 1e-15);
  EXPECT_NEAR(static_cast<double>(NormalPdf(1)), 0.2419707245191434, 1e-15);
  EXPECT_NEAR(NormalUpperTail(0, 1, 0), 0.5, 1e-7);
  EXPECT_NEAR(NormalUpperTail(0, 1, 1.96), 0.025, 1e-4);
  EXPECT_NEAR(NormalCdf(10, 2, 8), 0.158655, 1e-6);  // below the mean
  EXPECT_NEAR(NormalCdf(10, 2, 12), 0.841345, 1e-6);
  EXPECT_FLOAT_EQ(NormalCdf(10, 2, 10), StdNormalCdf(0));
}

// The density is exp(-x^2 / 2) divided by sqrt(2 pi), to the last place of
// extended precision.
TEST(NormalDistributionTest, DensityIsDividedBySqrtTwoPi) {
  const long double sqrt_2pi = std::sqrt(2 * 3.141592653589793238462643383279502884L);
  for (int i = 0; i <= 4000; ++i) {
    const long double x = i / 500.0L;
    SCOPED_TRACE(static_cast<double>(x));
    ASSERT_EQ(NormalPdf(x), std::exp(-x * x / 2) / sqrt_2pi);
  }
}

TEST(NormalDistributionTest, NegativeArgumentIsAMathError) {
  try {
    StdNormalCdf(-1);
    FAIL() << "no error";
  } catch (const platform::EMathError& e) {
    EXPECT_STREQ(e.what(), "Value must be Non-Negative");
  }
  EXPECT_THROW(StdNormalCdf(-1e-300), platform::EMathError);
  EXPECT_NO_THROW(StdNormalCdf(0));
}

// The approximation against the exact tail through the whole range the
// filter uses: its own error (below 7.5E-8) plus the single-precision steps.
TEST(NormalDistributionTest, UpperTailFollowsTheExactTail) {
  for (int i = 0; i <= 8000; ++i) {
    const double z = i / 1000.0;
    SCOPED_TRACE(z);
    const double exact = 0.5 * std::erfc(z / std::sqrt(2.0));
    EXPECT_NEAR(NormalUpperTail(0, 1, z), exact, 2.5e-7);
    EXPECT_NEAR(NormalCdf(0, 1, -z), exact, 2.5e-7);
  }
}

}  // namespace
}  // namespace rvx
