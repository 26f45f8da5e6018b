// USB device discovery: one record per hub port of every host controller.
// The walk's own steps are in usb/UsbWalk.h.
#pragma once

#include <cstddef>
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
  std::uint8_t deviceClass = 0;     // bDeviceClass, bDeviceSubClass and bDeviceProtocol of that device's
  std::uint8_t deviceSubClass = 0;  // descriptor; 0 likewise
  std::uint8_t deviceProtocol = 0;
};

// How the scan reached one host controller and what came of it.
struct ControllerReport {
  enum class Outcome { kWalked, kFailed, kAlreadyWalked };
  std::string path;          // "\\.\HCD3", or the device interface path
  bool byInterface = false;  // reached through the device interface enumeration
  Outcome outcome = Outcome::kWalked;
  std::uint32_t error = 0;   // kFailed: the system error code
  int number = -1;           // the first element of its ports' paths; -1: none taken
};

struct UsbScanStateRecord {
  std::vector<USB_BASIC_ALLINFO> devices;  // in walking order (depth first)
  std::int16_t deviceCount = 0;            // records appended by the scan
  std::vector<ControllerReport> controllers;  // every controller opened, in order
};

extern UsbScanStateRecord UsbScanState;

// Back to the empty state; for tests and tools.
void ResetUsbScanState();

// The most records one scan keeps: deviceCount is 16-bit.
constexpr int kMaxDeviceRecords = 32767;
// Hubs deeper than this are treated like hubs that cannot be opened. Real
// USB has at most five tiers of hubs below the root hub.
constexpr int kMaxHubDepth = 16;

// The first element of the port paths of the controllers that the device
// interface pass walks: 10, 11, ... (the named ones take 0 to 9).
constexpr int kFirstInterfaceControllerNumber = 10;

// Told of each connected device other than a hub as the walk records it,
// with the open hub it hangs on, its port, the port's connection
// information (USB_NODE_CONNECTION_INFORMATION) and the index of its
// record. What it asks the hub is its own business; the launcher has none.
class DeviceObserver {
 public:
  virtual ~DeviceObserver() = default;
  virtual void OnDevice(Handle hub, std::uint32_t port, const std::uint8_t* connection, std::size_t record) = 0;
  // Told of every port as its record is made, before anything on it is
  // read or walked: `answered` is false when the connection request failed
  // (its buffer cleared, read as an empty port).
  virtual void OnPort(Handle /*hub*/, std::uint32_t /*port*/, const std::uint8_t* /*connection*/,
                      bool /*answered*/, std::size_t /*record*/) {}
};

// Walks every host controller: first those named "\\.\HCD0" to "\\.\HCD9",
// then every one listed by the host-controller device interface that has
// not been walked (told apart by driver key name). A controller that fails
// does not end the scan. Returns 0, or the system error code of the first
// controller that failed. `observer`, if any, is told of every device.
std::uint32_t ScanUsbDevices(DeviceObserver* observer = nullptr);

}  // namespace qm
