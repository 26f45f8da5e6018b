// The watch over the started tool's window, one timer tick at a time.
#pragma once

#include <cstdint>
#include <string>

#include "container/Writer.h"

#include "platform/Platform.h"

namespace qm {

// One tick of timer `timerId` on the main window `frame`.
void WatchTick(WindowHandle frame, std::uintptr_t timerId);

// The enumeration callback: reads the window's title and compares it with
// the target (a const std::string* in `target`). Sets windowSeen; returns
// false to stop at a match.
bool FindTitleProc(WindowHandle window, std::intptr_t target);

// Whether `target` occurs in `title` starting at a character boundary of the
// ANSI code page. An empty target matches every title.
bool TitleContains(const std::string& title, const std::string& target);

// The entries the watch looks for (those of the tool table's watched tools)
// and the frame's own title: what the container's title rule needs.
WatchedTitles LauncherWatchedTitles();

}  // namespace qm
