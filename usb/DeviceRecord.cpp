// The per-port records and the reading of a device's identity: its
// identifiers from the device descriptor, its strings through the hub.
#include <cstring>
#include <vector>

#include "usb/UsbIoctl.h"
#include "usb/UsbWalk.h"

namespace qm {

UsbScanStateRecord UsbScanState;

void ResetUsbScanState() { UsbScanState = UsbScanStateRecord(); }

USB_BASIC_ALLINFO* AppendDeviceRecord() {
  if (UsbScanState.deviceCount >= kMaxDeviceRecords) return nullptr;  // the count never wraps
  ++UsbScanState.deviceCount;
  UsbScanState.devices.resize(static_cast<std::size_t>(UsbScanState.deviceCount));
  return &UsbScanState.devices.back();
}

namespace {

// One descriptor request in a cleared 2060-byte buffer; the buffer holds
// the reply afterwards, or stays cleared when the request failed.
std::vector<std::uint8_t> RequestDescriptor(Handle hub, std::uint32_t port, std::uint16_t value,
                                            std::uint16_t index, std::uint16_t length) {
  std::vector<std::uint8_t> buffer = RequestBuffer(UsbRequest::kDescriptor);
  SetDescriptorRequest(buffer, port, value, index, length);
  SendRequest(hub, UsbRequest::kDescriptor, buffer);  // a failure reads as the cleared buffer
  return buffer;
}

// The string descriptor's text: the low byte of each UTF-16 code unit from
// data byte 2 on, up to the first code unit whose low byte is 0 or the end
// of the buffer. The descriptor's own length byte is not trusted.
std::string TextOfStringDescriptor(const std::vector<std::uint8_t>& buffer) {
  std::string text;
  for (std::size_t at = usb::kDescriptorData + 2; at + 1 < buffer.size(); at += 2) {
    if (buffer[at] == 0) break;
    text += static_cast<char>(buffer[at]);
  }
  return text;
}

}  // namespace

std::string ReadStringDescriptor(std::uint16_t* language, Handle hub, std::uint32_t port, std::uint8_t index) {
  if (*language == 0) {
    const std::vector<std::uint8_t> languages = RequestDescriptor(hub, port, usb::kStringDescriptorValue, 0, 4);
    *language = usb::Read16(&languages[usb::kDescriptorData + 2]);  // the first language listed
  }
  const std::vector<std::uint8_t> reply =
      RequestDescriptor(hub, port, static_cast<std::uint16_t>(usb::kStringDescriptorValue + index), *language, 255);
  return TextOfStringDescriptor(reply);
}

DeviceIdentity ReadDeviceIdentity(const std::uint8_t* deviceDescriptor, std::uint32_t port, Handle hub) {
  DeviceIdentity identity;
  identity.vendorId = usb::Read16(deviceDescriptor + usb::kDescIdVendor);
  identity.productId = usb::Read16(deviceDescriptor + usb::kDescIdProduct);
  identity.deviceClass = deviceDescriptor[usb::kDescDeviceClass];
  identity.deviceSubClass = deviceDescriptor[usb::kDescDeviceSubClass];
  identity.deviceProtocol = deviceDescriptor[usb::kDescDeviceProtocol];
  std::uint16_t language = 0;  // known per device only
  const std::pair<std::uint8_t, std::string*> strings[] = {
      {deviceDescriptor[usb::kDescIManufacturer], &identity.manufacturer},
      {deviceDescriptor[usb::kDescIProduct], &identity.product},
      {deviceDescriptor[usb::kDescISerialNumber], &identity.serialNumber}};
  for (const auto& [index, text] : strings) {
    if (index != 0) *text = ReadStringDescriptor(&language, hub, port, index);
  }
  return identity;
}

}  // namespace qm
