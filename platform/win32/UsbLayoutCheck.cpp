// The walk's and usbscan's buffer layouts, checked against the Windows
// SDK's structures. Only static checks here: the headers are read as for
// Windows 8, where _EX_V2 and the later connection states are declared;
// the programs themselves still ask for nothing newer than Windows XP.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#include "platform/win32/WinApi.h"

#include <cstddef>
#include <winioctl.h>
#include <usbioctl.h>
#include <usbiodef.h>

#include "usb/UsbIoctl.h"

namespace qm::usb {

static_assert(IOCTL_GET_HCD_DRIVERKEY_NAME == kIoctlGetHcdDriverkeyName, "driver key code");
static_assert(IOCTL_USB_GET_ROOT_HUB_NAME == kIoctlGetRootHubName, "root hub name code");
static_assert(IOCTL_USB_GET_NODE_INFORMATION == kIoctlGetNodeInformation, "node information code");
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION == kIoctlGetNodeConnectionInformation, "connection code");
static_assert(IOCTL_USB_GET_NODE_CONNECTION_NAME == kIoctlGetNodeConnectionName, "connection name code");
static_assert(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION == kIoctlGetDescriptorFromNodeConnection,
              "descriptor code");

static_assert(offsetof(USB_HCD_DRIVERKEY_NAME, ActualLength) == kNameActualLength, "");
static_assert(offsetof(USB_HCD_DRIVERKEY_NAME, DriverKeyName) == kNameText, "");
static_assert(offsetof(USB_ROOT_HUB_NAME, RootHubName) == kNameText, "");
static_assert(sizeof(USB_NODE_INFORMATION) == kNodeInfoSize, "");
static_assert(offsetof(USB_NODE_INFORMATION, NodeType) == kNodeInfoNodeType, "");
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bDescriptorLength) ==
                  kNodeInfoDescriptorLength, "");
static_assert(offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) ==
                  kNodeInfoNumberOfPorts, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionIndex) == kConnectionIndex, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceDescriptor) == kConnectionDeviceDescriptor, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceIsHub) == kConnectionDeviceIsHub, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus) == kConnectionStatus, "");
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION) + 30 * sizeof(USB_PIPE_INFO) <= kConnectionInfoSize, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION, PipeList) == kConnectionInfoFixedSize, "");
static_assert(offsetof(USB_NODE_CONNECTION_NAME, ActualLength) == kConnectionNameActualLength, "");
static_assert(offsetof(USB_NODE_CONNECTION_NAME, NodeName) == kConnectionNameText, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bmRequest) == kSetupRequestType, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bRequest) == kSetupRequest, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wValue) == kSetupValue, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wIndex) == kSetupIndex, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wLength) == kSetupLength, "");
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == kDescriptorData, "");
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == kDeviceDescriptorSize, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, bDeviceClass) == kDescDeviceClass, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, bDeviceSubClass) == kDescDeviceSubClass, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, bDeviceProtocol) == kDescDeviceProtocol, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, idVendor) == kDescIdVendor, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, idProduct) == kDescIdProduct, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, iManufacturer) == kDescIManufacturer, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, iProduct) == kDescIProduct, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, iSerialNumber) == kDescISerialNumber, "");
static_assert(DeviceConnected == kDeviceConnected, "");
static_assert(NoDeviceConnected == kNoDeviceConnected && DeviceReset == 10, "connection states 0 to 10");

// usbscan's requests: _EX, _EX_V2 and the configuration descriptor's header.
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX == kIoctlGetNodeConnectionInformationEx, "_EX code");
static_assert(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX_V2 == kIoctlGetNodeConnectionInformationExV2, "_EX_V2");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionIndex) == kConnectionIndex, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceDescriptor) == kConnectionDeviceDescriptor, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, CurrentConfigurationValue) ==
                  kConnectionCurrentConfiguration, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, Speed) == kConnectionSpeed, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceIsHub) == kConnectionDeviceIsHub, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, DeviceAddress) == kConnectionDeviceAddress, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, NumberOfOpenPipes) == kConnectionOpenPipes, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus) == kConnectionStatus, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) == kConnectionInfoFixedSize, "");
static_assert(sizeof(USB_PIPE_INFO) == kPipeInfoSize, "");
static_assert(UsbLowSpeed == kSpeedLow && UsbFullSpeed == kSpeedFull && UsbHighSpeed == kSpeedHigh &&
                  UsbSuperSpeed == kSpeedSuper, "USB_DEVICE_SPEED");
static_assert(sizeof(USB_NODE_CONNECTION_INFORMATION_EX_V2) == kConnectionV2Size, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, ConnectionIndex) == kConnectionIndex, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, Length) == kConnectionV2Length, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, SupportedUsbProtocols) == kConnectionV2Protocols, "");
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX_V2, Flags) == kConnectionV2Flags, "");
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9, "the configuration header usbscan asks first");
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, wTotalLength) == 2, "");
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, bmAttributes) == 7, "");
static_assert(offsetof(USB_CONFIGURATION_DESCRIPTOR, MaxPower) == 8, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, bcdUSB) == kDescBcdUsb, "");
static_assert(offsetof(USB_DEVICE_DESCRIPTOR, bcdDevice) == kDescBcdDevice, "");

}  // namespace qm::usb
