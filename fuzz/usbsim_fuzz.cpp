// The simulated stack's description loader over arbitrary bytes: it either
// refuses the text with a message or yields a stack that the launcher's walk
// can scan without leaving a handle open.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qm::test::FakePlatform behind;  // fresh per input: nothing recorded piles up
  try {
    qm::sim::UsbSimStack stack =
        qm::sim::UsbSimStack::FromJson(std::string(reinterpret_cast<const char*>(data), size));
    qm::sim::UsbSimPlatform platform(&stack, &behind);
    qm::SetPlatform(&platform);
    qm::ResetUsbScanState();
    qm::ScanUsbDevices();
    if (stack.OpenHandles() != 0) __builtin_trap();  // a handle left open
    qm::SetPlatform(nullptr);
  } catch (const std::runtime_error& error) {
    if (std::string(error.what()).empty()) __builtin_trap();  // a refusal says why
  }
  return 0;
}
