// The watch over the started tool's window, one timer tick at a time.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace qm {

void WatchTick(WindowHandle frame, std::uintptr_t timerId);

}  // namespace qm
