#include "app/Startup.h"

#include "app/LauncherState.h"
#include "app/StartSequence.h"
#include "platform/SubstLetters.h"

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
  LauncherState.screenWidth = Desktop().GetSystemMetrics(win::kSmCxScreen);
  LauncherState.screenHeight = Desktop().GetSystemMetrics(win::kSmCyScreen);
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
  if (!Shell().GetVersionEx(&version)) return kOsOther;
  if (version.major == 5) return (version.minor == 1 || version.minor == 2) ? kOsXp : kOsOther;
  if (version.major == 6) {
    if (version.minor == 0) return kOsVista;
    if (version.minor == 1) return kOsSeven;
  }
  return kOsOther;
}

bool ReadModulePath(WidePath* path) {
  const std::uint32_t copied = Shell().GetModuleFileName(path);
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

// A subst letter and a mapped drive belong to the logon session that made
// them, and an elevated copy runs in another: the path is taken by what
// the letter stands for, then by the share a mapped drive is connected to.
WidePath RelaunchPath(const WidePath& modulePath) {
  const WidePath path = WithoutSubstLetters(modulePath);
  const std::u16string drive = path.Drive();
  if (drive.empty() || Drives().GetDriveType(WidePath(drive + u"\\")) != win::kDriveRemote) return path;
  std::u16string share;
  if (Drives().WNetGetConnection(drive, &share) != win::kNoError) return path;
  if (share.size() < 3 || share.compare(0, 2, u"\\\\") != 0) return path;  // not a UNC name
  if (share.back() == u'\\') share.pop_back();
  return WidePath(share + path.Units().substr(2));
}

namespace {

// The window the consent prompt belongs to. Microsoft documents that the
// prompt of a request naming no window, or a hidden one, may open behind
// the window in the foreground and only flash on the taskbar, where a user
// who sees no window of the launcher does not look; its compatibility fix
// CorrectShellExecuteHWND substitutes a window only for a handle that is
// not valid, and only one of the calling process. Naming the foreground
// window, which belongs to another process (as a rule the folder the user
// started the launcher from), is our choice: nothing documented says it
// helps or harms, and where the prompt came up in front of it in our
// tries it did. GetForegroundWindow may give no window (while one is
// losing activation); the request then names none. On XP "runas" opens a
// Run As dialog of this process, modal to the window named, which would
// lock another program's window while it is open: there the request names
// none.
WindowHandle ConsentOwner() {
  OsVersion version;
  if (!Shell().GetVersionEx(&version) || version.major < 6) return 0;
  return Desktop().GetForegroundWindow();
}

}  // namespace

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
  request.hwnd = ConsentOwner();
  request.verb = "runas";
  request.file = file;
  request.parameters = kElevatedCopyMarker;
  request.directory = CurrentDirectoryOf(LauncherDirectory(file));
  request.nShow = win::kSwHide;
  // A declined prompt is the user's answer and ends the launcher silently.
  // Any other failure (the elevated account cannot reach the share, a path
  // too long, a policy that refuses) would leave nothing on the screen.
  if (!Shell().ShellExecuteEx(request) && Shell().GetLastError() != win::kErrorCancelled) {
    ShowLauncherMessage(frame, kRightsNeeded);
  }
}

void RunFrameStartup(WindowHandle frame) {
  if (!Shell().IsUserAnAdmin()) {
    // A copy that was to be elevated and still lacks the rights (UAC off, or
    // XP's Run As given the same user) would start another, for ever.
    if (StartedAsElevatedCopy(Shell().GetCommandLine())) {
      ShowLauncherMessage(frame, kRightsNeeded);
      return;
    }
    RequestElevatedRelaunch(frame);
    return;
  }
  RunStartSequence(frame);
}

}  // namespace qm
