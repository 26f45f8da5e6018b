// The launcher's process-wide state: plain globals, initialised statically,
// alive until the process exits.
#pragma once

#include <cstdint>
#include <string>

#include "platform/OwnedHandle.h"
#include "platform/Platform.h"

namespace qm {

struct LauncherStateRecord {
  std::int32_t toolCode = -1;         // recognised controller family, once
  std::int32_t osClass = -1;          // GetOsClass result, once a controller is known
  std::int32_t firstEntryIndex = -1;  // first container entry named like the tool
  bool keepRunning = false;           // whether InitInstance enters the message loop
  bool windowSeen = false;            // the watch found the tool's window last tick
  WidePath extractedFiles[3];         // paths written, in order
  std::int32_t extractedCount = 0;    // paths in use in extractedFiles
  WidePath containerPath;             // full path of the container file
  OwnedHandle toolProcess;              // a tool started without waiting, until the watch ends
  std::uint32_t watchStartedAt = 0;     // GetTickCount when the watch timer was armed
  // From when the watch counts its minute without a window: the later of the
  // watch's start and the tick that first found the started tool ended.
  std::uint32_t toolEndedAt = 0;
  bool toolEndKnown = false;            // toolEndedAt is set
  bool toolFinished = false;            // FinishWithTool has run
  std::int32_t screenWidth = 0;
  std::int32_t screenHeight = 0;
  std::int32_t windowTop = 0;
  std::int32_t windowLeft = 0;
};

extern LauncherStateRecord LauncherState;

// Back to the initial values; for tests. A handle still held is given up,
// not closed: the test's platform that made it is gone.
void ResetLauncherState();

}  // namespace qm
