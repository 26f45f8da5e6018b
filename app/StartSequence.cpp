// The administrator branch of the start-up: scan the USB ports, recognise
// the controller, load the container, extract the tool, start it.
#include "app/StartSequence.h"

#include "app/LauncherState.h"
#include "app/Startup.h"
#include "app/ToolTable.h"
#include "container/ContainerState.h"
#include "platform/OwnedHandle.h"
#include "usb/UsbScan.h"

namespace qm {

const char kCaption[] = "Quillmark";
const char kDeviceNotFound[] = "Quillmark Device Not Found";
const char kContainerNotFound[] = "\" QM_File.ini \" Not Found";
const char kRightsNeeded[] = "Quillmark Needs Administrator Rights";

namespace {

// The box comes to the front above every window: it is owned by a hidden
// frame, so it has no taskbar button, and an elevated copy's box would
// otherwise open behind the window the user works in, with the launcher
// waiting for a click on a box nobody can find.
constexpr std::uint32_t kMessageType = win::kMbOk | win::kMbIconHand | win::kMbSetForeground | win::kMbTopMost;
constexpr std::uint32_t kLaunchDelayMs = 500;
constexpr std::uint32_t kStartupInfoSize = 68;  // STARTUPINFOA of 32-bit Windows
constexpr std::uint32_t kAfterToolMs = 2000;
constexpr std::uint32_t kWatchPeriodMs = 1000;
constexpr int kDeleteAttempts = 3;
constexpr std::uint32_t kDeleteDelayMs = 500;

// Starts `path` after the launch delay; returns its handles, or none. The
// held file is closed once the start has been tried, on every path.
bool StartProgram(std::int32_t osClass, const WidePath& path, OwnedHandle heldFile, ProcessHandles* handles) {
  if (osClass < kOsOther || osClass > kOsSeven) return false;
  Processes().Sleep(kLaunchDelayMs);
  ProcessRequest request;
  // The exact path as the program to run, and quoted as its command line:
  // an unquoted path with a space would let Windows try a shorter path first.
  request.applicationName = path;
  request.commandLine = u"\"" + path.Units() + u"\"";
  request.inheritHandles = true;
  request.creationFlags = win::kNormalPriorityClass;
  // In its own folder, whatever the launcher's current directory (an
  // elevated copy starts in the system folder): a tool that reads or writes
  // by relative path does it beside itself.
  request.currentDirectory = CurrentDirectoryOf(path.Directory());
  request.startupInfoSize = kStartupInfoSize;
  const bool started = Processes().CreateProcess(request, handles);
  heldFile.Close();  // held until the start has returned
  return started;
}

// Waits for `process` to end while answering the thread's messages, so that
// a program that sends a message to every window is not held up until the
// tool ends. A WM_QUIT taken meanwhile is posted again for the main loop.
void WaitAnsweringMessages(Handle process) {
  bool quit = false;
  int quitCode = 0;
  while (Processes().MsgWaitForSingleObject(process, win::kInfinite) == win::kWaitObject0 + 1) {
    int code = 0;
    for (QueuedMessage taken; (taken = Desktop().DispatchNextMessage(&code)) != QueuedMessage::kNone;) {
      if (taken == QueuedMessage::kQuit) {
        quit = true;
        quitCode = code;
      }
    }
  }
  if (quit) Desktop().PostQuitMessage(quitCode);
}

void RecordExtractedFile(const WidePath& path) {
  if (LauncherState.extractedCount >= 3) return;  // room for three paths, never a fourth
  LauncherState.extractedFiles[LauncherState.extractedCount] = path;
  ++LauncherState.extractedCount;
}

// Writes the tool's bytes as a new file at `toolPath`; a file this run
// created is recorded for deletion. True when every byte was written.
bool WriteTool(const std::vector<std::uint8_t>& bytes, const WidePath& toolPath) {
  const WriteOutcome outcome = WriteNewFile(toolPath, bytes);
  if (outcome != WriteOutcome::kNotCreated) RecordExtractedFile(toolPath);
  return outcome == WriteOutcome::kWhole;
}

// Starts the written tool while its file is held unchanged from the
// comparison with `bytes` to the start. False when the file is not what was
// written or the tool could not be started.
bool LaunchTool(const ToolRow& row, const WidePath& toolPath, const std::vector<std::uint8_t>& bytes) {
  OwnedHandle held = HoldFile(toolPath, bytes);
  if (!held.Valid()) return false;
  if (row.launch == Launch::kAndWait) return LaunchAndWait(LauncherState.osClass, toolPath, std::move(held));
  LauncherState.toolProcess = LaunchNoWait(LauncherState.osClass, toolPath, std::move(held));
  return LauncherState.toolProcess.Valid();
}

// " Elm_5.exe " Could Not Be Started, in the style of the other messages.
std::string ToolNotStartedText(const std::string& fileName) { return "\" " + fileName + " \" Could Not Be Started"; }

// Nothing runs: what this run wrote goes, the user is told, the launcher ends.
void ReportToolNotStarted(WindowHandle frame, const ToolRow& row) {
  DeleteExtractedFiles();
  ShowLauncherMessage(frame, ToolNotStartedText(row.writtenName + 1));  // without the backslash
  LauncherState.keepRunning = false;
}

}  // namespace

void ShowLauncherMessage(WindowHandle frame, const std::string& text) {
  Desktop().MessageBox(frame, text, kCaption, kMessageType);
}

bool LaunchAndWait(std::int32_t osClass, const WidePath& path, OwnedHandle heldFile) {
  ProcessHandles handles;
  if (!StartProgram(osClass, path, std::move(heldFile), &handles)) return false;
  const OwnedHandle thread(handles.thread, Processes());
  const OwnedHandle process(handles.process, Processes());
  WaitAnsweringMessages(process.Get());
  return true;
}

OwnedHandle LaunchNoWait(std::int32_t osClass, const WidePath& path, OwnedHandle heldFile) {
  ProcessHandles handles;
  if (!StartProgram(osClass, path, std::move(heldFile), &handles)) return OwnedHandle();
  const OwnedHandle thread(handles.thread, Processes());
  OwnedHandle process(handles.process, Processes());
  Processes().WaitForSingleObject(process.Get(), 0);  // returns at once
  return process;
}

namespace {

// Up to three attempts, each after the delay; true when the file is gone.
bool DeleteWithRetries(const WidePath& path) {
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    Processes().Sleep(kDeleteDelayMs);
    if (Files().DeleteFile(path)) return true;
  }
  const std::uint32_t error = Files().GetLastError();
  return error == win::kErrorFileNotFound || error == win::kErrorPathNotFound;
}

}  // namespace

void DeleteExtractedFiles() {
  for (std::int32_t i = 0; i < LauncherState.extractedCount && i < 3; ++i) {
    const WidePath& path = LauncherState.extractedFiles[i];
    // Still held (a child the tool left, a scanner): gone at the next restart.
    if (!DeleteWithRetries(path)) RemoveAtRestart(path);
  }
}

void FinishWithTool() {
  if (LauncherState.toolFinished) return;  // once: the files are gone or left
  LauncherState.toolFinished = true;
  LauncherState.toolProcess.Close();
  DeleteExtractedFiles();
}

bool SelectToolCode() {
  const std::int16_t count = UsbScanState.deviceCount;
  for (std::int32_t i = 0; i < count && i < static_cast<std::int32_t>(UsbScanState.devices.size()); ++i) {
    const USB_BASIC_ALLINFO& record = UsbScanState.devices[static_cast<std::size_t>(i)];
    const ToolRow* row = RecognisedToolRow(record.vendorId, record.productId, record.deviceClass);
    if (row != nullptr) {
      LauncherState.toolCode = row->toolCode;
      return true;
    }
  }
  return false;
}

WidePath LauncherDirectory(const WidePath& modulePath) { return modulePath.Directory(); }

WidePath CurrentDirectoryOf(const WidePath& directory) {
  const std::u16string& units = directory.Units();
  // "C:" alone would name the drive's current directory, not its root.
  if (units.size() == 2 && units[1] == u':') return directory.Joined("\\");
  return directory;
}

void StartTool(WindowHandle frame, const WidePath& launcherDirectory, const ContainerStateRecord& container) {
  const ToolRow* row = ToolRowOfCode(LauncherState.toolCode);
  if (row == nullptr) return;
  EntryCopy entry = CopyEntry(container.image, container.payloadOffset, container.entries, row->entryName);
  if (LauncherState.firstEntryIndex == -1) LauncherState.firstEntryIndex = entry.match.first;
  const std::vector<std::uint8_t>& bytes = KeepExtracted(std::move(entry.bytes));
  const WidePath toolPath = launcherDirectory.Joined(row->writtenName);
  if (!entry.copied || !WriteTool(bytes, toolPath) || !LaunchTool(*row, toolPath, bytes)) {
    ReportToolNotStarted(frame, *row);
    return;
  }
  if (row->after == After::kDeleteAfterWait) {
    Processes().Sleep(kAfterToolMs);
    DeleteExtractedFiles();
    LauncherState.keepRunning = false;
    return;
  }
  LauncherState.windowSeen = false;
  LauncherState.watchStartedAt = Processes().GetTickCount();
  // A tool the launcher waited for has ended before the watch began.
  LauncherState.toolEndKnown = row->launch == Launch::kAndWait;
  LauncherState.toolEndedAt = LauncherState.watchStartedAt;
  // A timer on window 0 would be the thread's, never seen by the frame.
  if (frame != 0 && Desktop().SetTimer(frame, static_cast<std::uintptr_t>(row->toolCode), kWatchPeriodMs)) return;
  // No timer (no frame window, or the frame was closed while the tool ran):
  // no watch would ever end the launcher, so it ends now, cleaning up as the
  // watch would.
  FinishWithTool();
  LauncherState.keepRunning = false;
}

void FinishAfterMessageLoop(WindowHandle frame) {
  if (LauncherState.extractedCount == 0 || LauncherState.toolFinished) return;
  const ToolRow* row = ToolRowOfCode(LauncherState.toolCode);
  if (row != nullptr && row->after == After::kWatchWindow) {
    Desktop().KillTimer(frame, static_cast<std::uintptr_t>(row->toolCode));
  }
  FinishWithTool();
}

void RunStartSequence(WindowHandle frame) {
  ScanUsbDevices();
  if (!SelectToolCode()) {
    ShowLauncherMessage(frame, kDeviceNotFound);
    LauncherState.keepRunning = false;
    return;
  }
  LauncherState.osClass = GetOsClass();
  LauncherState.keepRunning = true;
  WidePath modulePath;
  const bool pathWhole = ReadModulePath(&modulePath);
  const WidePath directory = LauncherDirectory(modulePath);
  LauncherState.containerPath = directory.Joined("\\QM_File.ini");
  // A path cut short names a parent folder: the container is then as good
  // as missing, and nothing is read or written.
  std::vector<std::uint8_t> image;
  if (!pathWhole || !ReadContainerFile(LauncherState.containerPath, &image)) {
    ShowLauncherMessage(frame, kContainerNotFound);
    LauncherState.keepRunning = false;
    return;
  }
  ParsedContainer parsed = ParseHeader(image, LeadBytes::Of(CodePage()));
  KeepContainer(std::move(image), std::move(parsed));  // the watch reads its titles later
  StartTool(frame, directory, ContainerState);
}

}  // namespace qm
