// The one way the walk sends a request to the USB stack, and how a
// descriptor request is asked.
#include <algorithm>

#include "usb/UsbIoctl.h"
#include "usb/UsbWalk.h"

namespace qm {

namespace {

struct RequestKind {
  std::uint32_t code;
  std::uint32_t size;
  // What a failed request leaves for the walk to read: the buffer cleared,
  // or as it was (the root hub name request answers into the driver key
  // request's buffer, and a failed one leaves that name there).
  bool clearOnFailure;
};

const RequestKind& KindOf(UsbRequest request) {
  static const RequestKind kKinds[] = {
      {usb::kIoctlGetHcdDriverkeyName, usb::kNameBufferSize, true},
      {usb::kIoctlGetRootHubName, usb::kNameBufferSize, false},
      {usb::kIoctlGetNodeInformation, usb::kNodeInfoSize, true},
      {usb::kIoctlGetNodeConnectionInformation, usb::kConnectionInfoSize, true},
      {usb::kIoctlGetNodeConnectionName, usb::kConnectionNameSize, true},
      {usb::kIoctlGetDescriptorFromNodeConnection, usb::kDescriptorRequestSize, true},
  };
  return kKinds[static_cast<int>(request)];
}

}  // namespace

std::vector<std::uint8_t> RequestBuffer(UsbRequest request) {
  return std::vector<std::uint8_t>(KindOf(request).size, 0);
}

bool SendRequest(Handle device, UsbRequest request, std::vector<std::uint8_t>& buffer) {
  const RequestKind& kind = KindOf(request);
  std::uint32_t returned = 0;
  const bool ok =
      Devices().DeviceIoControl(device, kind.code, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &returned);
  if (!ok) {
    // A failing stack may have written into the buffer all the same.
    if (kind.clearOnFailure) std::fill(buffer.begin(), buffer.end(), 0);
    return false;
  }
  // Nothing past the bytes returned is read: beyond them, the buffer reads
  // as the stack's cleared buffer would.
  if (returned < buffer.size()) std::fill(buffer.begin() + returned, buffer.end(), 0);
  return true;
}

void SetDescriptorRequest(std::vector<std::uint8_t>& buffer, std::uint32_t port, std::uint16_t value,
                          std::uint16_t index, std::uint16_t length) {
  usb::Write32(&buffer[usb::kConnectionIndex], port);
  buffer[usb::kSetupRequestType] = usb::kRequestTypeDeviceToHost;
  buffer[usb::kSetupRequest] = usb::kRequestGetDescriptor;
  usb::Write16(&buffer[usb::kSetupValue], value);
  usb::Write16(&buffer[usb::kSetupIndex], index);
  usb::Write16(&buffer[usb::kSetupLength], length);
}

}  // namespace qm
