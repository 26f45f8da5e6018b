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

// kFullOrHigh: a hub without _EX tells only low speed apart. kHighOrSuper:
// one without _EX_V2 (Windows 7) may report a SuperSpeed device as high
// speed, so a device of bcdUSB 3.00 or more there may run at either.
enum class DeviceSpeed { kUnknown, kLow, kFull, kHigh, kSuper, kSuperPlus, kFullOrHigh, kHighOrSuper };

struct InterfaceSummary {
  std::uint8_t number = 0;
  std::uint8_t alternateSetting = 0;
  std::uint8_t interfaceClass = 0;
  std::uint8_t subClass = 0;
  std::uint8_t protocol = 0;
};

struct DeviceDetails {
  DeviceSpeed speed = DeviceSpeed::kUnknown;
  std::uint16_t bcdUsb = 0;                   // from the device descriptor the walk read
  std::uint16_t bcdDevice = 0;                // the device's own release: its firmware's version
  bool powerKnown = false;                    // from the configuration descriptor
  int maxPowerMilliamps = 0;                  // at kHighOrSuper: in high speed's 2 mA units (times 4 at SuperSpeed)
  bool selfPowered = false;
  bool interfacesKnown = false;
  std::vector<InterfaceSummary> interfaces;   // every interface descriptor, alternate settings too
  enum class Note {
    kNone,
    kHighSpeedAtFullSpeed,
    kSuperSpeedBelowSuperSpeed,
    kSuperSpeedPlusAtSuperSpeed,  // capable of SuperSpeedPlus, running at 5 Gb/s
  } note = Note::kNone;
};

// Asks the hub about the device on `port` (IOCTL_USB_GET_NODE_CONNECTION_
// INFORMATION_EX_V2, then _EX, its configuration descriptor, and its
// device qualifier where a note depends on it). `connection` is the walk's
// own connection information for the port (USB_NODE_CONNECTION_INFORMATION,
// 35 bytes at least). A request that fails leaves its part unknown.
DeviceDetails ReadDeviceDetails(Handle hub, std::uint32_t port, const std::uint8_t* connection);

}  // namespace qm
