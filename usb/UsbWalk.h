// The steps of the USB walk, for the walk's own files: the per-port records,
// reading a device's identity through its hub, and walking one controller
// and one hub. Everything else uses usb/UsbScan.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "usb/UsbScan.h"

namespace qm {

// The requests the walk sends, each with its buffer size and what a failure
// leaves in the buffer (usb/DeviceRequest.cpp).
enum class UsbRequest {
  kDriverKeyName,
  kRootHubName,
  kNodeInformation,
  kConnectionInformation,
  kConnectionName,
  kDescriptor,
};

// A zeroed buffer of the request's size, for the caller to set its input
// fields in.
std::vector<std::uint8_t> RequestBuffer(UsbRequest request);

// Sends `request` with `buffer` as input and output. Afterwards the buffer
// holds the reply, and every byte past the bytes returned reads as zero; a
// failed request leaves it cleared, or as it was for the root hub name.
bool SendRequest(Handle device, UsbRequest request, std::vector<std::uint8_t>& buffer);

// Sets a descriptor request's input in `buffer`, which holds at least the
// request's header: the port, and a standard GET_DESCRIPTOR setup packet
// for `length` bytes of descriptor `value` in language `index`.
void SetDescriptorRequest(std::vector<std::uint8_t>& buffer, std::uint32_t port, std::uint16_t value,
                          std::uint16_t index, std::uint16_t length);

// Appends a fresh record and returns it; null once kMaxDeviceRecords are held.
USB_BASIC_ALLINFO* AppendDeviceRecord();

// What a device on a port is: its identifiers, class and strings.
struct DeviceIdentity {
  std::int32_t vendorId = 0;
  std::int32_t productId = 0;
  std::uint8_t deviceClass = 0;
  std::uint8_t deviceSubClass = 0;
  std::uint8_t deviceProtocol = 0;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
};

// The identity of the device on `port` of the hub `hub`, from its 18-byte
// device descriptor and, through the hub, its string descriptors. The class
// comes from the descriptor alone: no request is sent for it.
DeviceIdentity ReadDeviceIdentity(const std::uint8_t* deviceDescriptor, std::uint32_t port, Handle hub);

// The text of string `index` of the device on `port`, asking for the
// device's first language first when *language is 0 (and keeping it there).
std::string ReadStringDescriptor(std::uint16_t* language, Handle hub, std::uint32_t port, std::uint8_t index);

// What every record under one controller carries.
struct WalkContext {
  std::string controllerPath;  // how the controller was opened
  std::string rootHubName;     // its root hub's name in the thread's ANSI code page
  DeviceObserver* observer = nullptr;
};

// Asks the opened controller for its driver key name: false, with the
// system error code in *error, when the request fails. `names` is the
// 516-byte buffer the root hub name request then reuses.
bool ReadDriverKey(Handle controller, std::vector<std::uint8_t>& names, std::u16string* driverKey,
                   std::uint32_t* error);

// Walks the controller whose driver key `names` holds: its root hub's name
// (asked in the same buffer), the root hub and its tree. Returns 0 or a
// system error code.
std::uint32_t WalkController(Handle controller, std::vector<std::uint8_t>& names, const std::string& controllerPath,
                             int number, DeviceObserver* observer = nullptr);

// Records ports 1 to portCount of the opened hub `hub`, walking the hubs
// attached to them. `depth` is 0 for a root hub. `parentPath` is a copy:
// the record it came from may move as records are appended.
void WalkHubPorts(Handle hub, std::uint8_t portCount, const WalkContext& context, std::string parentPath,
                  int depth = 0);

}  // namespace qm
