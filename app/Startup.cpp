#include "app/Startup.h"

#include "app/LauncherState.h"
#include "app/StartSequence.h"

namespace qm {

const char kFrameTitle[] = "Repeat To Write Files Function Test";
const char16_t kElevatedCopyMarker[] = u"/elevated";

namespace {
constexpr int kPlacedWidth = 800;
constexpr int kPlacedHeight = 600;
constexpr int kFrameWidth = 400;
constexpr int kFrameHeight = 585;

constexpr std::uint32_t kShellExecuteInfoSize = 60;  // SHELLEXECUTEINFOA of 32-bit Windows
}  // namespace

FrameRect ComputeFrameRect() {
  LauncherState.screenWidth = System().GetSystemMetrics(win::kSmCxScreen);
  LauncherState.screenHeight = System().GetSystemMetrics(win::kSmCyScreen);
  // C++ division truncates toward zero, as the placement needs.
  LauncherState.windowTop = (LauncherState.screenHeight - kPlacedHeight) / 2;
  LauncherState.windowLeft = (LauncherState.screenWidth - kPlacedWidth) / 2;
  FrameRect rect;
  rect.left = LauncherState.windowLeft;
  rect.top = LauncherState.windowTop;
  rect.right = LauncherState.windowLeft + kFrameWidth;
  rect.bottom = LauncherState.windowTop + kFrameHeight;
  return rect;
}

std::int32_t GetOsClass() {
  OsVersion version;
  if (!System().GetVersionEx(&version)) return kOsOther;
  if (version.major == 5) return (version.minor == 1 || version.minor == 2) ? kOsXp : kOsOther;
  if (version.major == 6) {
    if (version.minor == 0) return kOsVista;
    if (version.minor == 1) return kOsSeven;
  }
  return kOsOther;
}

bool ReadModulePath(WidePath* path) {
  const std::uint32_t copied = System().GetModuleFileName(path);
  return copied != 0 && copied < win::kMaxPath;
}

bool StartedAsElevatedCopy(const std::u16string& commandLine) {
  std::size_t at = 0;
  // The program's own name first, as CommandLineToArgvW takes it: quoted
  // up to the next quote, or up to the first space or tab.
  if (!commandLine.empty() && commandLine[0] == u'"') {
    at = commandLine.find(u'"', 1);
    at = at == std::u16string::npos ? commandLine.size() : at + 1;
  } else {
    at = commandLine.find_first_of(u" \t");
    if (at == std::u16string::npos) at = commandLine.size();
  }
  const std::u16string marker = kElevatedCopyMarker;
  while (at < commandLine.size()) {
    const std::size_t start = commandLine.find_first_not_of(u" \t", at);
    if (start == std::u16string::npos) break;
    std::size_t end = commandLine.find_first_of(u" \t", start);
    if (end == std::u16string::npos) end = commandLine.size();
    if (commandLine.compare(start, end - start, marker) == 0) return true;
    at = end;
  }
  return false;
}

WidePath RelaunchPath(const WidePath& modulePath) {
  const std::u16string& units = modulePath.Units();
  const bool driveLetter = units.size() >= 3 && units[1] == u':' && units[2] == u'\\' &&
                           ((units[0] >= u'A' && units[0] <= u'Z') || (units[0] >= u'a' && units[0] <= u'z'));
  if (!driveLetter || System().GetDriveType(WidePath(units.substr(0, 3))) != win::kDriveRemote) return modulePath;
  std::u16string share;
  if (System().WNetGetConnection(units.substr(0, 2), &share) != win::kNoError) return modulePath;
  if (share.size() < 3 || share.compare(0, 2, u"\\\\") != 0) return modulePath;  // not a UNC name
  if (share.back() == u'\\') share.pop_back();
  return WidePath(share + units.substr(2));
}

void RequestElevatedRelaunch(WindowHandle frame) {
  WidePath modulePath;
  if (!ReadModulePath(&modulePath)) {
    // A cut path could name another program: nothing is started, and the
    // user is told as one with administrator rights would be.
    ShowLauncherMessage(frame, kContainerNotFound);
    return;
  }
  const WidePath file = RelaunchPath(modulePath);
  ShellExecuteRequest request;
  request.cbSize = kShellExecuteInfoSize;
  // NOASYNC: the request is complete when the call returns, and this
  // instance ends right after it.
  request.fMask = win::kSeeMaskNoCloseProcess | win::kSeeMaskFlagNoUi | win::kSeeMaskNoAsync;
  request.verb = "runas";
  request.file = file;
  request.parameters = kElevatedCopyMarker;
  request.directory = CurrentDirectoryOf(LauncherDirectory(file));
  request.nShow = win::kSwHide;
  System().ShellExecuteEx(request);
}

void RunFrameStartup(WindowHandle frame) {
  if (!System().IsUserAnAdmin()) {
    // A copy that was to be elevated and still lacks the rights (UAC off, or
    // XP's Run As given the same user) would start another, for ever.
    if (StartedAsElevatedCopy(System().GetCommandLine())) {
      ShowLauncherMessage(frame, kRightsNeeded);
      return;
    }
    RequestElevatedRelaunch(frame);
    return;
  }
  RunStartSequence(frame);
}

}  // namespace qm
