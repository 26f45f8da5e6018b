#include "app/Startup.h"

#include "app/LauncherState.h"
#include "app/StartSequence.h"

namespace qm {

const char kFrameTitle[] = "Repeat To Write Files Function Test";

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

void RequestElevatedRelaunch(WindowHandle frame) {
  WidePath modulePath;
  if (!ReadModulePath(&modulePath)) {
    // A cut path could name another program: nothing is started, and the
    // user is told as one with administrator rights would be.
    ShowLauncherMessage(frame, kContainerNotFound);
    return;
  }
  ShellExecuteRequest request;
  request.cbSize = kShellExecuteInfoSize;
  request.fMask = win::kSeeMaskNoCloseProcess | win::kSeeMaskFlagNoUi;
  request.verb = "runas";
  request.file = modulePath;
  request.nShow = win::kSwHide;
  System().ShellExecuteEx(request);
}

void RunFrameStartup(WindowHandle frame) {
  if (!System().IsUserAnAdmin()) {
    RequestElevatedRelaunch(frame);
    return;
  }
  RunStartSequence(frame);
}

}  // namespace qm
