// A device's details in a technician's words and in JSON.
#include "tools/usbscan/Details.h"

#include <cstdio>

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
    default: return "null";
  }
}

std::string Version(std::uint16_t bcdUsb) {
  char text[16];
  std::snprintf(text, sizeof(text), "%x.%02x", bcdUsb >> 8, bcdUsb & 0xFF);
  return text;
}

std::string Note(const DeviceDetails& d) {
  switch (d.note) {
    case DeviceDetails::Note::kHighSpeedAtFullSpeed:
      return "runs at full speed although it is a high-speed device: try another port or cable";
    case DeviceDetails::Note::kSuperSpeedBelowSuperSpeed:
      return std::string("runs at ") + (d.speed == DeviceSpeed::kHigh ? "high" : d.speed == DeviceSpeed::kFull ? "full"
                                                                                                              : "a lower") +
             " speed although it is a SuperSpeed device: try a USB 3 port or cable";
    default:
      return "";
  }
}

}  // namespace

std::string DeviceClassText(std::uint8_t deviceClass) {
  const char* name = deviceClass == 0xEF ? "camera or composite" : ClassName(deviceClass);
  return name != nullptr ? std::string(name) + " (" + Hex2(deviceClass) + ")" : "class " + Hex2(deviceClass);
}

std::vector<std::string> DetailLines(const DeviceDetails& d) {
  std::string first = std::string(SpeedWords(d.speed)) + "; USB " + Version(d.bcdUsb) + "; ";
  first += d.powerKnown ? std::to_string(d.maxPowerMilliamps) + " mA, " + (d.selfPowered ? "self" : "bus") + "-powered"
                        : "power unknown";
  std::vector<std::string> lines{first};
  if (!d.interfacesKnown) lines.push_back("interfaces unknown");
  for (const InterfaceSummary& i : d.interfaces) {
    if (i.alternateSetting == 0) lines.push_back("interface " + std::to_string(i.number) + ": " + InterfaceText(i));
  }
  if (d.note != DeviceDetails::Note::kNone) lines.push_back("note: " + Note(d));
  return lines;
}

std::string DetailMembers(const DeviceDetails* d) {
  if (d == nullptr) {
    return ", \"speed\": null, \"usbVersion\": null, \"maxPowerMilliamps\": null, \"selfPowered\": null, "
           "\"interfaces\": null, \"speedNote\": null";
  }
  std::string out = std::string(", \"speed\": ") + SpeedJson(d->speed) + ", \"usbVersion\": \"" + Version(d->bcdUsb) +
                    "\", \"maxPowerMilliamps\": " + (d->powerKnown ? std::to_string(d->maxPowerMilliamps) : "null") +
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
