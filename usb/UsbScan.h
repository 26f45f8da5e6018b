// USB device discovery: one record per hub port of every host controller.
// The walk's own steps are in usb/UsbWalk.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// What the scan learnt about one hub port.
struct USB_BASIC_ALLINFO {
  std::string controllerPath;  // e.g. "\\.\HCD0"
  std::string rootHubName;     // the controller's root hub, CP_THREAD_ACP, no "\\.\"
  std::string portPath;        // controller number, then port numbers: "0-3-2"
  std::int32_t vendorId = 0;   // idVendor of a connected non-hub device, else 0
  std::int32_t productId = 0;  // idProduct likewise
  std::string manufacturer;    // string descriptors; empty when absent or unread
  std::string product;
  std::string serialNumber;
};

struct UsbScanStateRecord {
  std::vector<USB_BASIC_ALLINFO> devices;  // in walking order (depth first)
  std::int16_t deviceCount = 0;            // records appended by the scan
};

extern UsbScanStateRecord UsbScanState;

// Back to the empty state; for tests and tools.
void ResetUsbScanState();

// The most records one scan keeps: deviceCount is 16-bit.
constexpr int kMaxDeviceRecords = 32767;
// Hubs deeper than this are treated like hubs that cannot be opened. Real
// USB has at most five tiers of hubs below the root hub.
constexpr int kMaxHubDepth = 16;

// Walks every host controller "\\.\HCD0" to "\\.\HCD9". Returns 0, or the
// system error code of the controller that failed (which ends the scan).
std::uint32_t ScanUsbDevices();

}  // namespace qm
