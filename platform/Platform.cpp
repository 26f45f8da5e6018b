// The process-wide platform behind Devices(), Files(), Processes(),
// Desktop(), Shell(), Drives(), CodePage() and Random().
#include "platform/Platform.h"

#include <cstdio>
#include <cstdlib>

namespace qm {

namespace {

Platform gPlatform;

template <typename Role>
Role& Serving(Role* role) {
  if (role == nullptr) {
    // A programming error: every entry point sets the roles it uses first.
    std::fputs("no platform serves this role\n", stderr);
    std::abort();
  }
  return *role;
}

}  // namespace

void SetPlatform(const Platform& platform) { gPlatform = platform; }
DeviceIo& Devices() { return Serving(gPlatform.devices); }
FileSystem& Files() { return Serving(gPlatform.files); }
ProcessesAndTime& Processes() { return Serving(gPlatform.processes); }
WindowSystem& Desktop() { return Serving(gPlatform.windows); }
ProcessShell& Shell() { return Serving(gPlatform.shell); }
DriveLetters& Drives() { return Serving(gPlatform.drives); }
AnsiCodePage& CodePage() { return Serving(gPlatform.codePage); }
Randomness& Random() { return Serving(gPlatform.random); }

}  // namespace qm
