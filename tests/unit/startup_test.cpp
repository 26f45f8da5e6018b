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
  fake.dosDevices["C:"] = "\\Device\\HarddiskVolume2";
  fake.foregroundWindow = 0x3C;  // the folder the user started the launcher from
  RunFrameStartup(77);

  ASSERT_EQ(fake.shellRequests.size(), 1u);
  const ShellExecuteRequest& request = fake.shellRequests[0];
  EXPECT_EQ(request.verb, "runas");
  EXPECT_EQ(request.file, "C:\\Downloads\\QuillmarkLauncher.exe"_w);
  EXPECT_EQ(request.parameters, u"/elevated");        // the marker, so that it cannot start another
  EXPECT_EQ(request.directory, "C:\\Downloads"_w);    // not the system folder
  EXPECT_EQ(request.hwnd, 0x3Cu);  // so that the consent prompt comes to the front
  EXPECT_EQ(request.nShow, 0);
  EXPECT_EQ(request.cbSize, 60u);
  EXPECT_EQ(request.fMask, 0x540u);  // NOCLOSEPROCESS | FLAG_NO_UI | NOASYNC
  // Rights test, marker, module path, its drive, the request: no scan, no
  // box, no process.
  EXPECT_EQ(fake.calls, (std::vector<std::string>{
                            "IsUserAnAdmin()", "GetCommandLine()", "GetModuleFileName()", "QueryDosDevice(\"C:\")",
                            "GetDriveType(\"C:\\\")", "GetVersionEx()", "GetForegroundWindow()",
                            "ShellExecuteEx(\"runas\", \"C:\\Downloads\\QuillmarkLauncher.exe\")"}));
  EXPECT_FALSE(LauncherState.keepRunning);

  // XP's Run As dialog would be modal to the window named: none.
  fake.version = OsVersion{5, 1, 2600};
  RunFrameStartup(77);
  EXPECT_EQ(fake.shellRequests.back().hwnd, 0u);
}

TEST_F(StartupTest, ElevationThatFailsForAnyReasonButADeclineSaysSo) {
  fake.admin = false;
  // Declined; access denied; the share unreachable; a path too long; refused by policy.
  for (const std::uint32_t error : {1223u, 5u, 53u, 206u, 1260u}) {
    SCOPED_TRACE(error);
    fake.shellExecuteError = error;
    fake.messageBoxes.clear();
    RunFrameStartup(77);
    ASSERT_EQ(fake.messageBoxes.size(), error == 1223u ? 0u : 1u);
    if (error != 1223u) {
      EXPECT_EQ(fake.messageBoxes[0].text, "Quillmark Needs Administrator Rights");
    }
  }
  EXPECT_EQ(fake.shellRequests.size(), 5u);  // one request a run, never a retry
}

TEST_F(StartupTest, CopyStartedWithTheMarkerThatLacksTheRightsSaysSoAndStartsNothing) {
  fake.admin = false;
  struct Row {
    const char* commandLine;
    bool marked;
  };
  const Row rows[] = {
      {"\"C:\\Repair\\QuillmarkLauncher.exe\" /elevated", true},
      {"C:\\Repair\\QuillmarkLauncher.exe\t/elevated", true},
      {"QuillmarkLauncher.exe other  /elevated ", true},  // typed by a user: the same safe end
      {"\"C:\\Repair\\QuillmarkLauncher.exe\"", false},
      {"\"C:\\a /elevated\\QuillmarkLauncher.exe\"", false},  // inside the program's own name
      {"QuillmarkLauncher.exe /elevatedx", false},
      {"/elevated", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.commandLine);
    fake.commandLine = row.commandLine;
    fake.shellRequests.clear();
    fake.messageBoxes.clear();
    RunFrameStartup(77);
    EXPECT_EQ(fake.shellRequests.size(), row.marked ? 0u : 1u);
    ASSERT_EQ(fake.messageBoxes.size(), row.marked ? 1u : 0u);
    if (row.marked) {
      EXPECT_EQ(fake.messageBoxes[0].text, "Quillmark Needs Administrator Rights");
      EXPECT_EQ(fake.messageBoxes[0].caption, "Quillmark");
      EXPECT_EQ(fake.messageBoxes[0].type, 0x50010u);
      EXPECT_EQ(fake.messageBoxes[0].owner, 77u);
    }
  }
  EXPECT_FALSE(LauncherState.keepRunning);
}

TEST_F(StartupTest, CopyOnAMappedOrSubstDriveIsStartedByThePathTheElevatedCopySees) {
  fake.admin = false;
  fake.driveTypes["Z:\\"] = 4;  // DRIVE_REMOTE
  fake.connections["Z:"] = "\\\\server\\share";
  fake.dosDevices["S:"] = "\\??\\C:\\work";           // subst S: C:\work
  fake.dosDevices["R:"] = "\\??\\Z:\\";               // subst R: Z:\ (the mapped drive)
  fake.dosDevices["U:"] = "\\??\\UNC\\nas\\x";       // a letter defined for a share
  fake.dosDevices["V:"] = "\\??\\Volume{5d1c}\\";     // no path: left to the system
  fake.dosDevices["C:"] = "\\Device\\HarddiskVolume2";
  fake.dosDevices["Z:"] = "\\Device\\LanmanRedirector\\;Z:0000\\server\\share";
  struct Row {
    const char* modulePath;
    const char* file;
    const char* directory;
  };
  const Row rows[] = {
      {"Z:\\tools\\QuillmarkLauncher.exe", "\\\\server\\share\\tools\\QuillmarkLauncher.exe", "\\\\server\\share\\tools"},
      {"Z:\\QuillmarkLauncher.exe", "\\\\server\\share\\QuillmarkLauncher.exe", "\\\\server\\share"},
      {"C:\\QuillmarkLauncher.exe", "C:\\QuillmarkLauncher.exe", "C:\\"},  // a drive's root as its root
      {"\\\\nas\\x\\QuillmarkLauncher.exe", "\\\\nas\\x\\QuillmarkLauncher.exe", "\\\\nas\\x"},
      {"S:\\tools\\QuillmarkLauncher.exe", "C:\\work\\tools\\QuillmarkLauncher.exe", "C:\\work\\tools"},
      {"R:\\QuillmarkLauncher.exe", "\\\\server\\share\\QuillmarkLauncher.exe", "\\\\server\\share"},
      {"U:\\QuillmarkLauncher.exe", "\\\\nas\\x\\QuillmarkLauncher.exe", "\\\\nas\\x"},
      {"V:\\QuillmarkLauncher.exe", "V:\\QuillmarkLauncher.exe", "V:\\"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.modulePath);
    fake.modulePath = row.modulePath;
    fake.shellRequests.clear();
    RunFrameStartup(77);
    ASSERT_EQ(fake.shellRequests.size(), 1u);
    EXPECT_EQ(fake.shellRequests[0].file, WidePathFromUtf8(row.file));
    EXPECT_EQ(fake.shellRequests[0].directory, WidePathFromUtf8(row.directory));
  }
  // A connection that cannot be read leaves the path as it is.
  for (const bool mprMissing : {true, false}) {
    fake.mprMissing = mprMissing;
    fake.connections["Z:"] = mprMissing ? "\\\\server\\share" : "not a UNC name";
    EXPECT_EQ(RelaunchPath("Z:\\tools\\QuillmarkLauncher.exe"_w), "Z:\\tools\\QuillmarkLauncher.exe"_w);
  }
  fake.mprMissing = false;
  fake.connections["Z:"] = "\\\\server\\share\\";  // a trailing backslash is not doubled
  EXPECT_EQ(RelaunchPath("Z:\\t\\Q.exe"_w), "\\\\server\\share\\t\\Q.exe"_w);
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
