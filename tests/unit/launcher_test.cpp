// Recognition, tool start and the window watch, against the fake platform
// and the simulated USB stack.
#include <gtest/gtest.h>

#include <functional>

#include "app/LauncherState.h"
#include "app/StartSequence.h"
#include "app/Startup.h"
#include "app/Watch.h"
#include "container/ContainerState.h"
#include "container/Writer.h"
#include "tests/fake/FakePlatform.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace qm {
namespace {

constexpr WindowHandle kFrame = 0x77;

std::string Drive(int vendor, int product, int deviceClass = 0) {
  return R"({"device": {"idVendor": )" + std::to_string(vendor) + R"(, "idProduct": )" + std::to_string(product) +
         R"(, "deviceClass": )" + std::to_string(deviceClass) + "}}";
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLauncherState();
    ResetContainerState();
    ResetUsbScanState();
  }
  void TearDown() override {
    ResetLauncherState();  // gives up a tool process handle of this test's fake
    SetPlatform({});
  }

 public:
  // A machine whose root hub carries `ports` (JSON port objects).
  void Machine(const std::string& ports) {
    stack = std::make_unique<sim::UsbSimStack>(sim::UsbSimStack::FromJson(
        R"({"controllers": [{"number": 0, "rootHub": {"ports": [)" + ports + "]}}]}"));
    SetPlatform(sim::WithSimulatedStack(PlatformOf(fake), *stack));
  }
  // A container beside the launcher with one entry per tool.
  void Container(const std::string& title = "Tool Window", const char* lastName = "Elm_5.exe") {
    std::vector<PackEntry> entries;
    for (const char* name : {"Alder.exe", "Birch_2.exe", "Cedar_3.exe", "Cedar_4.exe", lastName}) {
      std::string bytes = std::string("MZ") + name;
      entries.push_back({name, {bytes.begin(), bytes.end()}, {title}});
    }
    const PackResult packed = BuildContainer(entries);
    fake.files["C:\\Repair\\QM_File.ini"].data.assign(packed.image.begin(), packed.image.end());
  }
  // One message box with `text`, as every box of the launcher is shown.
  void ExpectOneBox(const std::string& text) const {
    ASSERT_EQ(fake.messageBoxes.size(), 1u);
    EXPECT_EQ(fake.messageBoxes[0].text, text);
    EXPECT_EQ(fake.messageBoxes[0].caption, "Quillmark");
    EXPECT_EQ(fake.messageBoxes[0].type, 0x50010u);  // MB_OK | MB_ICONHAND, in front of every window
    EXPECT_EQ(fake.messageBoxes[0].owner, kFrame);
  }
  std::vector<std::string> CallsNamed(const std::string& name) const {
    std::vector<std::string> out;
    for (const std::string& call : fake.calls) {
      if (call.compare(0, name.size() + 1, name + "(") == 0) out.push_back(call);
    }
    return out;
  }

  test::FakePlatform fake;
  std::unique_ptr<sim::UsbSimStack> stack;
};

// --- recognition ---

TEST_F(LauncherTest, NoRecognisedControllerShowsTheMessageAndOpensNothing) {
  Machine(Drive(0x048D, 0x1169) + ", {}");
  Container();
  RunStartSequence(kFrame);
  ExpectOneBox("Quillmark Device Not Found");
  EXPECT_EQ(fake.CountCalls("GetVersionEx"), 0);
  EXPECT_EQ(fake.CountCalls("GetModuleFileName"), 0);
  EXPECT_EQ(fake.CountCalls("CreateFile"), 0);
  EXPECT_FALSE(LauncherState.keepRunning);
  EXPECT_EQ(LauncherState.toolCode, -1);
}

TEST_F(LauncherTest, FirstRecognisedRecordDecides) {
  // A built-in camera of a listed vendor (class 0xEF) is passed over like an unknown id.
  Machine(Drive(0x048D, 0x1169) + ", " + Drive(0x090C, 0x37BC, 0xEF) + ", " + Drive(0x1307, 1) + ", " +
          Drive(0x13FE, 2));
  ScanUsbDevices();
  EXPECT_TRUE(SelectToolCode());
  EXPECT_EQ(LauncherState.toolCode, 2000);
}

TEST_F(LauncherTest, RecognitionTable) {
  struct Row {
    int vendor, product, deviceClass, code;
  };
  const Row rows[] = {{0x13FE, 7, 0, 1000},      {0x1307, 0, 0, 2000},         {0x048D, 0x1167, 0, 3000},
                      {0x048D, 0x1168, 0, 3001}, {0x090C, 0xFFFF, 0, 4000},    {0x048D, 0x1169, 0, -1},
                      // Classes a drive declares: mass storage, vendor-specific (a maker's own mode).
                      {0x13FE, 7, 0x08, 1000},   {0x090C, 0x1000, 0xFF, 4000},
                      // A fingerprint reader or card reader declaring 0/0/0 cannot be told from a drive.
                      {0x1307, 0x1171, 0, 2000},
                      // Classes no flash drive declares: camera or composite, wireless, hub, video.
                      {0x090C, 0x37BC, 0xEF, -1}, {0x1307, 1, 0xE0, -1},     {0x13FE, 7, 0x09, -1},
                      {0x048D, 0x1167, 0x0E, -1}};
  for (const Row& row : rows) {
    ResetLauncherState();
    ResetUsbScanState();
    Machine(Drive(row.vendor, row.product, row.deviceClass));
    ScanUsbDevices();
    EXPECT_EQ(SelectToolCode(), row.code != -1);
    EXPECT_EQ(LauncherState.toolCode, row.code)
        << std::hex << row.vendor << ":" << row.product << " class " << row.deviceClass;
  }
}

TEST_F(LauncherTest, MissingContainerShowsTheSecondMessageAndWritesNothing) {
  Machine(Drive(0x090C, 1));
  RunStartSequence(kFrame);
  ExpectOneBox("\" QM_File.ini \" Not Found");
  EXPECT_EQ(CallsNamed("CreateFile"), (std::vector<std::string>{
                                          "CreateFile(\"C:\\Repair\\QM_File.ini\", 2147483648, 1, 3, 128)"}));
  EXPECT_EQ(fake.CountCalls("WriteFile"), 0);
  EXPECT_FALSE(LauncherState.keepRunning);
}

// --- tool start ---

TEST_F(LauncherTest, ToolCode1000RunsToItsEndAndIsDeleted) {
  Machine(Drive(0x13FE, 1));
  Container();
  RunStartSequence(kFrame);
  EXPECT_EQ(LauncherState.extractedCount, 1);
  EXPECT_EQ(LauncherState.extractedFiles[0], "C:\\Repair\\Alder.exe"_w);
  ASSERT_EQ(fake.processRequests.size(), 1u);
  const ProcessRequest& process = fake.processRequests[0];
  EXPECT_EQ(process.applicationName, "C:\\Repair\\Alder.exe"_w);
  EXPECT_EQ(process.commandLine, u"\"C:\\Repair\\Alder.exe\"");
  EXPECT_TRUE(process.inheritHandles);
  EXPECT_EQ(process.creationFlags, 0x20u);
  EXPECT_EQ(process.startupInfoSize, 68u);
  EXPECT_EQ(process.currentDirectory, "C:\\Repair"_w);  // its own folder, not the launcher's current one
  // The launch delay, the wait after the tool, and the first delete attempt.
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{500, 2000, 500}));
  EXPECT_EQ(CallsNamed("MsgWaitForSingleObject"), (std::vector<std::string>{"MsgWaitForSingleObject(4294967295)"}));
  EXPECT_EQ(fake.calls.back(), "DeleteFile(\"C:\\Repair\\Alder.exe\")");
  EXPECT_EQ(fake.files.count("C:\\Repair\\Alder.exe"), 0u);
  EXPECT_EQ(fake.CountCalls("SetTimer"), 0);
  EXPECT_FALSE(LauncherState.keepRunning);
  EXPECT_EQ(fake.openHandles(), 0);
}

TEST_F(LauncherTest, ToolCode4000StartsWithoutWaitingAndArmsTheWatch) {
  Machine(Drive(0x090C, 1));
  Container();
  RunStartSequence(kFrame);
  EXPECT_EQ(fake.files["C:\\Repair\\Elm_5.exe"].data, "MZElm_5.exe");
  EXPECT_EQ(CallsNamed("WaitForSingleObject"), (std::vector<std::string>{"WaitForSingleObject(0)"}));
  EXPECT_EQ(CallsNamed("SetTimer"), (std::vector<std::string>{"SetTimer(119, 4000, 1000)"}));
  EXPECT_TRUE(LauncherState.keepRunning);
  EXPECT_FALSE(LauncherState.windowSeen);
  EXPECT_EQ(LauncherState.firstEntryIndex, 4);
}

TEST_F(LauncherTest, Code3001WritesItsNameBesideTheLauncher) {
  Machine(Drive(0x048D, 0x1168));
  Container();
  RunStartSequence(kFrame);
  EXPECT_EQ(LauncherState.extractedFiles[0], "C:\\Repair\\Cedar_048D_1168.exe"_w);
  EXPECT_EQ(CallsNamed("SetTimer"), (std::vector<std::string>{"SetTimer(119, 3001, 1000)"}));
  EXPECT_EQ(CallsNamed("MsgWaitForSingleObject"), (std::vector<std::string>{"MsgWaitForSingleObject(4294967295)"}));
}

// --- a tool that cannot be written or started ---

TEST_F(LauncherTest, ToolThatCannotBeWrittenOrStartedIsReportedDeletedAndNeverWatched) {
  const std::string tool = "C:\\Repair\\Elm_5.exe";
  struct Row {
    const char* what;
    std::function<void(LauncherTest&)> arrange;
    bool toolTried;  // CreateProcess was called
  };
  const Row rows[] = {
      {"no entry", [](LauncherTest& t) { t.fake.files.erase("C:\\Repair\\QM_File.ini"); t.Container("T", "Elm_4.exe"); },
       false},
      {"entry outside the file", [](LauncherTest& t) { t.fake.files["C:\\Repair\\QM_File.ini"].data.pop_back(); }, false},
      {"a file that stays",  // held open without delete sharing, or a folder
       [&](LauncherTest& t) {
         t.fake.files[tool].data = "planted";
         t.fake.files[tool].deleteFailures = 99;
         t.fake.files[tool].renameFails = true;
       },
       false},
      {"a full disk", [](LauncherTest& t) { t.fake.diskFree = 3; }, false},
      {"swapped before the start",
       [&](LauncherTest& t) {
         t.fake.onCloseFile = [&](const std::string& path) {
           if (path == tool && t.fake.files[path].data != "swapped") t.fake.files[path].data = "swapped";
         };
       },
       false},
      {"not a program", [](LauncherTest& t) { t.fake.processCreationFails = true; }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    fake = test::FakePlatform();
    Machine(Drive(0x090C, 1));
    Container();
    row.arrange(*this);
    RunStartSequence(kFrame);
    ExpectOneBox("\" Elm_5.exe \" Could Not Be Started");
    EXPECT_EQ(fake.CountCalls("CreateProcess"), row.toolTried ? 1 : 0);
    EXPECT_EQ(fake.CountCalls("SetTimer"), 0);
    EXPECT_FALSE(LauncherState.keepRunning);
    const bool planted = std::string(row.what) == "a file that stays";
    EXPECT_EQ(fake.files.count(tool), planted ? 1u : 0u);
    if (planted) {
      EXPECT_EQ(fake.files[tool].data, "planted");
    }
    EXPECT_EQ(fake.openHandles(), 0);
  }
}

TEST_F(LauncherTest, Code1000ThatCannotStartNeitherWaitsNorSleeps) {
  Machine(Drive(0x13FE, 1));
  Container();
  fake.processCreationFails = true;
  RunStartSequence(kFrame);
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{500, 500}));  // the launch delay, one delete attempt
  EXPECT_EQ(fake.messageBoxes.at(0).text, "\" Alder.exe \" Could Not Be Started");
  EXPECT_EQ(fake.files.count("C:\\Repair\\Alder.exe"), 0u);
}

TEST_F(LauncherTest, ToolFileIsHeldUnchangedUntilTheStartHasReturned) {
  Machine(Drive(0x090C, 1));
  Container();
  bool heldDuringStart = false;
  fake.onCreateProcess = [&](const ProcessRequest&) { heldDuringStart = fake.IsOpen("C:\\Repair\\Elm_5.exe"); };
  RunStartSequence(kFrame);
  EXPECT_TRUE(heldDuringStart);
  EXPECT_FALSE(fake.IsOpen("C:\\Repair\\Elm_5.exe"));
  EXPECT_EQ(fake.openHandles(), 1);  // the running tool's process, for the watch
  EXPECT_TRUE(LauncherState.toolProcess.Valid());
}

TEST_F(LauncherTest, WaitForTheToolAnswersMessagesAndKeepsAQuitForTheMainLoop) {
  Machine(Drive(0x1307, 1));
  Container();
  fake.queue = {{}, {true, 7}, {}};
  RunStartSequence(kFrame);
  EXPECT_EQ(CallsNamed("DispatchNextMessage"),
            (std::vector<std::string>{"DispatchNextMessage()", "DispatchNextMessage(quit 7)", "DispatchNextMessage()"}));
  EXPECT_EQ(CallsNamed("PostQuitMessage"), (std::vector<std::string>{"PostQuitMessage(7)"}));
  EXPECT_EQ(fake.CountCalls("MsgWaitForSingleObject"), 2);  // input, then the tool's end
  EXPECT_EQ(CallsNamed("SetTimer"), (std::vector<std::string>{"SetTimer(119, 2000, 1000)"}));
}

TEST_F(LauncherTest, FrameClosedWhileTheToolRanOrNeverCreatedEndsTheLauncherAsTheWatchWould) {
  for (const WindowHandle frame : {kFrame, WindowHandle{0}}) {
    SetUp();
    fake = test::FakePlatform();
    Machine(Drive(0x090C, 1));
    Container();
    fake.timerFails = frame == kFrame;  // closed meanwhile; without a window no timer is even asked for
    RunStartSequence(frame);
    EXPECT_FALSE(LauncherState.keepRunning);
    EXPECT_EQ(fake.files.count("C:\\Repair\\Elm_5.exe"), 0u);
    EXPECT_EQ(fake.openHandles(), 0);
    EXPECT_EQ(fake.CountCalls("SetTimer"), frame == kFrame ? 1 : 0);
  }
}

TEST_F(LauncherTest, LoopEndedByACloseOrAKeptQuitStillRemovesTheTool) {
  // WM_CLOSE to the frame during a code 4000 watch.
  Machine(Drive(0x090C, 1));
  Container();
  RunStartSequence(kFrame);
  FinishAfterMessageLoop(kFrame);
  EXPECT_EQ(CallsNamed("KillTimer"), (std::vector<std::string>{"KillTimer(119, 4000)"}));
  EXPECT_EQ(fake.files.count("C:\\Repair\\Elm_5.exe"), 0u);
  EXPECT_EQ(fake.openHandles(), 0);
  // A WM_QUIT taken while waiting for a code 2000 tool ends the loop at once.
  SetUp();
  fake = test::FakePlatform();
  Machine(Drive(0x1307, 1));
  Container();
  fake.queue = {{true, 3}};
  RunStartSequence(kFrame);
  ASSERT_EQ(CallsNamed("PostQuitMessage"), (std::vector<std::string>{"PostQuitMessage(3)"}));
  FinishAfterMessageLoop(kFrame);
  EXPECT_EQ(CallsNamed("KillTimer"), (std::vector<std::string>{"KillTimer(119, 2000)"}));
  EXPECT_EQ(fake.files.count("C:\\Repair\\Birch_1307.exe"), 0u);
  // After the watch's own end, or with no tool written, nothing more is done.
  fake.calls.clear();
  FinishAfterMessageLoop(kFrame);
  ResetLauncherState();
  FinishAfterMessageLoop(kFrame);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(LauncherTest, LauncherPathCutShortIsNeitherReadNorWrittenNorRelaunched) {
  fake.modulePath = "C:\\" + std::string(300, 'd') + "\\QuillmarkLauncher.exe";
  Machine(Drive(0x090C, 1));
  Container();
  RunStartSequence(kFrame);
  EXPECT_EQ(fake.messageBoxes.at(0).text, "\" QM_File.ini \" Not Found");
  EXPECT_EQ(fake.CountCalls("CreateFile"), 0);
  EXPECT_FALSE(LauncherState.keepRunning);
  fake.admin = false;
  fake.messageBoxes.clear();
  RunFrameStartup(kFrame);
  EXPECT_EQ(fake.CountCalls("ShellExecuteEx"), 0);
  ExpectOneBox("\" QM_File.ini \" Not Found");  // without rights, the same message
}

TEST_F(LauncherTest, PathWithASpaceIsStartedByItsExactPathQuoted) {
  fake.modulePath = "C:\\Repair Tools\\QuillmarkLauncher.exe";
  SetPlatform(PlatformOf(fake));
  LaunchNoWait(103, "C:\\Repair Tools\\Elm_5.exe"_w);
  ASSERT_EQ(fake.processRequests.size(), 1u);
  EXPECT_EQ(fake.processRequests[0].applicationName, "C:\\Repair Tools\\Elm_5.exe"_w);
  EXPECT_EQ(fake.processRequests[0].commandLine, u"\"C:\\Repair Tools\\Elm_5.exe\"");
}

TEST_F(LauncherTest, LaunchOutsideTheOsClassesStartsNothing) {
  SetPlatform(PlatformOf(fake));
  LaunchAndWait(-1, "C:\\x.exe"_w);
  LaunchNoWait(104, "C:\\x.exe"_w);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(LauncherTest, LauncherInAnyFolderUsesItsExactWidePath) {
  EXPECT_EQ(LauncherDirectory("C:\\工具\\Q.exe"_w), "C:\\工具"_w);
  EXPECT_EQ(LauncherDirectory("NoBackslash.exe"_w), WidePath());
  for (const std::string folder : {"C:\\qm-Иван", "D:\\工具", "C:\\Users\\Paweł"}) {
    SetUp();
    fake = test::FakePlatform();
    fake.modulePath = folder + "\\QuillmarkLauncher.exe";
    Machine(Drive(0x090C, 1));
    Container();
    fake.files[folder + "\\QM_File.ini"] = fake.files["C:\\Repair\\QM_File.ini"];
    RunStartSequence(kFrame);
    EXPECT_TRUE(fake.messageBoxes.empty()) << folder;
    ASSERT_EQ(fake.processRequests.size(), 1u) << folder;
    EXPECT_EQ(fake.processRequests[0].applicationName, WidePathFromUtf8(folder + "\\Elm_5.exe"));
    // Every path the seam was handed lies in that folder, unit for unit.
    const std::u16string directory = WidePathFromUtf8(folder + "\\").Units();
    for (const WidePath& path : fake.widePaths) EXPECT_EQ(path.Units().compare(0, directory.size(), directory), 0);
  }
}

// --- the watch ---

class WatchTest : public LauncherTest {
 protected:
  void Start(const std::string& title = "Tool Window", int vendor = 0x090C) {
    Machine(Drive(vendor, 1));
    Container(title);
    fake.windows = {{kFrame, "Repeat To Write Files Function Test"}, {0x10, "Desktop"}};
    RunStartSequence(kFrame);
    fake.calls.clear();
    fake.sleeps.clear();
  }
  void Tick(std::uintptr_t id = 4000) { WatchTick(kFrame, id); }
};

TEST_F(WatchTest, TitleRule) {
  SetPlatform(PlatformOf(fake));
  EXPECT_TRUE(TitleContains("Tool", "Tool"));
  EXPECT_TRUE(TitleContains("My Tool 2", "Tool"));
  EXPECT_TRUE(TitleContains("Toolbox", "Tool"));
  EXPECT_FALSE(TitleContains("tool", "Tool"));
  EXPECT_TRUE(TitleContains("", ""));
  EXPECT_FALSE(TitleContains("To", "Tool"));
  fake.codePage = 932;
  EXPECT_FALSE(TitleContains("\x83\x5C", "\x5C"));  // only from a trail byte on
  EXPECT_TRUE(TitleContains("a\x83\x5C", "\x83\x5C"));
  fake.codePage = 1252;
  EXPECT_TRUE(TitleContains("\x83\x5C", "\x5C"));
}

TEST_F(WatchTest, WindowSeenThenGoneFinishesTheWatch) {
  Start();
  Tick();
  EXPECT_FALSE(LauncherState.windowSeen);  // waiting
  fake.windows.push_back({0x20, "My Tool Window 2"});
  Tick();
  EXPECT_TRUE(LauncherState.windowSeen);  // seen
  Tick();
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
  fake.windows.pop_back();
  Tick();  // gone: finished within this tick
  EXPECT_EQ(CallsNamed("KillTimer"), (std::vector<std::string>{"KillTimer(119, 4000)"}));
  EXPECT_EQ(CallsNamed("DeleteFile"), (std::vector<std::string>{"DeleteFile(\"C:\\Repair\\Elm_5.exe\")"}));
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{500}));
  EXPECT_EQ(CallsNamed("DestroyWindow"), (std::vector<std::string>{"DestroyWindow(119)"}));
  EXPECT_EQ(fake.calls.back(), "DestroyWindow(119)");
}

TEST_F(WatchTest, LockedFileIsTriedThreeTimesThenLeftForTheNextRestartByAPathWindowsStillKnowsThen) {
  Start();
  fake.files["C:\\Repair\\Elm_5.exe"].deleteFailures = 5;
  fake.windows.push_back({0x20, "Tool Window"});
  Tick();
  fake.windows.pop_back();
  Tick();
  EXPECT_EQ(fake.CountCalls("DeleteFile"), 3);
  EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{500, 500, 500}));
  EXPECT_EQ(fake.files.count("C:\\Repair\\Elm_5.exe"), 1u);
  EXPECT_EQ(fake.scheduledRemovals, std::vector<std::string>{"C:\\Repair\\Elm_5.exe"});
  EXPECT_EQ(fake.CountCalls("DestroyWindow"), 1);
  // A file already gone (the tool removed itself) is nothing to schedule.
  ResetLauncherState();
  fake.scheduledRemovals.clear();
  LauncherState.extractedFiles[0] = "C:\\Repair\\gone.exe"_w;
  LauncherState.extractedCount = 1;
  DeleteExtractedFiles();
  EXPECT_TRUE(fake.scheduledRemovals.empty());
  // Windows cannot delete a file on a share at its start: none is
  // scheduled. A removable drive's is, for when it is attached then. A
  // subst letter is gone by then (it belongs to a logon session): the file
  // is scheduled by the path the letter stands for, or not at all.
  fake.driveTypes["Z:\\"] = 4;  // DRIVE_REMOTE
  fake.driveTypes["E:\\"] = 2;  // DRIVE_REMOVABLE
  fake.dosDevices["S:"] = "\\??\\C:\\work";
  fake.dosDevices["U:"] = "\\??\\UNC\\nas\\x";
  fake.dosDevices["V:"] = "\\??\\Volume{4c1b02c1-d990-11dc-99ae-806e6f6e6963}";
  const std::pair<const char*, const char*> rows[] = {
      {"\\\\nas\\x\\Elm_5.exe", nullptr}, {"\\\\?\\UNC\\nas\\x\\Elm_5.exe", nullptr}, {"Z:\\Elm_5.exe", nullptr},
      {"E:\\Elm_5.exe", "E:\\Elm_5.exe"},   {"S:\\t\\Elm_5.exe", "C:\\work\\t\\Elm_5.exe"},
      {"U:\\Elm_5.exe", nullptr},             {"V:\\Elm_5.exe", nullptr},
      {"\\\\?\\S:\\t\\Elm_5.exe", "\\\\?\\C:\\work\\t\\Elm_5.exe"}, {"\\\\?\\U:\\Elm_5.exe", nullptr},
      {"\\\\?\\E:\\Elm_5.exe", "\\\\?\\E:\\Elm_5.exe"}};
  for (const auto& [path, scheduled] : rows) {
    fake.scheduledRemovals.clear();
    fake.files[path].deleteFailures = 5;
    LauncherState.extractedFiles[0] = WidePathFromUtf8(path);
    LauncherState.extractedCount = 1;
    DeleteExtractedFiles();
    EXPECT_EQ(fake.scheduledRemovals, scheduled ? std::vector<std::string>{scheduled} : std::vector<std::string>{})
        << path;
  }
}

TEST_F(WatchTest, OtherTimersAndTitlesThatNeverAppearChangeNothing) {
  Start();
  Tick(1234);
  EXPECT_TRUE(fake.calls.empty());
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
  EXPECT_EQ(fake.CountCalls("EnumWindows"), 5);
}

TEST_F(WatchTest, OwnWindowAndEmptyTitleKeepTheWatchSeen) {
  Start("Function Test");
  for (int i = 0; i < 3; ++i) Tick();
  EXPECT_TRUE(LauncherState.windowSeen);
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
  ResetLauncherState();
  ResetContainerState();
  Start("");
  Tick();
  Tick();
  EXPECT_TRUE(LauncherState.windowSeen);
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
}

TEST_F(WatchTest, TargetBeyond255BytesIsNotFound) {
  Start("NEEDLE");
  fake.windows.push_back({0x20, std::string(250, 'x') + "NEEDLE"});  // 256 bytes: its last is cut
  Tick();
  EXPECT_FALSE(LauncherState.windowSeen);
  fake.windows.back().title = std::string(249, 'x') + "NEEDLE";  // 255 bytes: read whole
  Tick();
  EXPECT_TRUE(LauncherState.windowSeen);
}

TEST_F(WatchTest, MissingEntryOrTitleEndsTheWatchAtTheFirstTick) {
  Start();
  ContainerState.entries[static_cast<std::size_t>(LauncherState.firstEntryIndex)].findHwnd.clear();
  Tick();
  EXPECT_EQ(fake.CountCalls("EnumWindows"), 0);
  EXPECT_EQ(CallsNamed("KillTimer"), (std::vector<std::string>{"KillTimer(119, 4000)"}));
  EXPECT_EQ(fake.CountCalls("DeleteFile"), 1);
  EXPECT_EQ(fake.CountCalls("DestroyWindow"), 1);
  ResetLauncherState();
  fake.calls.clear();
  LauncherState.firstEntryIndex = -1;
  Tick();
  EXPECT_EQ(fake.CountCalls("DestroyWindow"), 1);
}

TEST_F(WatchTest, WindowThatNeverComesEndsTheWatchAMinuteAfterTheTickThatFoundTheToolEnded) {
  fake.processRunning = true;
  Start();
  const std::uint32_t began = fake.tickCount;
  fake.tickCount = began + 120000;
  Tick();  // the tool has run two minutes and still runs: no limit
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
  fake.processRunning = false;
  const std::uint32_t ended = began + 121000;
  fake.tickCount = ended;
  Tick();  // the first tick that finds it ended: the minute starts here
  fake.tickCount = ended + 59999;
  Tick();
  EXPECT_EQ(fake.CountCalls("KillTimer"), 0);
  fake.tickCount = ended + 60000;
  Tick();
  EXPECT_EQ(CallsNamed("KillTimer"), (std::vector<std::string>{"KillTimer(119, 4000)"}));
  EXPECT_EQ(fake.files.count("C:\\Repair\\Elm_5.exe"), 0u);
  EXPECT_EQ(fake.calls.back(), "DestroyWindow(119)");
  EXPECT_EQ(fake.openHandles(), 0);  // the tool's process handle too
}

TEST_F(WatchTest, WaitedForToolHasEndedSoOnlyTheMinuteCountsAndASeenWindowHasNoLimit) {
  Start("Tool Window", 0x1307);  // code 2000: the watch begins once the tool has ended
  fake.tickCount += 60000;
  Tick(2000);
  EXPECT_EQ(fake.CountCalls("DestroyWindow"), 1);

  ResetLauncherState();
  ResetContainerState();
  Start("Tool Window", 0x1307);
  fake.windows.push_back({0x20, "Tool Window"});
  Tick(2000);
  fake.tickCount += 3600000;
  Tick(2000);
  EXPECT_EQ(fake.CountCalls("DestroyWindow"), 0);
}

}  // namespace
}  // namespace qm
