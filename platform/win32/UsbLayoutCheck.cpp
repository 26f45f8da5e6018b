// The walk's buffer layouts, checked against the Windows SDK's structures.
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

}  // namespace qm::usb
