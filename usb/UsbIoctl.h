// The USB stack's device I/O control requests and the byte layouts of their
// buffers, as the Windows SDK's usbioctl.h defines them (all structures packed
// to 1 byte). The walk builds and reads these buffers byte by byte; the
// Windows build checks every offset here against the SDK's structures.
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

// USB_HCD_DRIVERKEY_NAME and USB_ROOT_HUB_NAME share one 516-byte buffer.
constexpr std::uint32_t kNameBufferSize = 516;
constexpr std::uint32_t kNameActualLength = 0;  // ULONG
constexpr std::uint32_t kNameText = 4;          // WCHAR[]

// USB_NODE_INFORMATION, 76 bytes.
constexpr std::uint32_t kNodeInfoSize = 76;
constexpr std::uint32_t kNodeInfoNodeType = 0;        // USB_HUB_NODE
constexpr std::uint32_t kNodeInfoDescriptorLength = 4;  // HubDescriptor.bDescriptorLength
constexpr std::uint32_t kNodeInfoDescriptorType = 5;    // HubDescriptor.bDescriptorType
constexpr std::uint32_t kNodeInfoNumberOfPorts = 6;     // HubDescriptor.bNumberOfPorts

// USB_NODE_CONNECTION_INFORMATION: 35 bytes, then one USB_PIPE_INFO per open
// pipe; the walk's buffer of 388 bytes has room for 32.
constexpr std::uint32_t kConnectionInfoSize = 388;
constexpr std::uint32_t kConnectionInfoFixedSize = 35;
constexpr std::uint32_t kConnectionIndex = 0;           // ULONG, in every per-port request
constexpr std::uint32_t kConnectionDeviceDescriptor = 4;  // USB_DEVICE_DESCRIPTOR, 18 bytes
constexpr std::uint32_t kConnectionDeviceIsHub = 24;    // BOOLEAN
constexpr std::uint32_t kConnectionStatus = 31;         // USB_CONNECTION_STATUS (ULONG)

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

// USB_CONNECTION_STATUS
constexpr std::uint32_t kDeviceConnected = 1;

// The standard device descriptor (18 bytes).
constexpr std::uint32_t kDeviceDescriptorSize = 18;
constexpr std::uint32_t kDescDeviceClass = 4;
constexpr std::uint32_t kDescDeviceSubClass = 5;
constexpr std::uint32_t kDescDeviceProtocol = 6;
constexpr std::uint32_t kDescIdVendor = 8;
constexpr std::uint32_t kDescIdProduct = 10;
constexpr std::uint32_t kDescIManufacturer = 14;
constexpr std::uint32_t kDescIProduct = 15;
constexpr std::uint32_t kDescISerialNumber = 16;

// GET_DESCRIPTOR of a string, device to host.
constexpr std::uint8_t kRequestTypeDeviceToHost = 0x80;
constexpr std::uint8_t kRequestGetDescriptor = 6;
constexpr std::uint16_t kStringDescriptorValue = 0x0300;

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
