// The administrator branch of the start-up: scan the USB ports, recognise
// the controller, load the container, extract the tool, start it.
#include "app/StartSequence.h"

#include "app/LauncherState.h"
#include "app/Startup.h"
#include "app/ToolTable.h"
#include "container/Container.h"
#include "usb/UsbScan.h"

namespace qm {

const char kCaption[] = "Quillmark";
const char kDeviceNotFound[] = "Quillmark Device Not Found";
const char kContainerNotFound[] = "\" QM_File.ini \" Not Found";

namespace {

constexpr std::uint32_t kMessageType = 0x10;  // MB_OK | MB_ICONHAND
constexpr std::uint32_t kLaunchDelayMs = 500;
constexpr std::uint32_t kStartupInfoSize = 68;
constexpr std::uint32_t kNormalPriorityClass = 0x20;
constexpr std::uint32_t kAfterToolMs = 2000;
constexpr std::uint32_t kWatchPeriodMs = 1000;

void ShowMessage(WindowHandle frame, const char* text) { Sys().MessageBox(frame, text, kCaption, kMessageType); }

// Starts `path` after the launch delay; returns its handles, or none.
bool StartProgram(std::int32_t osClass, const std::string& path, ProcessHandles* handles) {
  if (osClass < kOsOther || osClass > kOsSeven) return false;
  Sys().Sleep(kLaunchDelayMs);
  ProcessRequest request;
  // The exact path as the program to run, and quoted as its command line:
  // an unquoted path with a space would let Windows try a shorter path first.
  request.applicationName = path;
  request.commandLine = "\"" + path + "\"";
  request.inheritHandles = true;
  request.creationFlags = kNormalPriorityClass;
  request.startupInfoSize = kStartupInfoSize;
  return Sys().CreateProcess(request, handles);
}

void RunProgram(std::int32_t osClass, const std::string& path, std::uint32_t waitMs) {
  ProcessHandles handles;
  if (!StartProgram(osClass, path, &handles)) return;
  Sys().WaitForSingleObject(handles.process, waitMs);
  Sys().CloseHandle(handles.process);
  Sys().CloseHandle(handles.thread);
}

}  // namespace

void LaunchAndWait(std::int32_t osClass, std::string path) { RunProgram(osClass, path, win::kInfinite); }

void LaunchNoWait(std::int32_t osClass, std::string path) { RunProgram(osClass, path, 0); }

bool SelectToolCode() {
  const std::int16_t count = UsbScanState.deviceCount;
  for (std::int32_t i = 0; i < count && i < static_cast<std::int32_t>(UsbScanState.devices.size()); ++i) {
    const USB_BASIC_ALLINFO& record = UsbScanState.devices[static_cast<std::size_t>(i)];
    const ToolRow* row = FindToolRow(record.vendorId, record.productId);
    if (row != nullptr) {
      LauncherState.toolCode = row->toolCode;
      return true;
    }
  }
  return false;
}

std::string LauncherDirectory(const std::string& modulePath, Platform& system) {
  // By multibyte character: a trail byte 0x5C is not a backslash.
  std::size_t lastBackslash = std::string::npos;
  for (std::size_t i = 0; i < modulePath.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(modulePath[i]);
    if (byte == '\\') {
      lastBackslash = i;
    } else if (system.IsDbcsLeadByte(byte) && i + 1 < modulePath.size()) {
      ++i;
    }
  }
  return lastBackslash == std::string::npos ? std::string() : modulePath.substr(0, lastBackslash);
}

std::string LauncherDirectory(const std::string& modulePath) { return LauncherDirectory(modulePath, Sys()); }

void StartTool(WindowHandle frame, const std::string& launcherDirectory) {
  const ToolRow* row = ToolRowOfCode(LauncherState.toolCode);
  if (row == nullptr) return;
  ExtractEntry(row->entryName);
  const std::string toolPath = launcherDirectory + row->writtenName;
  if (LauncherState.extractedCount < 3) {
    LauncherState.extractedFiles[LauncherState.extractedCount] = toolPath;
    ++LauncherState.extractedCount;
  }
  WriteExtracted(toolPath);
  if (row->launch == Launch::kAndWait) {
    LaunchAndWait(LauncherState.osClass, toolPath);
  } else {
    LaunchNoWait(LauncherState.osClass, toolPath);
  }
  if (row->toolCode == 1000) {
    Sys().Sleep(kAfterToolMs);
    for (std::int32_t i = 0; i < LauncherState.extractedCount; ++i) Sys().DeleteFile(LauncherState.extractedFiles[i]);
    LauncherState.keepRunning = false;
    return;
  }
  LauncherState.windowSeen = false;
  Sys().SetTimer(frame, static_cast<std::uintptr_t>(row->toolCode), kWatchPeriodMs);
}

void RunStartSequence(WindowHandle frame) {
  ScanUsbDevices();
  if (!SelectToolCode()) {
    ShowMessage(frame, kDeviceNotFound);
    LauncherState.keepRunning = false;
    return;
  }
  LauncherState.osClass = GetOsClass();
  LauncherState.keepRunning = true;
  const std::string directory = LauncherDirectory(Sys().GetModuleFileName());
  LauncherState.containerPath = directory + "\\QM_File.ini";
  if (!LoadContainer(LauncherState.containerPath)) {
    ShowMessage(frame, kContainerNotFound);
    LauncherState.keepRunning = false;
    return;
  }
  ParseContainer();
  StartTool(frame, directory);
}

}  // namespace qm
