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
WidePath DescriptionPath(Platform& system) {
  WidePath modulePath;
  system.GetModuleFileName(&modulePath);
  return LauncherDirectory(modulePath).Joined("\\usb-sim.json");
}

sim::UsbSimStack LoadStack(Platform& system) {
  try {
    return sim::UsbSimStack::FromFile(DescriptionPath(system), system);
  } catch (const std::exception&) {
    ExitProcess(3);
  }
}

}  // namespace

Platform& ApplicationPlatform() {
  static Win32Platform system;
  static sim::UsbSimStack stack = LoadStack(system);
  static sim::UsbSimPlatform platform(&stack, &system);
  return platform;
}

}  // namespace qm
