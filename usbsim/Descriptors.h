// The bytes a simulated device and hub answer with: USB descriptors as the
// USB 2.0 and 3.x specifications lay them out, built from a description.
#pragma once

#include <cstdint>
#include <vector>

#include "usbsim/UsbSim.h"

namespace qm::sim {

using Bytes = std::vector<std::uint8_t>;

// The 18-byte device descriptor.
Bytes DeviceDescriptorBytes(const Device& device);

// The configuration descriptor followed by everything under it (interface
// associations, interfaces, class-specific descriptors, endpoints), as a
// device returns the whole set; wTotalLength is its size.
Bytes ConfigurationBytes(const Device& device);

// The device qualifier: the device as it would be at its other speed.
Bytes QualifierBytes(const Device& device);

// The BOS descriptor with the device's capability descriptors.
Bytes BosBytes(const Device& device);

// The endpoints Windows opens pipes for: those of the alternate setting
// each interface's driver selected (alternate 0 unless one is marked), in
// the configuration's order.
std::vector<const Endpoint*> OpenPipes(const Device& device);

// The hub descriptor as USB_HUB_DESCRIPTOR holds it (71 bytes, the unused
// part zero), and the SuperSpeed hub descriptor (12 bytes).
Bytes HubDescriptorBytes(const Hub& hub);
Bytes SuperSpeedHubDescriptorBytes(const Hub& hub);

// Whether the hub's downstream ports run at high speed: a root hub of a
// controller of USB 2.0 or later, or a hub whose own device does.
bool HubIsHighSpeed(const Hub& hub);
// Whether the hub is a USB 3 hub: its own device runs at SuperSpeed.
bool HubIsSuperSpeed(const Hub& hub);

// A device's bMaxPower: 2 mA units, 8 mA at SuperSpeed and above.
int MaxPowerUnit(Speed speed);

}  // namespace qm::sim
