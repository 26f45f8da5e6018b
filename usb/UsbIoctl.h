// The USB stack's device I/O control requests and the byte layouts of their
// buffers, as the Windows SDK's usbioctl.h defines them (all structures packed
// to 1 byte). The walk and usbscan build and read these buffers byte by
// byte; the Windows build (platform/win32/UsbLayoutCheck.cpp) checks the
// offsets of every structure either reads against the SDK's structures:
// the names, node and connection information (also _EX and _EX_V2), the
// descriptor request, and the device and configuration descriptors' fields.
// The _EX_V2 flag bits are bit-fields there and are not checked.
#pragma once

#include <cstdint>

namespace qm::usb {

// Control codes: FILE_DEVICE_USB, METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr std::uint32_t kIoctlGetHcdDriverkeyName = 0x220424;
constexpr std::uint32_t kIoctlGetRootHubName = 0x220408;      // sent to a controller
constexpr std::uint32_t kIoctlGetNodeInformation = 0x220408;  // sent to a hub
constexpr std::uint32_t kIoctlGetNodeConnectionInformation = 0x22040C;
constexpr std::uint32_t kIoctlGetDescriptorFromNodeConnection = 0x220410;
constexpr std::uint32_t kIoctlGetNodeConnectionName = 0x220414;
// Requests the launcher never sends: usbscan's details, and what other
// clients of the stack ask (the test USB stack answers them all).
constexpr std::uint32_t kIoctlGetNodeConnectionDriverkeyName = 0x220420;
constexpr std::uint32_t kIoctlUsbUserRequest = 0x220438;  // sent to a controller
constexpr std::uint32_t kIoctlGetHubCapabilities = 0x22043C;
constexpr std::uint32_t kIoctlGetNodeConnectionAttributes = 0x220440;
constexpr std::uint32_t kIoctlGetNodeConnectionInformationEx = 0x220448;
constexpr std::uint32_t kIoctlGetHubCapabilitiesEx = 0x220450;
constexpr std::uint32_t kIoctlGetHubInformationEx = 0x220454;
constexpr std::uint32_t kIoctlGetPortConnectorProperties = 0x220458;
constexpr std::uint32_t kIoctlGetNodeConnectionInformationExV2 = 0x22045C;

// USB_HCD_DRIVERKEY_NAME and USB_ROOT_HUB_NAME share one 516-byte buffer.
constexpr std::uint32_t kNameBufferSize = 516;
constexpr std::uint32_t kNameActualLength = 0;  // ULONG
constexpr std::uint32_t kNameText = 4;          // WCHAR[]
constexpr std::uint32_t kNameStructSize = 6;    // sizeof(USB_HCD_DRIVERKEY_NAME): one WCHAR

// USB_NODE_INFORMATION, 76 bytes.
constexpr std::uint32_t kNodeInfoSize = 76;
constexpr std::uint32_t kNodeInfoNodeType = 0;        // USB_HUB_NODE
constexpr std::uint32_t kNodeInfoDescriptorLength = 4;  // HubDescriptor.bDescriptorLength
constexpr std::uint32_t kNodeInfoDescriptorType = 5;    // HubDescriptor.bDescriptorType
constexpr std::uint32_t kNodeInfoNumberOfPorts = 6;     // HubDescriptor.bNumberOfPorts
constexpr std::uint32_t kNodeInfoHubDescriptor = 4;     // USB_HUB_DESCRIPTOR, 71 bytes
constexpr std::uint32_t kNodeInfoHubIsBusPowered = 75;  // BOOLEAN
// USB_HUB_DESCRIPTOR: length, type, ports, wHubCharacteristics,
// bPowerOnToPowerGood, bHubControlCurrent, bRemoveAndPowerMask[64].
constexpr std::uint32_t kHubDescriptorSize = 71;

// USB_NODE_CONNECTION_INFORMATION: 35 bytes, then one USB_PIPE_INFO per open
// pipe; the walk's buffer of 388 bytes has room for 32.
constexpr std::uint32_t kConnectionInfoSize = 388;
constexpr std::uint32_t kConnectionInfoFixedSize = 35;
constexpr std::uint32_t kConnectionIndex = 0;           // ULONG, in every per-port request
constexpr std::uint32_t kConnectionDeviceDescriptor = 4;  // USB_DEVICE_DESCRIPTOR, 18 bytes
constexpr std::uint32_t kConnectionCurrentConfiguration = 22;  // UCHAR
constexpr std::uint32_t kConnectionSpeed = 23;          // UCHAR Speed (_EX), BOOLEAN LowSpeed (not _EX)
constexpr std::uint32_t kConnectionDeviceIsHub = 24;    // BOOLEAN
constexpr std::uint32_t kConnectionDeviceAddress = 25;  // USHORT
constexpr std::uint32_t kConnectionOpenPipes = 27;      // ULONG
constexpr std::uint32_t kConnectionStatus = 31;         // USB_CONNECTION_STATUS (ULONG)
constexpr std::uint32_t kPipeInfoSize = 11;             // USB_PIPE_INFO: endpoint descriptor, ScheduleOffset
// USB_DEVICE_SPEED, in _EX's Speed.
constexpr std::uint8_t kSpeedLow = 0, kSpeedFull = 1, kSpeedHigh = 2, kSpeedSuper = 3;

// USB_NODE_CONNECTION_INFORMATION_EX_V2, 16 bytes.
constexpr std::uint32_t kConnectionV2Size = 16;
constexpr std::uint32_t kConnectionV2Length = 4;     // ULONG, set by the caller
constexpr std::uint32_t kConnectionV2Protocols = 8;  // USB_PROTOCOLS: Usb110 1, Usb200 2, Usb300 4
constexpr std::uint32_t kConnectionV2Flags = 12;     // operating at / capable of SuperSpeed, SuperSpeedPlus
constexpr std::uint32_t kProtocolUsb110 = 1, kProtocolUsb200 = 2, kProtocolUsb300 = 4;
// USB_NODE_CONNECTION_INFORMATION_EX_V2_FLAGS, bit by bit.
constexpr std::uint32_t kFlagOperatingAtSuperSpeed = 1;  // DeviceIsOperatingAtSuperSpeedOrHigher
constexpr std::uint32_t kFlagSuperSpeedCapable = 2;      // DeviceIsSuperSpeedCapableOrHigher
constexpr std::uint32_t kFlagOperatingAtSuperSpeedPlus = 4;
constexpr std::uint32_t kFlagSuperSpeedPlusCapable = 8;

// USB_NODE_CONNECTION_DRIVERKEY_NAME: as the connection name, 10 bytes.
constexpr std::uint32_t kConnectionNameStructSize = 10;

// USB_HUB_INFORMATION_EX: USB_HUB_TYPE, USHORT HighestPortNumber, then the
// 2.0 or 3.0 hub descriptor.
constexpr std::uint32_t kHubInfoExSize = 77;
constexpr std::uint32_t kHubInfoExHighestPort = 4;
constexpr std::uint32_t kHubInfoExDescriptor = 6;
constexpr std::uint32_t kHubTypeRoot = 1, kHubType20 = 2, kHubType30 = 3;

// USB_HUB_CAPABILITIES and USB_HUB_CAPABILITIES_EX: one ULONG of flags.
constexpr std::uint32_t kHubCapabilitiesSize = 4;

// USB_PORT_CONNECTOR_PROPERTIES, 18 bytes with one WCHAR of the companion
// hub's name.
constexpr std::uint32_t kConnectorSize = 18;
constexpr std::uint32_t kConnectorActualLength = 4;
constexpr std::uint32_t kConnectorProperties = 8;  // user-connectable 1, debug-capable 2, several companions 4, type-C 8
constexpr std::uint32_t kConnectorCompanionIndex = 12;  // USHORT
constexpr std::uint32_t kConnectorCompanionPort = 14;   // USHORT
constexpr std::uint32_t kConnectorCompanionName = 16;   // WCHAR[]

// IOCTL_USB_USER_REQUEST: USBUSER_REQUEST_HEADER, then the request's own part.
constexpr std::uint32_t kUserHeaderSize = 16;
constexpr std::uint32_t kUserRequestCode = 0;
constexpr std::uint32_t kUserStatusCode = 4;  // USB_USER_ERROR_CODE
constexpr std::uint32_t kUserRequestBufferLength = 8;
constexpr std::uint32_t kUserActualBufferLength = 12;
constexpr std::uint32_t kUserGetControllerInfo0 = 1, kUserGetControllerDriverKey = 2, kUserGetPowerStateMap = 4,
                        kUserGetRootHubSymbolicName = 7;
constexpr std::uint32_t kUserSuccess = 0, kUserInvalidRequestCode = 2, kUserInvalidParameter = 5,
                        kUserBufferTooSmall = 7;
constexpr std::uint32_t kControllerInfo0Size = 24;  // USB_CONTROLLER_INFO_0
constexpr std::uint32_t kPowerInfoSize = 34;        // USB_POWER_INFO
constexpr std::uint32_t kUnicodeNameSize = 6;       // USB_UNICODE_NAME: ULONG Length, WCHAR[1]

// USB_NODE_CONNECTION_NAME, 520 bytes.
constexpr std::uint32_t kConnectionNameSize = 520;
constexpr std::uint32_t kConnectionNameActualLength = 4;  // ULONG
constexpr std::uint32_t kConnectionNameText = 8;          // WCHAR[]

// USB_DESCRIPTOR_REQUEST: connection index, setup packet, then the data.
constexpr std::uint32_t kDescriptorRequestSize = 2060;
constexpr std::uint32_t kSetupRequestType = 4;  // bmRequest
constexpr std::uint32_t kSetupRequest = 5;      // bRequest
constexpr std::uint32_t kSetupValue = 6;        // wValue
constexpr std::uint32_t kSetupIndex = 8;        // wIndex
constexpr std::uint32_t kSetupLength = 10;      // wLength
constexpr std::uint32_t kDescriptorData = 12;

// USB_CONNECTION_STATUS: NoDeviceConnected 0, DeviceConnected 1, then the
// states of a port in trouble, 2 (DeviceFailedEnumeration) to 10 (DeviceReset).
constexpr std::uint32_t kNoDeviceConnected = 0;
constexpr std::uint32_t kDeviceConnected = 1;

// The standard device descriptor (18 bytes).
constexpr std::uint32_t kDeviceDescriptorSize = 18;
constexpr std::uint32_t kDescBcdUsb = 2;
constexpr std::uint32_t kDescDeviceClass = 4;
constexpr std::uint32_t kDescDeviceSubClass = 5;
constexpr std::uint32_t kDescDeviceProtocol = 6;
constexpr std::uint32_t kDescMaxPacketSize0 = 7;
constexpr std::uint32_t kDescIdVendor = 8;
constexpr std::uint32_t kDescIdProduct = 10;
constexpr std::uint32_t kDescIManufacturer = 14;
constexpr std::uint32_t kDescIProduct = 15;
constexpr std::uint32_t kDescBcdDevice = 12;
constexpr std::uint32_t kDescISerialNumber = 16;
constexpr std::uint32_t kDescNumConfigurations = 17;

// GET_DESCRIPTOR of a string, device to host.
constexpr std::uint8_t kRequestTypeDeviceToHost = 0x80;
constexpr std::uint8_t kRequestGetDescriptor = 6;
constexpr std::uint16_t kStringDescriptorValue = 0x0300;
constexpr std::uint16_t kConfigurationDescriptorValue = 0x0200;
constexpr std::uint16_t kQualifierDescriptorValue = 0x0600;
constexpr std::uint16_t kOtherSpeedDescriptorValue = 0x0700;
constexpr std::uint16_t kBosDescriptorValue = 0x0F00;
// Descriptor types inside a configuration and a BOS.
constexpr std::uint8_t kInterfaceDescriptorType = 4;
constexpr std::uint8_t kEndpointDescriptorType = 5;
constexpr std::uint8_t kAssociationDescriptorType = 0x0B;
constexpr std::uint8_t kCapabilityDescriptorType = 0x10;
constexpr std::uint8_t kSuperSpeedCapability = 3, kSuperSpeedPlusCapability = 0x0A;

// Little-endian access inside a buffer; the caller keeps the offsets inside.
inline std::uint16_t Read16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }
inline std::uint32_t Read32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
inline void Write16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void Write32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace qm::usb
