// USB device discovery: one record per hub port of every host controller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

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

enum class StringKind { Manufacturer = 0, Product = 1, SerialNumber = 2 };

// The most records one scan keeps: deviceCount is 16-bit.
constexpr int kMaxDeviceRecords = 32767;
// Hubs deeper than this are treated like hubs that cannot be opened. Real
// USB has at most five tiers of hubs below the root hub.
constexpr int kMaxHubDepth = 16;

// Appends a fresh record and returns it; null once kMaxDeviceRecords are held.
USB_BASIC_ALLINFO* AppendDeviceRecord();

// Fills the newest record's identifiers and strings from the 18-byte device
// descriptor of the device on `port` of the hub `hub`.
void ReadDeviceIdentity(const std::uint8_t* deviceDescriptor, std::uint32_t port, Handle hub);

// Reads string `index` of the device on `port` into the newest record's field
// for `kind`, asking for the device's first language first when `language` is
// 0. Returns the language in effect afterwards.
std::uint16_t ReadStringDescriptor(std::uint16_t language, Handle hub, std::uint32_t port, std::uint8_t index,
                                   StringKind kind);

// Walks every host controller "\\.\HCD0" to "\\.\HCD9". Returns 0, or the
// system error code of the controller that failed (which ends the scan).
std::uint32_t ScanUsbDevices();

// Examines one opened controller; returns 0 or a system error code.
std::uint32_t ScanHostController(Handle controller, const std::string& controllerPath, int number);

// Records ports 1 to portCount of the opened hub `hub`, walking the hubs
// attached to them. `depth` is 0 for a root hub.
void WalkHubPorts(Handle hub, std::uint8_t portCount, const std::string& controllerPath,
                  const std::u16string& rootHubName, std::string parentPath, int depth = 0);

}  // namespace qm
