// A hub's answers: about itself (node information, hub information,
// capabilities) and about each of its ports (connection information in its
// three forms, the names of the hub and the driver key behind a port, the
// port's connector, and the descriptors of the device on it).
#include <algorithm>
#include <cstring>
#include <vector>

#include "usb/UsbIoctl.h"
#include "usbsim/Answers.h"
#include "usbsim/Descriptors.h"

namespace qm::sim {

namespace {

using win::kErrorGenFailure;  // a stalled device request
using win::kErrorInvalidFunction;
using win::kErrorInvalidParameter;

// --- about the hub itself ---

Outcome NodeInformation(const Hub& hub, std::uint8_t* buffer, std::uint32_t size) {
  if (size < usb::kNodeInfoSize) return {kErrorInvalidParameter, 0};
  std::memset(buffer, 0, usb::kNodeInfoSize);  // NodeType 0: UsbHub
  const Bytes descriptor = HubDescriptorBytes(hub);
  std::memcpy(buffer + usb::kNodeInfoHubDescriptor, descriptor.data(), descriptor.size());
  buffer[usb::kNodeInfoHubIsBusPowered] = hub.busPowered ? 1 : 0;
  return {0, usb::kNodeInfoSize};
}

// The root hub of a controller that reports USB_HcGeneric, as Windows 8
// and later's xHCI driver does.
bool IsXhciRootHub(const Hub& hub) {
  return hub.ownDevice == nullptr && hub.controller != nullptr && hub.controller->flavor == 0;
}

Outcome HubInformationEx(const Hub& hub, std::uint8_t* buffer, std::uint32_t size) {
  if (size < usb::kHubInfoExSize) return {kErrorInvalidParameter, 0};
  std::memset(buffer, 0, usb::kHubInfoExSize);
  const bool root = hub.ownDevice == nullptr;
  const bool super = HubIsSuperSpeed(hub);
  usb::Write32(buffer, root ? usb::kHubTypeRoot : super ? usb::kHubType30 : usb::kHubType20);
  usb::Write16(buffer + usb::kHubInfoExHighestPort, static_cast<std::uint16_t>(hub.numberOfPorts));
  // The root hub of a USB_HcGeneric (xHCI) controller leaves the hub
  // descriptor out, its port count in HighestPortNumber alone (a Windows 10
  // report, tests/data/usb/windows-replies/usbtoolbox-8-port1.txt).
  if (IsXhciRootHub(hub)) return {0, usb::kHubInfoExSize};
  const Bytes descriptor = super ? SuperSpeedHubDescriptorBytes(hub) : HubDescriptorBytes(hub);
  std::memcpy(buffer + usb::kHubInfoExDescriptor, descriptor.data(), descriptor.size());
  return {0, usb::kHubInfoExSize};
}

// USB_HUB_CAP_FLAGS of _EX, or USB_HUB_CAPABILITIES' HubIs2xCapable alone.
Outcome Capabilities(const Hub& hub, bool extended, std::uint8_t* buffer, std::uint32_t size) {
  if (size < usb::kHubCapabilitiesSize) return {kErrorInvalidParameter, 0};
  const bool high = HubIsHighSpeed(hub);
  std::uint32_t flags = high ? 1 : 0;
  if (extended) {
    // A hub declaring multiple transaction translators (protocol 2) runs them.
    const bool multiTt = hub.ownDevice != nullptr && hub.ownDevice->deviceProtocol == 2;
    flags |= (high ? 2u : 0u) | (multiTt ? 4u | 8u : 0u) | (hub.ownDevice == nullptr ? 16u : 0u) |
             (hub.busPowered ? 64u : 0u);
    // An xHCI root hub says it runs at high speed but is not high-speed
    // capable (a Windows 10 report, windows-replies/usbtoolbox-8-port1.txt).
    if (IsXhciRootHub(hub)) flags &= ~1u;
  }
  usb::Write32(buffer, flags);
  return {0, usb::kHubCapabilitiesSize};
}

// --- about one port ---

struct PortRequest {
  std::uint32_t code;
  std::uint32_t smallest;  // the structure's size: a smaller buffer is refused
};

constexpr PortRequest kPortRequests[] = {
    {usb::kIoctlGetNodeConnectionInformation, usb::kConnectionInfoFixedSize},
    {usb::kIoctlGetNodeConnectionInformationEx, usb::kConnectionInfoFixedSize},
    {usb::kIoctlGetNodeConnectionInformationExV2, usb::kConnectionV2Size},
    {usb::kIoctlGetNodeConnectionName, usb::kConnectionNameStructSize},
    {usb::kIoctlGetNodeConnectionDriverkeyName, usb::kConnectionNameStructSize},
    {usb::kIoctlGetDescriptorFromNodeConnection, usb::kDescriptorData},
    {usb::kIoctlGetPortConnectorProperties, usb::kConnectorSize},
};

bool Connected(const Port& port) { return port.status == usb::kDeviceConnected; }

// _EX's Speed. Windows 8 and later answer at most UsbHighSpeed: "the Speed
// member supports up to UsbHighSpeed; use _EX_V2 for SuperSpeed"
// (learn.microsoft.com, USB_NODE_CONNECTION_INFORMATION_EX, remarks).
// Windows 7's USB 3 drivers, its vendors', said UsbSuperSpeed there: the
// speed clients read from _EX was right on Windows 7 and broke on Windows 8
// (libusb/libusb issue 10; daynix/UsbDk issue 61, Renesas's driver).
std::uint8_t SpeedCode(const Hub& hub, Speed speed) {
  switch (speed) {
    case Speed::kLow: return usb::kSpeedLow;
    case Speed::kFull: return usb::kSpeedFull;
    case Speed::kHigh: return usb::kSpeedHigh;
    default: return hub.windows7 ? usb::kSpeedSuper : usb::kSpeedHigh;
  }
}

// USB_NODE_CONNECTION_INFORMATION and its _EX: the same bytes but for the
// speed, a LowSpeed flag in the first and the USB_DEVICE_SPEED in _EX.
// NumberOfOpenPipes counts every open pipe, whatever room the list has.
Outcome ConnectionInformation(const Hub& hub, const Port& port, bool extended, std::uint8_t* buffer,
                              std::uint32_t size) {
  if (port.connectionInfoError != 0) return {port.connectionInfoError, 0};
  std::memset(buffer + 4, 0, usb::kConnectionInfoFixedSize - 4);
  if (hub.emptyPortsReadZero && port.status == usb::kNoDeviceConnected && !port.device && !port.hub) {
    usb::Write32(buffer + usb::kConnectionIndex, 0);
  }
  if (port.device) {
    const Bytes descriptor = DeviceDescriptorBytes(*port.device);
    std::memcpy(buffer + usb::kConnectionDeviceDescriptor, descriptor.data(), descriptor.size());
  }
  buffer[usb::kConnectionDeviceIsHub] = port.hub ? 1 : 0;
  usb::Write32(buffer + usb::kConnectionStatus, port.status);
  std::uint32_t filled = usb::kConnectionInfoFixedSize;
  if (!Connected(port) || !port.device) return {0, filled};
  const Device& device = *port.device;
  buffer[usb::kConnectionCurrentConfiguration] = device.configured ? device.configuration.value : 0;
  buffer[usb::kConnectionSpeed] = extended ? SpeedCode(hub, device.speed) : device.speed == Speed::kLow ? 1 : 0;
  usb::Write16(buffer + usb::kConnectionDeviceAddress, device.address);
  const std::vector<const Endpoint*> pipes = device.configured ? OpenPipes(device) : std::vector<const Endpoint*>();
  usb::Write32(buffer + usb::kConnectionOpenPipes, static_cast<std::uint32_t>(pipes.size()));
  for (const Endpoint* pipe : pipes) {
    const std::uint8_t info[usb::kPipeInfoSize] = {7, usb::kEndpointDescriptorType, pipe->address, pipe->attributes,
                                                   static_cast<std::uint8_t>(pipe->maxPacketSize),
                                                   static_cast<std::uint8_t>(pipe->maxPacketSize >> 8),
                                                   pipe->interval, 0, 0, 0, 0};  // ScheduleOffset 0
    // The list is cut at the buffer's end, as every reply here is.
    const std::uint32_t count = std::min(usb::kPipeInfoSize, size - filled);
    std::memcpy(buffer + filled, info, count);
    filled += count;
    if (filled == size) break;
  }
  return {0, filled};
}

bool HasCapability(const Device& device, std::uint8_t kind) {
  for (std::size_t at = 0; at + 2 < device.capabilities.size() && device.capabilities[at] != 0;
       at += device.capabilities[at]) {
    if (device.capabilities[at + 2] == kind) return true;
  }
  return false;
}

// USB_NODE_CONNECTION_INFORMATION_EX_V2: the protocols the port carries and
// the device's SuperSpeed flags. As on Windows 8, the caller must ask for
// USB 3 (Usb300); Length is the caller's and stays as it was.
Outcome ConnectionInformationV2(const Hub& hub, const Port& port, std::uint8_t* buffer) {
  if (port.connectionInfoError != 0) return {port.connectionInfoError, 0};
  if ((usb::Read32(buffer + usb::kConnectionV2Protocols) & usb::kProtocolUsb300) == 0) return {kErrorInvalidParameter, 0};
  const std::uint32_t protocols =
      port.superSpeedOnly ? usb::kProtocolUsb300
                          : usb::kProtocolUsb110 | (HubIsHighSpeed(hub) ? usb::kProtocolUsb200 : 0) |
                                (port.superSpeed ? usb::kProtocolUsb300 : 0);
  std::uint32_t flags = 0;
  if (Connected(port) && port.device) {
    const Device& d = *port.device;
    flags = (d.speed >= Speed::kSuper ? 1u : 0u) |
            (d.speed >= Speed::kSuper || HasCapability(d, usb::kSuperSpeedCapability) ? 2u : 0u) |
            (d.speed == Speed::kSuperPlus ? 4u : 0u) |
            (d.speed == Speed::kSuperPlus || HasCapability(d, usb::kSuperSpeedPlusCapability) ? 8u : 0u);
  }
  usb::Write32(buffer + usb::kConnectionV2Protocols, protocols);
  usb::Write32(buffer + usb::kConnectionV2Flags, flags);
  return {0, usb::kConnectionV2Size};
}

Outcome ConnectorProperties(const Port& port, std::uint8_t* buffer, std::uint32_t size) {
  const Connector& c = port.connector;
  std::memset(buffer + 4, 0, usb::kConnectorSize - 4);
  usb::Write32(buffer + usb::kConnectorProperties, (c.userConnectable ? 1u : 0u) | (c.debugCapable ? 2u : 0u) |
                                                       (c.multipleCompanions ? 4u : 0u) | (c.typeC ? 8u : 0u));
  usb::Write16(buffer + usb::kConnectorCompanionIndex, c.companionIndex);
  usb::Write16(buffer + usb::kConnectorCompanionPort, c.companionPort);
  return {0, WriteName(buffer, size, usb::kConnectorActualLength, usb::kConnectorCompanionName, c.companionHubName)};
}

// The descriptor the device on the port returns for a GET_DESCRIPTOR, or
// false when it stalls the request.
bool DescriptorOf(const Device& device, std::uint16_t value, Bytes* reply) {
  const std::uint8_t type = static_cast<std::uint8_t>(value >> 8), index = static_cast<std::uint8_t>(value);
  if (value == 0x0100) {
    *reply = DeviceDescriptorBytes(device);
  } else if (type == 2 && index == 0) {
    *reply = ConfigurationBytes(device);
  } else if (value == usb::kQualifierDescriptorValue && device.answersQualifier) {
    *reply = QualifierBytes(device);
  } else if (value == usb::kOtherSpeedDescriptorValue && !device.otherSpeedConfiguration.empty()) {
    *reply = Bytes(device.otherSpeedConfiguration.begin(), device.otherSpeedConfiguration.end());
  } else if (value == usb::kBosDescriptorValue && device.answersBos) {
    *reply = BosBytes(device);
  } else if (type == 3 && index == 0) {
    *reply = {static_cast<std::uint8_t>(2 + 2 * device.languages.size()), 3};
    for (std::uint16_t language : device.languages) {
      reply->push_back(static_cast<std::uint8_t>(language));
      reply->push_back(static_cast<std::uint8_t>(language >> 8));
    }
  } else if (type == 3 && device.strings.count(index) != 0) {
    const std::u16string& text = device.strings.at(index);
    *reply = {static_cast<std::uint8_t>(std::min<std::size_t>(255, 2 + 2 * text.size())), 3};
    for (char16_t unit : text) {
      reply->push_back(static_cast<std::uint8_t>(unit));
      reply->push_back(static_cast<std::uint8_t>(unit >> 8));
    }
  } else {
    return false;
  }
  return true;
}

Outcome Descriptor(const Port& port, std::uint8_t* buffer, std::uint32_t size) {
  if (!Connected(port) || !port.device) return {kErrorGenFailure, 0};
  const Device& device = *port.device;
  if (device.descriptorError != 0) return {device.descriptorError, 0};
  Bytes reply;
  if (!DescriptorOf(device, usb::Read16(buffer + usb::kSetupValue), &reply)) return {kErrorGenFailure, 0};
  // Never more than asked for, never beyond the caller's buffer.
  std::size_t count = std::min<std::size_t>(reply.size(), usb::Read16(buffer + usb::kSetupLength));
  count = std::min<std::size_t>(count, size - usb::kDescriptorData);
  std::memcpy(buffer + usb::kDescriptorData, reply.data(), count);
  return {0, usb::kDescriptorData + static_cast<std::uint32_t>(count)};
}

Outcome PortAnswer(const Hub& hub, const Port& port, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size) {
  switch (code) {
    case usb::kIoctlGetNodeConnectionInformation:
    case usb::kIoctlGetNodeConnectionInformationEx:
      return ConnectionInformation(hub, port, code == usb::kIoctlGetNodeConnectionInformationEx, buffer, size);
    case usb::kIoctlGetNodeConnectionInformationExV2:
      return ConnectionInformationV2(hub, port, buffer);
    case usb::kIoctlGetNodeConnectionName:
      if (!Connected(port) || !port.hub) return {kErrorInvalidParameter, 0};
      if (port.nameError != 0) return {port.nameError, 0};
      return {0, WriteName(buffer, size, usb::kConnectionNameActualLength, usb::kConnectionNameText, port.name)};
    case usb::kIoctlGetNodeConnectionDriverkeyName:
      if (!Connected(port) || !port.device) return {kErrorInvalidParameter, 0};
      return {0, WriteName(buffer, size, usb::kConnectionNameActualLength, usb::kConnectionNameText,
                           port.device->driverKeyName)};
    case usb::kIoctlGetPortConnectorProperties:
      return ConnectorProperties(port, buffer, size);
    default:
      return Descriptor(port, buffer, size);
  }
}

// The requests a hub of Windows 2000 knows nothing of.
bool NewerThanLegacy(std::uint32_t code) {
  return code == usb::kIoctlGetNodeConnectionInformationEx || code == usb::kIoctlGetNodeConnectionInformationExV2 ||
         code == usb::kIoctlGetHubInformationEx || code == usb::kIoctlGetHubCapabilities ||
         code == usb::kIoctlGetHubCapabilitiesEx || code == usb::kIoctlGetPortConnectorProperties;
}

// The requests whose pages give Windows 8 as the minimum client.
bool NewerThanWindows7(std::uint32_t code) {
  return code == usb::kIoctlGetNodeConnectionInformationExV2 || code == usb::kIoctlGetHubInformationEx ||
         code == usb::kIoctlGetPortConnectorProperties;
}

}  // namespace

Outcome AnswerHubRequest(const Hub& hub, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size) {
  if (hub.legacy && NewerThanLegacy(code)) return {kErrorInvalidFunction, 0};
  if (hub.windows7 && NewerThanWindows7(code)) return {kErrorInvalidFunction, 0};
  switch (code) {
    case usb::kIoctlGetNodeInformation:
    case usb::kIoctlGetHubInformationEx:
    case usb::kIoctlGetHubCapabilities:
    case usb::kIoctlGetHubCapabilitiesEx:
      if (hub.nodeInfoError != 0) return {hub.nodeInfoError, 0};
      if (code == usb::kIoctlGetNodeInformation) return NodeInformation(hub, buffer, size);
      if (code == usb::kIoctlGetHubInformationEx) return HubInformationEx(hub, buffer, size);
      return Capabilities(hub, code == usb::kIoctlGetHubCapabilitiesEx, buffer, size);
    default:
      break;
  }
  const PortRequest* request = nullptr;
  for (const PortRequest& known : kPortRequests) {
    if (known.code == code) request = &known;
  }
  if (request == nullptr) return {kErrorInvalidFunction, 0};  // controller requests, and any the stack does not serve
  if (size < request->smallest) return {kErrorInvalidParameter, 0};
  const std::uint32_t index = usb::Read32(buffer + usb::kConnectionIndex);
  if (index < 1 || index > static_cast<std::uint32_t>(hub.numberOfPorts)) return {kErrorInvalidParameter, 0};
  static const Port kEmptyPort;
  const Port& port = index <= hub.ports.size() ? hub.ports[index - 1] : kEmptyPort;
  return PortAnswer(hub, port, code, buffer, size);
}

}  // namespace qm::sim
