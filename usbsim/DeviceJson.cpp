// Reading a described device: its descriptor's numbers, strings, speed and
// configuration, and what a device of its class has when the description
// gives no configuration (docs/usb-sim-format.md says which and why).
#include "usb/UsbIoctl.h"
#include "usbsim/Descriptors.h"
#include "usbsim/JsonReading.h"

namespace qm::sim {

Speed SpeedOf(const Json& object, const Place& where) {
  if (!object.contains("speed")) return Speed::kHigh;
  static const std::pair<const char*, Speed> kNames[] = {
      {"low", Speed::kLow}, {"full", Speed::kFull}, {"high", Speed::kHigh}, {"super", Speed::kSuper},
      {"super+", Speed::kSuperPlus}};
  const Json& value = object.at("speed");
  for (const auto& [name, speed] : kNames) {
    if (value.is_string() && value.get<std::string>() == name) return speed;
  }
  Fault(where.Key("speed"), "must be \"low\", \"full\", \"high\", \"super\" or \"super+\"");
}

namespace {

// Hex digits, two a byte, spaces between allowed: whole descriptors, each
// a length byte of 2 or more and its bytes.
DescriptorBytes Descriptors(const Json& object, const char* key, const Place& where) {
  if (!object.contains(key)) return {};
  const Json& value = object.at(key);
  if (!value.is_string()) Fault(where.Key(key), "must be a string of hex digits");
  DescriptorBytes bytes;
  int high = -1;
  for (char c : value.get<std::string>()) {
    if (c == ' ') continue;
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) Fault(where.Key(key), "must be a string of hex digits");
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) Fault(where.Key(key), "has an odd number of hex digits");
  for (std::size_t at = 0; at < bytes.size(); at += bytes[at]) {
    if (bytes[at] < 2 || at + bytes[at] > bytes.size()) {
      Fault(where.Key(key), "must be whole descriptors, each a length byte of 2 or more and that many bytes");
    }
  }
  return bytes;
}

std::uint8_t Byte(const Json& object, const char* key, const Place& where, int fallback) {
  return static_cast<std::uint8_t>(Number(object, key, where, 0, 255, fallback));
}

Endpoint ReadEndpoint(const Json& json, const Place& where) {
  CheckKeys(json, where, {"address", "attributes", "maxPacketSize", "interval", "bRefresh", "bSynchAddress", "extra"});
  Endpoint e;
  e.address = Byte(json, "address", where, 0x81);
  e.attributes = Byte(json, "attributes", where, 2);
  e.maxPacketSize = static_cast<std::uint16_t>(Number(json, "maxPacketSize", where, 0, 65535, 512));
  e.interval = Byte(json, "interval", where, 0);
  e.audio = json.contains("bRefresh") || json.contains("bSynchAddress");
  e.refresh = Byte(json, "bRefresh", where, 0);
  e.synchAddress = Byte(json, "bSynchAddress", where, 0);
  e.extra = Descriptors(json, "extra", where);
  return e;
}

Interface ReadInterface(const Json& json, const Place& where) {
  CheckKeys(json, where, {"number", "alternateSetting", "class", "subClass", "protocol", "iInterface", "extra",
                          "endpoints", "selected"});
  Interface i;
  i.number = Byte(json, "number", where, 0);
  i.alternateSetting = Byte(json, "alternateSetting", where, 0);
  i.interfaceClass = Byte(json, "class", where, 0);
  i.subClass = Byte(json, "subClass", where, 0);
  i.protocol = Byte(json, "protocol", where, 0);
  i.iInterface = Byte(json, "iInterface", where, 0);
  i.selected = Boolean(json, "selected", where, false);
  i.extra = Descriptors(json, "extra", where);
  const Json& endpoints = List(json, "endpoints", where);
  if (endpoints.size() > 30) Fault(where.Key("endpoints"), "must hold at most 30 endpoints");
  for (std::size_t k = 0; k < endpoints.size(); ++k) {
    i.endpoints.push_back(ReadEndpoint(endpoints[k], where.Key("endpoints").Index(k)));
  }
  return i;
}

Association ReadAssociation(const Json& json, const Place& where) {
  CheckKeys(json, where, {"firstInterface", "interfaceCount", "class", "subClass", "protocol", "iFunction"});
  Association a;
  a.firstInterface = Byte(json, "firstInterface", where, 0);
  a.interfaceCount = Byte(json, "interfaceCount", where, 1);
  a.functionClass = Byte(json, "class", where, 0);
  a.functionSubClass = Byte(json, "subClass", where, 0);
  a.functionProtocol = Byte(json, "protocol", where, 0);
  a.iFunction = Byte(json, "iFunction", where, 0);
  return a;
}

Configuration ReadConfiguration(const Json& json, const Place& where, Speed speed) {
  CheckKeys(json, where, {"bConfigurationValue", "bmAttributes", "MaxPower", "iConfiguration", "extra", "associations",
                          "interfaces"});
  Configuration c;
  c.value = Byte(json, "bConfigurationValue", where, 1);
  c.attributes = Byte(json, "bmAttributes", where, 0x80);
  const int unit = MaxPowerUnit(speed);
  const auto power = Number(json, "MaxPower", where, 0, 255 * unit, 100);
  if (power % unit != 0) {
    Fault(where.Key("MaxPower"), "must be a multiple of " + std::to_string(unit) + " mA at this speed");
  }
  c.maxPowerMilliamps = static_cast<std::uint16_t>(power);
  c.iConfiguration = Byte(json, "iConfiguration", where, 0);
  c.extra = Descriptors(json, "extra", where);
  const Json& associations = List(json, "associations", where);
  for (std::size_t k = 0; k < associations.size(); ++k) {
    c.associations.push_back(ReadAssociation(associations[k], where.Key("associations").Index(k)));
  }
  const Json& interfaces = List(json, "interfaces", where);
  if (interfaces.size() > 255) Fault(where.Key("interfaces"), "must hold at most 255 interfaces");
  for (std::size_t k = 0; k < interfaces.size(); ++k) {
    c.interfaces.push_back(ReadInterface(interfaces[k], where.Key("interfaces").Index(k)));
    for (std::size_t before = 0; before < k; ++before) {
      if (c.interfaces[k].selected && c.interfaces[before].selected &&
          c.interfaces[k].number == c.interfaces[before].number) {
        Fault(where.Key("interfaces").Index(k), "is a second selected alternate setting of its interface");
      }
    }
  }
  return c;
}

// --- what a device has when the description gives no configuration ---

Endpoint Bulk(std::uint8_t address, Speed speed) {
  Endpoint e;
  e.address = address;
  e.attributes = 2;
  e.maxPacketSize = speed >= Speed::kSuper ? 1024 : speed == Speed::kHigh ? 512 : 64;
  if (speed >= Speed::kSuper) e.extra = {6, 0x30, 0, 0, 0, 0};  // its SuperSpeed companion: no bursts
  return e;
}

Endpoint Periodic(std::uint8_t address, std::uint8_t attributes, std::uint16_t maxPacketSize, Speed speed) {
  Endpoint e;
  e.address = address;
  e.attributes = attributes;
  e.maxPacketSize = maxPacketSize;
  e.interval = speed >= Speed::kHigh ? 4 : 1;  // 1 ms either way
  if (speed >= Speed::kSuper) {
    e.extra = {6, 0x30, 0, 0, static_cast<std::uint8_t>(maxPacketSize), static_cast<std::uint8_t>(maxPacketSize >> 8)};
  }
  return e;
}

Interface InterfaceOf(std::uint8_t number, std::uint8_t alternate, std::uint8_t cls, std::uint8_t sub,
                      std::uint8_t protocol, std::vector<Endpoint> endpoints) {
  Interface i;
  i.number = number;
  i.alternateSetting = alternate;
  i.interfaceClass = cls;
  i.subClass = sub;
  i.protocol = protocol;
  i.endpoints = std::move(endpoints);
  return i;
}

Configuration DefaultConfiguration(const Device& d, int hubPorts, bool busPowered) {
  Configuration c;
  const Speed s = d.speed;
  if (hubPorts >= 0 || d.deviceClass == 9) {
    // A hub: its status change endpoint, one bit a port and one for the hub.
    const int ports = hubPorts >= 0 ? hubPorts : 4;
    Endpoint status = Periodic(0x81, 3, static_cast<std::uint16_t>((ports + 8) / 8), s);
    status.interval = s >= Speed::kHigh ? 12 : 255;
    c.interfaces.push_back(InterfaceOf(0, 0, 9, 0, 0, {status}));
    c.attributes = busPowered ? 0xA0 : 0xE0;
    c.maxPowerMilliamps = busPowered ? (s >= Speed::kSuper ? 96 : 100) : 0;
  } else if (d.deviceClass == 0xEF) {
    // A camera (the class of every built-in one in the probes): video
    // control and streaming, grouped by an association.
    c.associations.push_back({0, 2, 0x0E, 3, 0, 0});
    c.interfaces.push_back(InterfaceOf(0, 0, 0x0E, 1, 0, {Periodic(0x83, 3, 16, s)}));
    c.interfaces.push_back(InterfaceOf(1, 0, 0x0E, 2, 0, {}));
    c.interfaces.push_back(InterfaceOf(1, 1, 0x0E, 2, 0, {Periodic(0x81, 5, 128, s)}));
    c.maxPowerMilliamps = s >= Speed::kSuper ? 496 : 500;
  } else if (d.deviceClass == 0xE0) {
    // A Bluetooth radio: events, ACL data, and voice with no bandwidth yet.
    c.interfaces.push_back(InterfaceOf(0, 0, 0xE0, 1, 1, {Periodic(0x81, 3, 16, s), Bulk(0x82, Speed::kFull),
                                                            Bulk(0x02, Speed::kFull)}));
    c.interfaces.push_back(InterfaceOf(1, 0, 0xE0, 1, 1, {Periodic(0x83, 1, 0, s), Periodic(0x03, 1, 0, s)}));
    c.attributes = 0xE0;
    c.maxPowerMilliamps = 0;
  } else {
    // A drive: one bulk-only mass storage interface (class 0 and 8), or
    // the device's own class with the same two endpoints.
    const bool storage = d.deviceClass == 0 || d.deviceClass == 8;
    c.interfaces.push_back(InterfaceOf(0, 0, storage ? 8 : d.deviceClass, storage ? 6 : d.deviceSubClass,
                                       storage ? 0x50 : d.deviceProtocol, {Bulk(0x81, s), Bulk(0x02, s)}));
    c.maxPowerMilliamps = s >= Speed::kSuper ? 896 : 200;
  }
  return c;
}

// The BOS a device of this bcdUSB has: USB 2.0 link power management from
// 2.01 on, and SuperSpeed from 3.00 on (full speed the least it works at).
DescriptorBytes DefaultCapabilities(std::uint16_t bcdUsb) {
  DescriptorBytes bytes;
  if (bcdUsb > 0x0200) bytes = {7, usb::kCapabilityDescriptorType, 2, 2, 0, 0, 0};
  if (bcdUsb >= 0x0300) {
    const DescriptorBytes superSpeed{10, usb::kCapabilityDescriptorType, usb::kSuperSpeedCapability, 0, 0x0E, 0, 1, 10,
                                     0xFF, 0x07};
    bytes.insert(bytes.end(), superSpeed.begin(), superSpeed.end());
  }
  return bytes;
}

void ReadStrings(const Json& json, const Place& where, Device* device) {
  if (!json.contains("strings")) return;
  const Json& strings = json.at("strings");
  const Place place = where.Key("strings");
  if (!strings.is_object()) Fault(place, "must be an object");
  for (auto item = strings.begin(); item != strings.end(); ++item) {
    const std::string& key = item.key();
    // Plain decimal: "01" and "1" would otherwise be two keys for one index.
    if (key.empty() || key.size() > 3 || key[0] == '0' || key.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(key) > 255) {
      Fault(place, "key \"" + key + "\" must be a string index from 1 to 255, written plainly");
    }
    device->strings[std::stoi(key)] = Utf16(strings, key.c_str(), place, u"");
  }
}

void ReadLanguages(const Json& json, const Place& where, Device* device) {
  if (!json.contains("languages")) return;
  const Json& languages = json.at("languages");
  const Place place = where.Key("languages");
  if (!languages.is_array()) Fault(place, "must be a list");
  device->languages.clear();
  for (std::size_t i = 0; i < languages.size(); ++i) {
    const Json& language = languages[i];
    if (!language.is_number_integer() || language.get<std::int64_t>() < 0 || language.get<std::int64_t>() > 65535) {
      Fault(place.Index(i), "must be a language identifier from 0 to 65535");
    }
    device->languages.push_back(static_cast<std::uint16_t>(language.get<std::int64_t>()));
  }
}

// The BOS: false stalls it; true or absent answers the default of the
// device's bcdUSB (which stalls below 2.01); hex digits give its
// capability descriptors.
void ReadBos(const Json& json, const Place& where, Device* device) {
  device->answersBos = device->bcdUsb > 0x0200;
  device->capabilities = DefaultCapabilities(device->bcdUsb);
  if (!json.contains("bos")) return;
  const Json& bos = json.at("bos");
  if (bos.is_boolean()) {
    device->answersBos = bos.get<bool>();
  } else {
    device->answersBos = true;
    device->capabilities = Descriptors(json, "bos", where);
  }
}

// A device of USB 2.0 or later running at high speed can tell how it
// would run at full speed; any other stalls the request unless described.
// Real devices' qualifiers need not follow their device descriptors (a
// class or bcdUSB of their own), so the bytes can be given.
void ReadQualifier(const Json& json, const Place& where, Device* device) {
  if (json.contains("deviceQualifier") && json.at("deviceQualifier").is_string()) {
    device->qualifier = Descriptors(json, "deviceQualifier", where);
    if (device->qualifier.size() != 10 || device->qualifier[1] != 6) {
      Fault(where.Key("deviceQualifier"), "must be one device qualifier: 10 bytes of type 6");
    }
    device->answersQualifier = true;
    return;
  }
  device->answersQualifier = Boolean(json, "deviceQualifier", where,
                                     device->bcdUsb >= 0x0200 && device->speed == Speed::kHigh);
}

// The configuration as it would be at the other speed (type 7), as real
// devices answer it: given whole, its wTotalLength its length.
void ReadOtherSpeed(const Json& json, const Place& where, Device* device) {
  const DescriptorBytes bytes = Descriptors(json, "otherSpeedConfiguration", where);
  if (bytes.empty()) return;
  if (bytes[0] != 9 || bytes[1] != 7 || static_cast<std::size_t>(bytes[2] | bytes[3] << 8) != bytes.size()) {
    Fault(where.Key("otherSpeedConfiguration"),
          "must be a configuration of type 7 whose wTotalLength counts its bytes");
  }
  device->otherSpeedConfiguration = bytes;
}

}  // namespace

std::unique_ptr<Device> ReadDevice(const Json& json, const Place& where, int hubPorts, bool hubBusPowered) {
  CheckKeys(json, where, {"idVendor", "idProduct", "deviceClass", "deviceSubClass", "deviceProtocol", "bcdUSB",
                          "bMaxPacketSize0", "bcdDevice", "bNumConfigurations", "iManufacturer", "iProduct",
                          "iSerialNumber", "strings", "languages", "descriptorError", "speed", "configuration",
                          "deviceQualifier", "bos", "address", "driverKeyName", "configured",
                          "otherSpeedConfiguration"});
  auto device = std::make_unique<Device>();
  device->idVendor = static_cast<std::uint16_t>(Number(json, "idVendor", where, 0, 65535, 0));
  device->idProduct = static_cast<std::uint16_t>(Number(json, "idProduct", where, 0, 65535, 0));
  device->deviceClass = Byte(json, "deviceClass", where, hubPorts >= 0 ? 9 : 0);
  device->deviceSubClass = Byte(json, "deviceSubClass", where, 0);
  device->deviceProtocol = Byte(json, "deviceProtocol", where, 0);
  device->bcdUsb = static_cast<std::uint16_t>(Number(json, "bcdUSB", where, 0, 65535, 0x0200));
  device->maxPacketSize0 = Byte(json, "bMaxPacketSize0", where, 64);
  device->bcdDevice = static_cast<std::uint16_t>(Number(json, "bcdDevice", where, 0, 65535, 0x0100));
  device->numConfigurations = Byte(json, "bNumConfigurations", where, 1);
  device->iManufacturer = Byte(json, "iManufacturer", where, 0);
  device->iProduct = Byte(json, "iProduct", where, 0);
  device->iSerialNumber = Byte(json, "iSerialNumber", where, 0);
  device->descriptorError = ErrorCode(json, "descriptorError", where);
  device->speed = SpeedOf(json, where);
  ReadStrings(json, where, device.get());
  ReadLanguages(json, where, device.get());
  device->configuration = json.contains("configuration")
                              ? ReadConfiguration(json.at("configuration"), where.Key("configuration"), device->speed)
                              : DefaultConfiguration(*device, hubPorts, hubBusPowered);
  if (ConfigurationBytes(*device).size() > 65535) {
    Fault(where.Key("configuration"), "comes to more bytes than wTotalLength can say (65535)");
  }
  ReadQualifier(json, where, device.get());
  ReadOtherSpeed(json, where, device.get());
  ReadBos(json, where, device.get());
  device->address = static_cast<std::uint16_t>(Number(json, "address", where, 1, 127, 0));
  device->driverKeyName = Utf16(json, "driverKeyName", where, u"");
  device->configured = Boolean(json, "configured", where, true);
  return device;
}

std::unique_ptr<Device> DefaultHubDevice(int hubPorts, bool busPowered) {
  auto device = std::make_unique<Device>();
  device->deviceClass = 9;
  device->deviceProtocol = 1;  // a high-speed hub with one transaction translator
  device->answersQualifier = true;
  device->configuration = DefaultConfiguration(*device, hubPorts, busPowered);
  return device;
}

}  // namespace qm::sim
