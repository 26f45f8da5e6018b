// A connected device's details, asked of its hub as Windows' documented
// clients ask: the connection in its newest form, then the configuration
// descriptor (its 9-byte header first, for wTotalLength), and the device
// qualifier only when it decides a note. Every reply is checked against the
// bytes returned before it is read.
#include "usb/DeviceDetails.h"

#include "usb/UsbIoctl.h"
#include "usb/UsbWalk.h"

namespace qm {

namespace {

constexpr std::uint32_t kConfigurationHeaderSize = 9;

// Sends `code` with `buffer` and returns the bytes returned, or 0 when it
// fails (*error, if given, set to the system's error code).
std::uint32_t Ask(Handle hub, std::uint32_t code, std::vector<std::uint8_t>& buffer, std::uint32_t* error = nullptr) {
  std::uint32_t returned = 0;
  if (!Devices().DeviceIoControl(hub, code, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &returned)) {
    if (error != nullptr) *error = Devices().GetLastError();
    return 0;
  }
  return returned <= buffer.size() ? returned : 0;  // a stack that claims more than the buffer is not believed
}

// The descriptor `value` of the device on `port`: its first `length` bytes,
// or an empty reply when the request fails.
std::vector<std::uint8_t> Descriptor(Handle hub, std::uint32_t port, std::uint16_t value, std::uint16_t length) {
  std::vector<std::uint8_t> buffer(usb::kDescriptorData + length, 0);
  SetDescriptorRequest(buffer, port, value, 0, length);
  const std::uint32_t returned = Ask(hub, usb::kIoctlGetDescriptorFromNodeConnection, buffer);
  if (returned < usb::kDescriptorData) return {};
  return std::vector<std::uint8_t>(buffer.begin() + usb::kDescriptorData, buffer.begin() + returned);
}

// _EX_V2: the port's protocols and the device's SuperSpeed flags, or false.
bool SuperSpeedFlags(Handle hub, std::uint32_t port, std::uint32_t* flags) {
  std::vector<std::uint8_t> buffer(usb::kConnectionV2Size, 0);
  usb::Write32(&buffer[usb::kConnectionIndex], port);
  usb::Write32(&buffer[usb::kConnectionV2Length], usb::kConnectionV2Size);
  usb::Write32(&buffer[usb::kConnectionV2Protocols], usb::kProtocolUsb110 | usb::kProtocolUsb200 | usb::kProtocolUsb300);
  if (Ask(hub, usb::kIoctlGetNodeConnectionInformationExV2, buffer) < usb::kConnectionV2Size) return false;
  *flags = usb::Read32(&buffer[usb::kConnectionV2Flags]);
  return true;
}

// The speed _EX reports. Windows 8 and later report a SuperSpeed device as
// high speed there (the caller corrects it from _EX_V2). A hub that does
// not know _EX at all (ERROR_INVALID_FUNCTION: Windows 2000; _EX's page
// gives Windows XP as its minimum) leaves only the walk's LowSpeed flag.
DeviceSpeed SpeedFromEx(Handle hub, std::uint32_t port, const std::uint8_t* connection) {
  std::vector<std::uint8_t> buffer(usb::kConnectionInfoSize, 0);
  usb::Write32(&buffer[usb::kConnectionIndex], port);
  std::uint32_t error = 0;
  if (Ask(hub, usb::kIoctlGetNodeConnectionInformationEx, buffer, &error) >= usb::kConnectionInfoFixedSize) {
    switch (buffer[usb::kConnectionSpeed]) {
      case usb::kSpeedLow: return DeviceSpeed::kLow;
      case usb::kSpeedFull: return DeviceSpeed::kFull;
      case usb::kSpeedHigh: return DeviceSpeed::kHigh;
      case usb::kSpeedSuper: return DeviceSpeed::kSuper;
      default: return DeviceSpeed::kUnknown;
    }
  }
  if (error != win::kErrorInvalidFunction) return DeviceSpeed::kUnknown;
  return connection[usb::kConnectionSpeed] != 0 ? DeviceSpeed::kLow : DeviceSpeed::kFullOrHigh;
}

// The speed as Windows' own viewer reads it: SuperSpeed from _EX_V2's
// operating flags whatever _EX says; without _EX_V2, a high-speed report
// of a device declaring USB 3 cannot be told from SuperSpeed.
DeviceSpeed OperatingSpeed(DeviceSpeed fromEx, bool flagsKnown, std::uint32_t flags, std::uint16_t bcdUsb) {
  if (flagsKnown && (flags & usb::kFlagOperatingAtSuperSpeedPlus) != 0) return DeviceSpeed::kSuperPlus;
  if (flagsKnown && (flags & usb::kFlagOperatingAtSuperSpeed) != 0) return DeviceSpeed::kSuper;
  if (!flagsKnown && fromEx == DeviceSpeed::kHigh && bcdUsb >= 0x0300) return DeviceSpeed::kHighOrSuper;
  return fromEx;
}

void ReadConfiguration(Handle hub, std::uint32_t port, DeviceDetails* details) {
  const std::vector<std::uint8_t> header = Descriptor(hub, port, usb::kConfigurationDescriptorValue,
                                                      kConfigurationHeaderSize);
  if (header.size() != kConfigurationHeaderSize || header[1] != 2) return;
  const std::uint16_t total = usb::Read16(&header[2]);
  if (total < kConfigurationHeaderSize) return;
  const std::vector<std::uint8_t> whole = Descriptor(hub, port, usb::kConfigurationDescriptorValue, total);
  if (whole.size() != total) return;
  const bool superSpeed = details->speed == DeviceSpeed::kSuper || details->speed == DeviceSpeed::kSuperPlus;
  details->powerKnown = true;
  details->maxPowerMilliamps = whole[8] * (superSpeed ? 8 : 2);
  details->selfPowered = (whole[7] & 0x40) != 0;
  details->interfacesKnown = true;
  // Each descriptor by its length byte, none read past the set's end.
  for (std::size_t at = whole[0]; at + 2 <= whole.size() && whole[at] >= 2; at += whole[at]) {
    if (whole[at + 1] != usb::kInterfaceDescriptorType || whole[at] < 9 || at + 9 > whole.size()) continue;
    details->interfaces.push_back({whole[at + 2], whole[at + 3], whole[at + 5], whole[at + 6], whole[at + 7]});
  }
}

}  // namespace

DeviceDetails ReadDeviceDetails(Handle hub, std::uint32_t port, const std::uint8_t* connection) {
  DeviceDetails details;
  details.bcdUsb = usb::Read16(connection + usb::kConnectionDeviceDescriptor + usb::kDescBcdUsb);
  details.bcdDevice = usb::Read16(connection + usb::kConnectionDeviceDescriptor + usb::kDescBcdDevice);
  std::uint32_t flags = 0;
  const bool flagsKnown = SuperSpeedFlags(hub, port, &flags);
  details.speed = OperatingSpeed(SpeedFromEx(hub, port, connection), flagsKnown, flags, details.bcdUsb);
  ReadConfiguration(hub, port, &details);
  const bool capable = (flags & usb::kFlagSuperSpeedCapable) != 0;
  const bool plusCapable = (flags & usb::kFlagSuperSpeedPlusCapable) != 0;
  if (flagsKnown && capable && (flags & usb::kFlagOperatingAtSuperSpeed) == 0) {
    details.note = DeviceDetails::Note::kSuperSpeedBelowSuperSpeed;
  } else if (flagsKnown && plusCapable && details.speed == DeviceSpeed::kSuper) {
    details.note = DeviceDetails::Note::kSuperSpeedPlusAtSuperSpeed;
  } else if (details.speed == DeviceSpeed::kFull && details.bcdUsb >= 0x0200) {
    // A device that can run at high speed says how it would at full speed
    // in its device qualifier; a full-speed-only device stalls the request.
    const std::vector<std::uint8_t> qualifier = Descriptor(hub, port, usb::kQualifierDescriptorValue, 10);
    if (qualifier.size() == 10 && qualifier[1] == 6) details.note = DeviceDetails::Note::kHighSpeedAtFullSpeed;
  }
  return details;
}

}  // namespace qm
