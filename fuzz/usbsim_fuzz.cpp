// The simulated stack's description loader and the launcher's walk over it.
//
// An input that begins with "{" is a description in JSON, taken as it is: it
// is either refused with a message or scanned. Any other input is a compact
// encoding of a machine (usbsim/MachineGenerator.h: controllers with or
// without a legacy name and an interface, hubs nested to any depth, devices
// of every kind of class, every error a description can give), so that the
// fuzzer spends its time in the walk's failure paths rather than in the
// JSON reader. Either way the scan must leave no handle open and account
// for every controller.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbScan.h"
#include "usbsim/MachineGenerator.h"
#include "usbsim/UsbSim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qm::test::FakePlatform behind;  // fresh per input: nothing recorded piles up
  const std::string text = size > 0 && data[0] == '{' ? std::string(reinterpret_cast<const char*>(data), size)
                                                      : qm::sim::GenerateMachine(data, size, {});
  try {
    qm::sim::UsbSimStack stack = qm::sim::UsbSimStack::FromJson(text);
    qm::SetPlatform(qm::sim::WithSimulatedStack(qm::PlatformOf(behind), stack));
    qm::ResetUsbScanState();
    qm::ScanUsbDevices();
    if (stack.OpenHandles() != 0) __builtin_trap();  // a handle left open
    // Every controller that opened is accounted for, once per way in.
    if (qm::UsbScanState.controllers.size() > 2 * stack.Controllers().size()) __builtin_trap();
    qm::SetPlatform({});
  } catch (const std::runtime_error& error) {
    qm::SetPlatform({});
    if (std::string(error.what()).empty()) __builtin_trap();  // a refusal says why
  }
  return 0;
}
