#include "usbsim/MachineGenerator.h"

#include <random>
#include <vector>

#include "usbsim/DriverAnswers.h"

namespace qm::sim {

namespace {

class Generator {
 public:
  Generator(const std::uint8_t* data, std::size_t size, const MachineShape& shape)
      : data_(data), size_(size), shape_(shape) {}

  std::string Machine() {
    std::string json = "{\"controllers\": [";
    const int controllers = Byte() % 13;
    std::vector<bool> numberTaken(10, false);
    for (int i = 0; i < controllers; ++i) json += (i ? ", " : "") + Controller(numberTaken);
    return json + "]}";
  }

 private:
  std::uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  static bool Bit(std::uint8_t flags, int bit) { return (flags >> bit) & 1; }

  std::string Error() {
    static const std::vector<std::uint32_t> kServable = ServableErrors();
    const std::uint8_t byte = Byte();
    if (shape_.servable) return std::to_string(kServable[byte % kServable.size()]);
    return std::to_string(1 + byte % 40);
  }

  std::string Controller(std::vector<bool>& numberTaken) {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    bool named = false;
    if (Bit(flags, 0)) {
      const int number = Byte() % 10;
      // Numbers may repeat: the reader must refuse such a description.
      named = !shape_.servable || !numberTaken[number];
      if (named) {
        numberTaken[number] = true;
        json += "\"number\": " + std::to_string(number) + ", ";
      }
    }
    // A controller may have no way in, which the reader refuses too.
    if (Bit(flags, 1) && (named || !shape_.servable)) json += "\"interface\": false, ";
    if (Bit(flags, 2)) json += "\"driverKeyError\": " + Error() + ", ";
    if (Bit(flags, 3)) json += "\"rootHubNameError\": " + Error() + ", ";
    if (Bit(flags, 4)) json += "\"driverKeyName\": \"KEY" + std::to_string(Byte() % 3) + "\", ";  // seen twice
    if (Bit(flags, 5)) json += "\"interfaceOpenError\": " + Error() + ", ";
    if (Bit(flags, 6)) {
      static const char* kFlavors[] = {"0", "100", "200", "1000", "2000"};  // generic, OHCI, UHCI, EHCI, NEC
      json += "\"pciVendorId\": " + std::to_string(Byte() * 257) + ", \"controllerFlavor\": " + kFlavors[Byte() % 5] +
              ", ";
    }
    return json + "\"rootHub\": " + Hub(0) + "}";
  }

  std::string Hub(int depth) {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    if (Bit(flags, 0)) json += "\"openError\": " + Error() + ", ";
    if (Bit(flags, 1)) json += "\"nodeInfoError\": " + Error() + ", ";
    const int ports = Byte() % 6;
    if (Bit(flags, 2)) json += "\"numberOfPorts\": " + std::to_string(Byte()) + ", ";
    if (Bit(flags, 3)) json += "\"busPowered\": true, \"wHubCharacteristics\": " + std::to_string(Byte()) + ", ";
    if (Bit(flags, 4)) json += "\"legacy\": true, ";
    if (Bit(flags, 5)) json += "\"windows7\": true, ";
    if (Bit(flags, 6)) json += "\"emptyPortsReadZero\": true, ";
    json += "\"ports\": [";
    for (int i = 0; i < ports; ++i) json += (i ? ", " : "") + Port(depth);
    return json + "]}";
  }

  std::string Port(int depth) {
    const std::uint8_t flags = Byte();
    std::string json = "{";
    if (Bit(flags, 0)) json += "\"connectionInfoError\": " + Error() + ", ";
    if (Bit(flags, 1)) json += "\"status\": " + std::to_string(Byte() % 8) + ", ";
    const int kind = (flags >> 2) % 3;
    bool superSpeed = false;
    if (kind == 1) json += "\"device\": " + Device(&superSpeed) + ", ";
    // Names may repeat, as a stack that reports a hub inside itself.
    if (kind == 2 && depth < shape_.maxDepth) {
      std::string hub = Hub(depth + 1);
      hub.insert(1, "\"name\": \"H" + std::to_string(Byte() % 8) + "\", " +
                        (Bit(flags, 5) ? "\"nameError\": " + Error() + ", " : std::string()));
      if (Bit(flags, 6)) hub.insert(1, "\"device\": " + Device(&superSpeed) + ", ");
      json += "\"hub\": " + hub + ", ";
    }
    // A device at SuperSpeed needs a port that carries it; only a machine
    // the reader may refuse leaves that to chance.
    if (superSpeed && (shape_.servable || Bit(flags, 7))) {
      json += std::string("\"superSpeed\": ") + (kind == 1 && Bit(flags, 5) ? "\"only\", " : "true, ");
    }
    if (Bit(flags, 7)) json += "\"connector\": {\"userConnectable\": false, \"companionPort\": 2}, ";
    if (json.size() > 1) json.erase(json.size() - 2);
    return json + "}";
  }

  // The descriptors beyond the device descriptor: a configuration of one or
  // two interfaces (class-specific bytes, endpoints of every type, an
  // alternate setting selected), the qualifier (its own bytes or made from
  // the device descriptor), the other-speed configuration and the BOS,
  // answered or stalled.
  std::string Descriptors(int speed) {
    static const char* kMaxPower[] = {"0", "100", "500", "896"};
    const std::uint8_t flags = Byte();
    std::string json;
    if (Bit(flags, 0)) {
      json += ", \"configuration\": {\"bmAttributes\": " + std::to_string(0x80 | (Byte() & 0x60)) +
              ", \"MaxPower\": " + (speed >= 3 ? "896" : kMaxPower[Byte() % 3]) + ", \"interfaces\": [";
      const int interfaces = 1 + Byte() % 2;
      for (int i = 0; i < interfaces; ++i) {
        json += std::string(i ? ", " : "") + "{\"number\": " + std::to_string(i) +
                ", \"class\": " + std::to_string(Byte()) + ", \"endpoints\": [{\"address\": " +
                std::to_string(0x81 + i) + ", \"attributes\": " + std::to_string(Byte() % 4) +
                ", \"maxPacketSize\": " + std::to_string(Byte() * 4) + "}]" +
                (Bit(flags, 1) ? ", \"extra\": \"09 21 11 01 00 01 22 3e 00\"" : "") + "}";
        // An alternate setting its driver selected: its endpoints are the open pipes.
        if (Byte() % 4 == 0) {
          json += ", {\"number\": " + std::to_string(i) + ", \"alternateSetting\": 1, \"selected\": true, " +
                  "\"endpoints\": [{\"address\": " + std::to_string(0x83 + i) + ", \"attributes\": 1}]}";
        }
      }
      json += "]}";
    }
    if (Bit(flags, 2)) {
      // Answered as made from the device descriptor, with bytes of its own, or stalled.
      json += std::string(", \"deviceQualifier\": ") +
              (!Bit(flags, 3) ? "false" : Byte() % 2 ? "true" : "\"0a 06 00 02 ff 00 00 40 01 00\"");
    }
    if (Bit(flags, 4)) json += Bit(flags, 5) ? ", \"bos\": false" : ", \"bos\": \"07 10 02 06 00 00 00\"";
    if (Bit(flags, 6)) json += ", \"driverKeyName\": \"KEY" + std::to_string(Byte() % 4) + "\"";
    if (Bit(flags, 7)) json += ", \"configured\": false";
    if (Byte() % 8 == 0) {
      json += ", \"otherSpeedConfiguration\": \"09 07 20 00 01 01 00 80 32 09 04 00 00 02 08 06 50 00 "
              "07 05 81 02 40 00 00 07 05 02 02 40 00 00\"";
    }
    return json;
  }

  std::string Device(bool* superSpeed) {
    static const int kVendors[] = {0x13FE, 0x1307, 0x048D, 0x090C, 0x1234};
    // Classes of drives (0, mass storage, vendor-specific) and of devices
    // that are none (camera or composite, wireless, hub).
    static const int kClasses[] = {0x00, 0x00, 0x08, 0xFF, 0xEF, 0xE0, 0x09};
    const std::uint8_t flags = Byte();
    std::string json = "{\"idVendor\": " + std::to_string(kVendors[Byte() % 5]) +
                       ", \"idProduct\": " + std::to_string(0x1165 + Byte() % 5) +
                       ", \"deviceClass\": " + std::to_string(kClasses[Byte() % 7]);
    json += ", \"iManufacturer\": " + std::to_string(Byte() % 4) + ", \"iProduct\": " + std::to_string(Byte() % 4) +
            ", \"iSerialNumber\": " + std::to_string(Byte() % 4);
    if (Bit(flags, 0)) json += ", \"descriptorError\": " + Error();
    if (Bit(flags, 1)) json += ", \"languages\": []";
    if (Bit(flags, 5)) {
      static const char* kSpeeds[] = {"low", "full", "high", "super", "super+"};
      static const char* kVersions[] = {"272", "512", "513", "528", "768", "784"};  // 1.10 to 3.10
      const int speed = Byte() % 5;
      *superSpeed = speed >= 3;
      json += std::string(", \"speed\": \"") + kSpeeds[speed] + "\", \"bcdUSB\": " + kVersions[Byte() % 6] +
              Descriptors(speed);
    }
    json += ", \"strings\": {";
    for (int index = 1, count = 0; index <= 3; ++index) {
      if (!Bit(flags, 1 + index)) continue;
      // Up to 300 units: longer than a descriptor holds.
      json += std::string(count++ ? ", " : "") + "\"" + std::to_string(index) + "\": \"" +
              std::string(Byte() * 300 / 255, 'x') + "\"";
    }
    return json + "}}";
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  MachineShape shape_;
};

}  // namespace

std::string GenerateMachine(const std::uint8_t* data, std::size_t size, const MachineShape& shape) {
  return Generator(data, size, shape).Machine();
}

std::string GenerateMachine(std::uint32_t seed, const MachineShape& shape, std::size_t bytes) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> stream(bytes);
  // Each bit set one time in four: most controllers and hubs then answer,
  // and the machine has drives to find beside its failures.
  for (std::uint8_t& byte : stream) byte = static_cast<std::uint8_t>(random() & random());
  return GenerateMachine(stream.data(), stream.size(), shape);
}

}  // namespace qm::sim
