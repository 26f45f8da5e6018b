// The platform the command-line tools run on: Win32 in the Windows build,
// the host's files in the native one.
#pragma once

#include "platform/Platform.h"

namespace qm {

// Sets the tools' platform as the process's and returns it.
Platform& UseToolPlatform();

// The ANSI code page the launcher will run under (platform/CodePages.h).
// Native builds only: on Windows the system's applies and this does nothing.
void SetToolCodePage(int codePage);

}  // namespace qm
