// The launcher's test build: the real Win32 platform, except that USB
// requests go to a simulated stack described by "usb-sim.json" beside the
// executable. A missing or malformed description ends the program at once
// with exit code 3: the fixture must never run against a machine it does
// not describe.
#include <exception>

#include "app/StartSequence.h"
#include "framework/EntryHooks.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/WinApi.h"
#include "usbsim/UsbSim.h"

namespace qm {

namespace {

// Beside the executable, found as the launcher finds its own directory.
WidePath DescriptionPath(SystemShell& system) {
  WidePath modulePath;
  system.GetModuleFileName(&modulePath);
  return LauncherDirectory(modulePath).Joined("\\usb-sim.json");
}

sim::UsbSimStack LoadStack(const Platform& system) {
  try {
    return sim::UsbSimStack::FromFile(DescriptionPath(*system.system), *system.files);
  } catch (const std::exception&) {
    ExitProcess(3);
  }
}

}  // namespace

Platform ApplicationPlatform() {
  // Never destroyed: handles still owned at exit close through them.
  const Platform system = Win32Roles();
  static sim::UsbSimStack* const stack = new sim::UsbSimStack(LoadStack(system));  // never destroyed either
  return sim::WithSimulatedStack(system, *stack);  // the USB stack alone is simulated
}

}  // namespace qm
