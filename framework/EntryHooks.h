// What an executable built on the framework supplies to its entry point.
#pragma once

#include "platform/Platform.h"

namespace qm {

// The platform the program runs on (the plain Win32 one for the launcher).
// Its roles live until the process ends.
Platform ApplicationPlatform();

}  // namespace qm
