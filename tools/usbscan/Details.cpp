// A device's details in a technician's words and in JSON.
#include "tools/usbscan/Details.h"

#include <cstdio>

#include "usb/UsbIoctl.h"
#include "usb/UsbWalk.h"

namespace qm {

namespace {

std::string Hex2(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

struct ClassWords {
  std::uint8_t number;
  const char* words;
};

constexpr ClassWords kClasses[] = {
    {0x01, "audio"},       {0x02, "communications"}, {0x03, "human interface"},  {0x05, "physical"},
    {0x06, "still image"}, {0x07, "printer"},        {0x08, "mass storage"},     {0x09, "hub"},
    {0x0A, "communications data"}, {0x0B, "smart card"}, {0x0D, "content security"}, {0x0E, "video"},
    {0x0F, "personal healthcare"}, {0x10, "audio and video"}, {0x11, "billboard"}, {0x12, "type-C bridge"},
    {0xDC, "diagnostic"},  {0xE0, "wireless"},       {0xEF, "miscellaneous"},    {0xFE, "application-specific"},
    {0xFF, "vendor-specific"}};

const char* ClassName(std::uint8_t number) {
  for (const ClassWords& c : kClasses) {
    if (c.number == number) return c.words;
  }
  return nullptr;
}

// What an interface's subclass and protocol add, in words, or "".
std::string InterfaceKind(const InterfaceSummary& i) {
  switch (i.interfaceClass) {
    case 0x01: return i.subClass == 1 ? "control" : i.subClass == 2 ? "streaming" : i.subClass == 3 ? "MIDI" : "";
    case 0x03: return i.subClass != 1 ? "" : i.protocol == 1 ? "keyboard" : i.protocol == 2 ? "mouse" : "";
    case 0x08: {
      const char* command = i.subClass == 1 ? "RBC" : i.subClass == 2 ? "ATAPI" : i.subClass == 4 ? "floppy"
                            : i.subClass == 5 ? "SFF-8070i" : i.subClass == 6 ? "SCSI" : nullptr;
      const char* transport = i.protocol == 0x50 ? "bulk-only" : i.protocol == 0x62 ? "UAS"
                              : i.protocol <= 1 ? "CBI" : nullptr;
      std::string words = command != nullptr ? command : "";
      if (transport != nullptr) words += (words.empty() ? "" : ", ") + std::string(transport);
      return words;
    }
    case 0x0E: return i.subClass == 1 ? "control" : i.subClass == 2 ? "streaming" : "";
    case 0xE0: return i.subClass == 1 && i.protocol == 1 ? "Bluetooth" : "";
    case 0xFE: return i.subClass == 1 ? "firmware update" : "";
    default: return "";
  }
}

std::string InterfaceText(const InterfaceSummary& i) {
  const char* name = ClassName(i.interfaceClass);
  std::string text = name != nullptr ? name : "class " + Hex2(i.interfaceClass);
  const std::string kind = InterfaceKind(i);
  return kind.empty() ? text : text + " (" + kind + ")";
}

const char* SpeedWords(DeviceSpeed speed) {
  switch (speed) {
    case DeviceSpeed::kLow: return "low speed, 1.5 Mb/s";
    case DeviceSpeed::kFull: return "full speed, 12 Mb/s";
    case DeviceSpeed::kHigh: return "high speed, 480 Mb/s";
    case DeviceSpeed::kSuper: return "SuperSpeed, 5 Gb/s";
    case DeviceSpeed::kSuperPlus: return "SuperSpeed+, 10 Gb/s or more";
    case DeviceSpeed::kFullOrHigh: return "full or high speed (this Windows tells only low speed apart)";
    case DeviceSpeed::kHighOrSuper: return "high speed or SuperSpeed (this Windows does not tell them apart)";
    default: return "speed unknown";
  }
}

const char* SpeedJson(DeviceSpeed speed) {
  switch (speed) {
    case DeviceSpeed::kLow: return "\"low\"";
    case DeviceSpeed::kFull: return "\"full\"";
    case DeviceSpeed::kHigh: return "\"high\"";
    case DeviceSpeed::kSuper: return "\"super\"";
    case DeviceSpeed::kSuperPlus: return "\"super+\"";
    case DeviceSpeed::kFullOrHigh: return "\"full or high\"";
    case DeviceSpeed::kHighOrSuper: return "\"high or super\"";
    default: return "null";
  }
}

std::string Note(const DeviceDetails& d) {
  switch (d.note) {
    case DeviceDetails::Note::kHighSpeedAtFullSpeed:
      return "runs at full speed although it is a high-speed device: try another port or cable (a computer "
             "whose ports are all USB 1.1 runs every device at full speed)";
    case DeviceDetails::Note::kSuperSpeedBelowSuperSpeed:
      return std::string("runs at ") + (d.speed == DeviceSpeed::kHigh ? "high" : d.speed == DeviceSpeed::kFull ? "full"
                                                                                                              : "a lower") +
             " speed although it is a SuperSpeed device: try a USB 3 port or cable";
    case DeviceDetails::Note::kSuperSpeedPlusAtSuperSpeed:
      return "runs at 5 Gb/s although it is a SuperSpeed+ device: try a 10 Gb/s port (USB 3.1 Gen 2 or later) or "
             "cable";
    default:
      return "";
  }
}

// bcdDevice or bcdUSB as written: "11.00".
std::string Version(std::uint16_t bcd) {
  char text[16];
  std::snprintf(text, sizeof(text), "%x.%02x", bcd >> 8, bcd & 0xFF);
  return text;
}

std::string PowerText(const DeviceDetails& d) {
  if (!d.powerKnown) return "power unknown";
  const std::string powered = std::string(", ") + (d.selfPowered ? "self" : "bus") + "-powered";
  if (d.speed != DeviceSpeed::kHighOrSuper) return std::to_string(d.maxPowerMilliamps) + " mA" + powered;
  return std::to_string(d.maxPowerMilliamps) + " mA at high speed or " + std::to_string(4 * d.maxPowerMilliamps) +
         " mA at SuperSpeed" + powered;
}

// Each trouble Windows reports on a port, in a technician's words.
struct StateWords {
  std::uint32_t status;
  const char* name;   // as Windows names it
  const char* words;  // what it means and what to try
};

constexpr StateWords kStates[] = {
    {0, "NoDeviceConnected", "(empty)"},
    {1, "DeviceConnected", "a device"},
    {2, "DeviceFailedEnumeration",
     "a device that does not answer (Windows: device descriptor request failed): try another port, another cable "
     "and no hub between; a drive that fails everywhere is broken"},
    {3, "DeviceGeneralFailure", "a device that failed (general failure): unplug it and plug it into another port"},
    {4, "DeviceCausedOvercurrent",
     "overcurrent: the device draws more current than the port gives; remove it, and the port works again"},
    {5, "DeviceNotEnoughPower",
     "not enough power for the device: plug it into the computer itself or into a hub with its own power supply"},
    {6, "DeviceNotEnoughBandwidth",
     "not enough bandwidth on this controller: unplug other devices from it or try another port"},
    {7, "DeviceHubNestedTooDeeply", "too many hubs between it and the computer: plug it in nearer the computer"},
    {8, "DeviceInLegacyHub", "a device behind an old USB 1.1 hub: plug it into the computer itself"},
    {9, "DeviceEnumerating", "a device Windows is still setting up: run usbscan again in a moment"},
    {10, "DeviceReset", "a device being reset: run usbscan again in a moment"},
};

const StateWords* StateOf(std::uint32_t status) {
  for (const StateWords& state : kStates) {
    if (state.status == status) return &state;
  }
  return nullptr;
}

}  // namespace

const char kNotConfiguredNote[] =
    "not configured by Windows: its driver did not start (Device Manager's code 10 or 43); unplug it and plug it in "
    "again, try another port, or reinstall its driver";

std::string ConnectionStatusName(std::uint32_t status) {
  const StateWords* state = StateOf(status);
  return state != nullptr ? state->name : std::to_string(status);
}

std::string PortStateText(const PortFacts& port) {
  if (!port.answered) return "(connection unknown: the hub did not answer)";
  const StateWords* state = StateOf(port.status);
  if (state != nullptr) return state->words;
  return "connection status " + std::to_string(port.status) + ", which Windows does not name";
}

bool Connected(const PortFacts& port) { return port.answered && port.status == usb::kDeviceConnected; }

bool NotConfigured(const PortFacts& port) {
  return Connected(port) && !port.isHub && port.configurationValue == 0 && port.openPipes == 0;
}

void DetailsCollector::OnPort(Handle hub, std::uint32_t port, const std::uint8_t* connection, bool answered,
                              std::size_t record) {
  PortFacts facts;
  facts.answered = answered;
  facts.status = usb::Read32(connection + usb::kConnectionStatus);
  facts.isHub = connection[usb::kConnectionDeviceIsHub] != 0;
  const std::uint8_t* descriptor = connection + usb::kConnectionDeviceDescriptor;
  facts.idVendor = usb::Read16(descriptor + usb::kDescIdVendor);
  facts.idProduct = usb::Read16(descriptor + usb::kDescIdProduct);
  facts.configurationValue = connection[usb::kConnectionCurrentConfiguration];
  facts.openPipes = usb::Read32(connection + usb::kConnectionOpenPipes);
  if (facts.status == usb::kDeviceConnected && facts.isHub) {
    // The walk reads no hub's identity: usbscan asks for it, as for a device's.
    DeviceIdentity identity = ReadDeviceIdentity(descriptor, port, hub);
    facts.manufacturer = std::move(identity.manufacturer);
    facts.product = std::move(identity.product);
    facts.serialNumber = std::move(identity.serialNumber);
    details_[record] = ReadDeviceDetails(hub, port, connection);
  }
  ports_[record] = std::move(facts);
}

std::string DeviceClassText(std::uint8_t deviceClass) {
  const char* name = deviceClass == 0xEF ? "camera or composite" : ClassName(deviceClass);
  return name != nullptr ? std::string(name) + " (" + Hex2(deviceClass) + ")" : "class " + Hex2(deviceClass);
}

std::vector<std::string> DetailLines(const DeviceDetails& d) {
  std::vector<std::string> lines{std::string(SpeedWords(d.speed)) + "; USB " + Version(d.bcdUsb) +
                                 "; device version " + Version(d.bcdDevice) + "; " + PowerText(d)};
  if (!d.interfacesKnown) lines.push_back("interfaces unknown");
  for (const InterfaceSummary& i : d.interfaces) {
    if (i.alternateSetting == 0) lines.push_back("interface " + std::to_string(i.number) + ": " + InterfaceText(i));
  }
  if (d.note != DeviceDetails::Note::kNone) lines.push_back("note: " + Note(d));
  return lines;
}

std::string DetailMembers(const DeviceDetails* d) {
  if (d == nullptr) {
    return ", \"speed\": null, \"usbVersion\": null, \"deviceVersion\": null, \"maxPowerMilliamps\": null, "
           "\"selfPowered\": null, \"interfaces\": null, \"speedNote\": null";
  }
  const bool powerKnown = d->powerKnown && d->speed != DeviceSpeed::kHighOrSuper;  // else it depends on the speed
  std::string out = std::string(", \"speed\": ") + SpeedJson(d->speed) + ", \"usbVersion\": \"" + Version(d->bcdUsb) +
                    "\", \"deviceVersion\": \"" + Version(d->bcdDevice) +
                    "\", \"maxPowerMilliamps\": " + (powerKnown ? std::to_string(d->maxPowerMilliamps) : "null") +
                    ", \"selfPowered\": " + (d->powerKnown ? (d->selfPowered ? "true" : "false") : "null") +
                    ", \"interfaces\": ";
  if (!d->interfacesKnown) {
    out += "null";
  } else {
    out += "[";
    for (std::size_t k = 0; k < d->interfaces.size(); ++k) {
      const InterfaceSummary& i = d->interfaces[k];
      out += (k ? ", " : "") + std::string("{\"number\": ") + std::to_string(i.number) +
             ", \"alternateSetting\": " + std::to_string(i.alternateSetting) + ", \"class\": " +
             std::to_string(i.interfaceClass) + ", \"subClass\": " + std::to_string(i.subClass) +
             ", \"protocol\": " + std::to_string(i.protocol) + "}";
    }
    out += "]";
  }
  const std::string note = Note(*d);
  return out + ", \"speedNote\": " + (note.empty() ? "null" : "\"" + note + "\"");
}

}  // namespace qm
