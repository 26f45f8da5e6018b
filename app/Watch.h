// The watch over the started tool's window, one timer tick at a time.
#pragma once

#include <cstdint>
#include <string>

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

// Why the watch could never finish with `title` as the tool's window title,
// or "" when it can: an empty title matches every window, one inside the
// launcher's own window title matches that window for as long as the
// launcher runs, and one longer than 255 bytes is longer than any title the
// watch reads.
std::string UnwatchableTitle(const std::string& title);

}  // namespace qm
