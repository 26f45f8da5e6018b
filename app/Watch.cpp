// The watch over the started tool's window. Each tick enumerates the
// top-level windows for one whose title holds the tool's first window title;
// once such a window has been seen and is gone, the extracted files are
// deleted and the main window destroyed, which ends the launcher. When no
// such window has been seen, the watch ends the same way a minute after the
// tool has ended.
#include "app/Watch.h"

#include "app/LauncherState.h"
#include "app/StartSequence.h"
#include "app/Startup.h"
#include "app/ToolTable.h"
#include "container/ContainerState.h"
#include "platform/CodePages.h"

namespace qm {

namespace {

constexpr int kTitleBufferSize = 256;
// How long the watch waits for a window once the tool has ended without one
// being seen. The launcher would otherwise stay, hidden, for ever.
constexpr std::uint32_t kWatchLimitWithoutWindowMs = 60000;

// The watch's timers are those of the tools whose window it watches; each
// has its tool code as its identifier.
bool IsWatchTimer(std::uintptr_t timerId) {
  if (timerId > 0x7FFFFFFF) return false;
  const ToolRow* row = ToolRowOfCode(static_cast<std::int32_t>(timerId));
  return row != nullptr && row->after == After::kWatchWindow;
}

// The first window title of the tool's entry, or null when there is none.
const std::string* TargetTitle() {
  const std::int32_t index = LauncherState.firstEntryIndex;
  if (index < 0 || index >= static_cast<std::int32_t>(ContainerState.entries.size())) return nullptr;
  const PROGRAMINFO& entry = ContainerState.entries[static_cast<std::size_t>(index)];
  return entry.findHwnd.empty() ? nullptr : &entry.findHwnd.front();
}

// A tool the launcher waited for has ended; one started without waiting is
// asked.
bool ToolStillRunning() {
  return LauncherState.toolProcess.Valid() &&
         Processes().WaitForSingleObject(LauncherState.toolProcess.Get(), 0) == win::kWaitTimeout;
}

// Whether to stop waiting for a window that has not been seen: a minute
// after the tool ended (or the watch began, for a tool that had ended by
// then), so that a window the tool hands on late still counts.
bool WaitedLongEnough() {
  if (ToolStillRunning()) return false;
  const std::uint32_t now = Processes().GetTickCount();
  if (!LauncherState.toolEndKnown) {
    LauncherState.toolEndKnown = true;
    LauncherState.toolEndedAt = now;
  }
  return now - LauncherState.toolEndedAt >= kWatchLimitWithoutWindowMs;
}

void FinishWatch(WindowHandle frame, std::uintptr_t timerId) {
  Desktop().KillTimer(frame, timerId);
  FinishWithTool();
  Desktop().DestroyWindow(frame);
}

}  // namespace

bool TitleContains(const std::string& title, const std::string& target) {
  return ContainsAtCharacter(title, target, [](std::uint8_t byte) { return CodePage().IsDbcsLeadByte(byte); });
}

WatchedTitles LauncherWatchedTitles() {
  WatchedTitles watched;
  for (const ToolRow& row : ToolRows()) {
    if (row.after == After::kWatchWindow) watched.entryNames.push_back(row.entryName);
  }
  watched.frameTitle = kFrameTitle;
  watched.longestTitle = kTitleBufferSize - 1;  // GetWindowTextA keeps room for the zero
  return watched;
}

bool FindTitleProc(WindowHandle window, std::intptr_t target) {
  const std::string title = Desktop().GetWindowText(window, kTitleBufferSize);
  LauncherState.windowSeen = false;
  if (TitleContains(title, *reinterpret_cast<const std::string*>(target))) {
    LauncherState.windowSeen = true;
    return false;  // found: stop here
  }
  return true;
}

void WatchTick(WindowHandle frame, std::uintptr_t timerId) {
  if (!IsWatchTimer(timerId)) return;
  const std::string* target = TargetTitle();
  if (target == nullptr) {
    // Nothing to watch for: the tool's window can never be recognised.
    // Rather than fail on every tick for ever, clean up and end.
    FinishWatch(frame, timerId);
    return;
  }
  const bool wasSeen = LauncherState.windowSeen;
  LauncherState.windowSeen = false;  // stays false on a desktop without windows
  Desktop().EnumWindows(FindTitleProc, reinterpret_cast<std::intptr_t>(target));
  if (LauncherState.windowSeen) return;
  // Seen and gone; or never seen, the tool ended and the limit passed.
  if (wasSeen || WaitedLongEnough()) FinishWatch(frame, timerId);
}

}  // namespace qm
