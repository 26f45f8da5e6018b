// What a technician reads first about a connected device, beyond what the
// launcher's walk reads: the speed it runs at, the USB version it
// declares, the current it draws, its interfaces, and whether it runs
// slower than it could. Read only by usbscan: the launcher never sends
// these requests.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace qm {

enum class DeviceSpeed { kUnknown, kLow, kFull, kHigh, kSuper, kSuperPlus, kFullOrHigh };

struct InterfaceSummary {
  std::uint8_t number = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t subClass = 0;
  std::uint8_t protocol = 0;
};

struct DeviceDetails {
  DeviceSpeed speed = DeviceSpeed::kUnknown;  // kFullOrHigh: the stack tells only low speed apart
  std::uint16_t bcdUsb = 0;                   // from the device descriptor the walk read
  bool powerKnown = false;                    // from the configuration descriptor
  int maxPowerMilliamps = 0;
  bool selfPowered = false;
  bool interfacesKnown = false;
  std::vector<InterfaceSummary> interfaces;   // every interface descriptor, alternate settings too
  enum class Note { kNone, kHighSpeedAtFullSpeed, kSuperSpeedBelowSuperSpeed } note = Note::kNone;
};

// Asks the hub about the device on `port` (IOCTL_USB_GET_NODE_CONNECTION_
// INFORMATION_EX_V2, then _EX, its configuration descriptor, and its
// device qualifier where a note depends on it). `connection` is the walk's
// own connection information for the port (USB_NODE_CONNECTION_INFORMATION,
// 35 bytes at least). A request that fails leaves its part unknown.
DeviceDetails ReadDeviceDetails(Handle hub, std::uint32_t port, const std::uint8_t* connection);

}  // namespace qm
