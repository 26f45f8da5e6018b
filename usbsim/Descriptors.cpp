// Descriptor bytes for the simulated stack's devices and hubs.
#include "usbsim/Descriptors.h"

#include <algorithm>

#include "usb/UsbIoctl.h"

namespace qm::sim {

namespace {

void Put16(Bytes* out, std::uint16_t value) {
  out->push_back(static_cast<std::uint8_t>(value));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
}

// Grown first, then copied: GCC 12 at -O3 warns falsely (-Warray-bounds)
// on a vector insert into a vector built from a short initializer list.
void Append(Bytes* out, const Bytes& more) {
  const std::size_t at = out->size();
  out->resize(at + more.size());
  std::copy(more.begin(), more.end(), out->begin() + static_cast<std::ptrdiff_t>(at));
}

void PutAssociation(Bytes* out, const Association& a) {
  Append(out, {8, usb::kAssociationDescriptorType, a.firstInterface, a.interfaceCount, a.functionClass,
               a.functionSubClass, a.functionProtocol, a.iFunction});
}

void PutInterface(Bytes* out, const Interface& i) {
  Append(out, {9, usb::kInterfaceDescriptorType, i.number, i.alternateSetting,
               static_cast<std::uint8_t>(i.endpoints.size()), i.interfaceClass, i.subClass, i.protocol, i.iInterface});
  Append(out, i.extra);
  for (const Endpoint& e : i.endpoints) {
    Append(out, {static_cast<std::uint8_t>(e.audio ? 9 : 7), usb::kEndpointDescriptorType, e.address, e.attributes});
    Put16(out, e.maxPacketSize);
    out->push_back(e.interval);
    if (e.audio) Append(out, {e.refresh, e.synchAddress});
    Append(out, e.extra);
  }
}

// Distinct interface numbers: bNumInterfaces.
std::uint8_t InterfaceCount(const Configuration& c) {
  std::vector<bool> seen(256, false);
  int count = 0;
  for (const Interface& i : c.interfaces) {
    if (!seen[i.number]) ++count;
    seen[i.number] = true;
  }
  return static_cast<std::uint8_t>(count);
}

}  // namespace

int MaxPowerUnit(Speed speed) { return speed >= Speed::kSuper ? 8 : 2; }

Bytes DeviceDescriptorBytes(const Device& device) {
  Bytes d(usb::kDeviceDescriptorSize, 0);
  d[0] = 18;
  d[1] = 1;  // DEVICE
  usb::Write16(&d[usb::kDescBcdUsb], device.bcdUsb);
  d[usb::kDescDeviceClass] = device.deviceClass;
  d[usb::kDescDeviceSubClass] = device.deviceSubClass;
  d[usb::kDescDeviceProtocol] = device.deviceProtocol;
  d[usb::kDescMaxPacketSize0] = device.maxPacketSize0;
  usb::Write16(&d[usb::kDescIdVendor], device.idVendor);
  usb::Write16(&d[usb::kDescIdProduct], device.idProduct);
  usb::Write16(&d[usb::kDescBcdDevice], device.bcdDevice);
  d[usb::kDescIManufacturer] = device.iManufacturer;
  d[usb::kDescIProduct] = device.iProduct;
  d[usb::kDescISerialNumber] = device.iSerialNumber;
  d[usb::kDescNumConfigurations] = device.numConfigurations;
  return d;
}

Bytes ConfigurationBytes(const Device& device) {
  const Configuration& c = device.configuration;
  // bLength, bDescriptorType, wTotalLength (below), bNumInterfaces,
  // bConfigurationValue, iConfiguration, bmAttributes, bMaxPower.
  Bytes out{9, 2, 0, 0, InterfaceCount(c), c.value, c.iConfiguration, c.attributes,
            static_cast<std::uint8_t>(c.maxPowerMilliamps / MaxPowerUnit(device.speed))};
  Append(&out, c.extra);
  std::vector<bool> associated(c.associations.size(), false);
  for (const Interface& i : c.interfaces) {
    for (std::size_t a = 0; a < c.associations.size(); ++a) {
      if (!associated[a] && c.associations[a].firstInterface == i.number) {
        PutAssociation(&out, c.associations[a]);
        associated[a] = true;
      }
    }
    PutInterface(&out, i);
  }
  // The reader keeps the whole set within wTotalLength's 16 bits.
  usb::Write16(&out[2], static_cast<std::uint16_t>(out.size()));
  return out;
}

Bytes QualifierBytes(const Device& device) {
  if (!device.qualifier.empty()) return Bytes(device.qualifier.begin(), device.qualifier.end());
  Bytes q{10, 6, 0, 0, device.deviceClass, device.deviceSubClass, device.deviceProtocol, device.maxPacketSize0,
          device.numConfigurations, 0};
  usb::Write16(&q[2], device.bcdUsb);
  return q;
}

Bytes BosBytes(const Device& device) {
  Bytes out{5, 0x0F, 0, 0, 0};
  int count = 0;
  for (std::size_t at = 0; at < device.capabilities.size() && device.capabilities[at] != 0;
       at += device.capabilities[at]) {
    ++count;
  }
  out[4] = static_cast<std::uint8_t>(count);
  Append(&out, device.capabilities);
  usb::Write16(&out[2], static_cast<std::uint16_t>(out.size()));
  return out;
}

std::vector<const Endpoint*> OpenPipes(const Device& device) {
  std::vector<const Endpoint*> pipes;
  const std::vector<Interface>& interfaces = device.configuration.interfaces;
  for (const Interface& i : interfaces) {
    const bool someSelected = std::any_of(interfaces.begin(), interfaces.end(), [&i](const Interface& other) {
      return other.number == i.number && other.selected;
    });
    if (someSelected ? !i.selected : i.alternateSetting != 0) continue;
    for (const Endpoint& e : i.endpoints) pipes.push_back(&e);
  }
  return pipes;
}

Bytes HubDescriptorBytes(const Hub& hub) {
  Bytes d(usb::kHubDescriptorSize, 0);
  // DeviceRemovable and PortPwrCtrlMask: one bit a port and bit 0
  // reserved, so (ports + 8) / 8 bytes each.
  const int maskBytes = (hub.numberOfPorts + 8) / 8;
  d[0] = static_cast<std::uint8_t>(7 + 2 * maskBytes);
  d[1] = 0x29;
  d[2] = static_cast<std::uint8_t>(hub.numberOfPorts);
  usb::Write16(&d[3], hub.hubCharacteristics);
  d[5] = hub.powerOnToPowerGood;
  d[6] = hub.hubControlCurrent;
  for (std::size_t port = 1; port <= hub.ports.size(); ++port) {
    // A device behind a connector no user can reach is built in: not removable.
    if (!hub.ports[port - 1].connector.userConnectable) d[7 + port / 8] |= static_cast<std::uint8_t>(1 << (port % 8));
  }
  for (int i = 0; i < maskBytes; ++i) d[7 + maskBytes + i] = 0xFF;  // PortPwrCtrlMask: all ones, as USB 2.0 asks
  return d;
}

Bytes SuperSpeedHubDescriptorBytes(const Hub& hub) {
  Bytes d{12, 0x2A, static_cast<std::uint8_t>(hub.numberOfPorts), 0, 0, hub.powerOnToPowerGood, hub.hubControlCurrent,
          0, 0, 0, 0, 0};
  usb::Write16(&d[3], hub.hubCharacteristics);
  std::uint16_t removable = 0;
  for (std::size_t port = 1; port <= hub.ports.size() && port < 16; ++port) {
    if (!hub.ports[port - 1].connector.userConnectable) removable |= static_cast<std::uint16_t>(1u << port);
  }
  usb::Write16(&d[10], removable);
  return d;
}

bool HubIsHighSpeed(const Hub& hub) {
  if (hub.ownDevice != nullptr) return hub.ownDevice->speed >= Speed::kHigh;
  // OHCI (100 and up) and UHCI (200 and up) root hubs are full-speed only.
  return hub.controller == nullptr || hub.controller->flavor < 100 || hub.controller->flavor >= 1000;
}

bool HubIsSuperSpeed(const Hub& hub) { return hub.ownDevice != nullptr && hub.ownDevice->speed >= Speed::kSuper; }

}  // namespace qm::sim
