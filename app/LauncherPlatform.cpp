// The launcher runs on plain Win32.
#include "framework/EntryHooks.h"
#include "platform/win32/Win32Platform.h"

namespace qm {

Platform ApplicationPlatform() { return Win32Roles(); }

}  // namespace qm
