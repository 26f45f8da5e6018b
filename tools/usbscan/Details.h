// usbscan's details of each device: gathered during the walk, and put in
// words for a technician and in JSON.
#pragma once

#include <map>
#include <string>

#include "usb/DeviceDetails.h"
#include "usb/UsbScan.h"

namespace qm {

// Reads the details of each device the walk records, by its record.
class DetailsCollector final : public DeviceObserver {
 public:
  void OnDevice(Handle hub, std::uint32_t port, const std::uint8_t* connection, std::size_t record) override {
    details_[record] = ReadDeviceDetails(hub, port, connection);
  }
  // The details of record `record`, or null for a port with no device or a hub.
  const DeviceDetails* Of(std::size_t record) const {
    auto found = details_.find(record);
    return found != details_.end() ? &found->second : nullptr;
  }

 private:
  std::map<std::size_t, DeviceDetails> details_;
};

// A class in a technician's words, with its number ("camera or composite
// (0xEF)"), for a device class.
std::string DeviceClassText(std::uint8_t deviceClass);

// The lines under a device's line, each without its indentation.
std::vector<std::string> DetailLines(const DeviceDetails& details);

// The JSON members the details add to a record, from ", " on; every member
// is there (null) for a record without details.
std::string DetailMembers(const DeviceDetails* details);

}  // namespace qm
