// The watch over the started tool's window. Each tick enumerates the
// top-level windows for one whose title holds the tool's first window title;
// once such a window has been seen and is gone, the extracted files are
// deleted and the main window destroyed, which ends the launcher.
#include "app/Watch.h"

#include <cstring>

#include "app/LauncherState.h"
#include "container/Container.h"

namespace qm {

namespace {

constexpr int kTitleBufferSize = 256;
constexpr int kDeleteAttempts = 3;
constexpr std::uint32_t kDeleteDelayMs = 500;

bool IsWatchTimer(std::uintptr_t timerId) {
  return timerId == 2000 || timerId == 3000 || timerId == 3001 || timerId == 4000;
}

// The first window title of the tool's entry, or null when there is none.
const std::string* TargetTitle() {
  const std::int32_t index = LauncherState.firstEntryIndex;
  if (index < 0 || index >= static_cast<std::int32_t>(ContainerState.entries.size())) return nullptr;
  const PROGRAMINFO& entry = ContainerState.entries[static_cast<std::size_t>(index)];
  return entry.findHwnd.empty() ? nullptr : &entry.findHwnd.front();
}

void DeleteExtractedFiles() {
  for (std::int32_t i = 0; i < LauncherState.extractedCount && i < 3; ++i) {
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
      Sys().Sleep(kDeleteDelayMs);
      if (Sys().DeleteFile(LauncherState.extractedFiles[i])) break;
    }
  }
}

void FinishWatch(WindowHandle frame, std::uintptr_t timerId) {
  Sys().KillTimer(frame, timerId);
  DeleteExtractedFiles();
  Sys().DestroyWindow(frame);
}

}  // namespace

bool TitleContains(const std::string& title, const std::string& target) {
  if (target.empty()) return true;
  if (target.size() > title.size()) return false;
  for (std::size_t at = 0; at + target.size() <= title.size(); ++at) {
    if (std::memcmp(title.data() + at, target.data(), target.size()) == 0) return true;
    // A match never starts on a trail byte.
    if (Sys().IsDbcsLeadByte(static_cast<std::uint8_t>(title[at]))) ++at;
  }
  return false;
}

bool FindTitleProc(WindowHandle window, std::intptr_t target) {
  const std::string title = Sys().GetWindowText(window, kTitleBufferSize);
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
  Sys().EnumWindows(FindTitleProc, reinterpret_cast<std::intptr_t>(target));
  if (wasSeen && !LauncherState.windowSeen) FinishWatch(frame, timerId);
}

}  // namespace qm
