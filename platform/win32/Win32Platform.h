// The seam on Win32: every role, one Win32 call per operation.
#pragma once

#include "platform/Platform.h"

namespace qm {

// Every role on plain Win32, from one object that holds no state and lives
// until the process ends (handles still owned at exit close through it).
Platform Win32Roles();

}  // namespace qm
