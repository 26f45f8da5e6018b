// Start-up of the main frame: geometry, the rights test, the elevated
// re-launch and the Windows version class.
#include <gtest/gtest.h>

#include "app/LauncherState.h"
#include "app/Startup.h"
#include "tests/fake/FakePlatform.h"

namespace qm {
namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLauncherState();
    SetPlatform(PlatformOf(fake));
  }
  void TearDown() override { SetPlatform({}); }
  test::FakePlatform fake;
};

TEST_F(StartupTest, NonAdministratorRequestsExactlyOneElevatedCopyAndNothingElse) {
  fake.admin = false;
  fake.modulePath = "C:\\Downloads\\QuillmarkLauncher.exe";
  RunFrameStartup(77);

  ASSERT_EQ(fake.shellRequests.size(), 1u);
  const ShellExecuteRequest& request = fake.shellRequests[0];
  EXPECT_EQ(request.verb, "runas");
  EXPECT_EQ(request.file, "C:\\Downloads\\QuillmarkLauncher.exe"_w);
  EXPECT_FALSE(request.hasParameters);
  EXPECT_FALSE(request.hasDirectory);
  EXPECT_EQ(request.hwnd, 0u);
  EXPECT_EQ(request.nShow, 0);
  EXPECT_EQ(request.cbSize, 60u);
  EXPECT_EQ(request.fMask, 0x440u);
  // Rights test, module path, the request: no scan, no box, no process.
  EXPECT_EQ(fake.calls, (std::vector<std::string>{
                            "IsUserAnAdmin()", "GetModuleFileName()",
                            "ShellExecuteEx(\"runas\", \"C:\\Downloads\\QuillmarkLauncher.exe\")"}));
  EXPECT_FALSE(LauncherState.keepRunning);
}

TEST_F(StartupTest, AdministratorMakesNoRelaunchRequest) {
  fake.admin = true;
  RunFrameStartup(77);
  EXPECT_TRUE(fake.shellRequests.empty());
}

struct RectCase {
  int width, height;
  FrameRect expected;
};

TEST_F(StartupTest, FrameIsPlacedAsIfCentredAt800By600) {
  const RectCase cases[] = {
      {1024, 768, {112, 84, 512, 669}},
      {799, 600, {0, 0, 400, 585}},     // -1 / 2 truncates toward zero
      {640, 480, {-80, -60, 320, 525}},  // negative origins
  };
  for (const RectCase& c : cases) {
    fake.screenWidth = c.width;
    fake.screenHeight = c.height;
    FrameRect rect = ComputeFrameRect();
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(rect.left, c.expected.left);
    EXPECT_EQ(rect.top, c.expected.top);
    EXPECT_EQ(rect.right, c.expected.right);
    EXPECT_EQ(rect.bottom, c.expected.bottom);
    EXPECT_EQ(LauncherState.screenWidth, c.width);
    EXPECT_EQ(LauncherState.screenHeight, c.height);
  }
}

TEST_F(StartupTest, OsClassFollowsTheReportedVersion) {
  struct Row {
    std::uint32_t major, minor;
    std::int32_t osClass;
  };
  const Row rows[] = {{5, 0, 100}, {5, 1, 101}, {5, 2, 101}, {6, 0, 102},
                      {6, 1, 103}, {6, 2, 100}, {10, 0, 100}, {6, 3, 100}};
  for (const Row& row : rows) {
    fake.version = OsVersion{row.major, row.minor, 0};
    EXPECT_EQ(GetOsClass(), row.osClass) << row.major << "." << row.minor;
  }
}

TEST_F(StartupTest, FailingVersionQueryClassifiesAsOther) {
  fake.version.reset();
  EXPECT_EQ(GetOsClass(), 100);
}

TEST_F(StartupTest, StateStartsWithItsInitialValues) {
  EXPECT_EQ(LauncherState.toolCode, -1);
  EXPECT_EQ(LauncherState.osClass, -1);
  EXPECT_EQ(LauncherState.firstEntryIndex, -1);
  EXPECT_FALSE(LauncherState.keepRunning);
  EXPECT_FALSE(LauncherState.windowSeen);
  EXPECT_EQ(LauncherState.extractedCount, 0);
  for (const WidePath& path : LauncherState.extractedFiles) EXPECT_TRUE(path.Empty());
  EXPECT_TRUE(LauncherState.containerPath.Empty());
}

}  // namespace
}  // namespace qm
