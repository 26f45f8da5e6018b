// What the simulated stack answers to one device I/O control request on a
// host controller or a hub: the rules of the stack, request by request
// (docs/usb-sim-format.md has them as a table). The buffer is the caller's,
// input and output; nothing is written past `size`.
#pragma once

#include <cstdint>
#include <string>

#include "usbsim/UsbSim.h"

namespace qm::sim {

// A Win32 error (0: the request succeeds) and how many bytes of the buffer
// the reply filled, as a driver's IoStatus.Information says.
struct Outcome {
  std::uint32_t error = 0;
  std::uint32_t filled = 0;
};

Outcome AnswerControllerRequest(const Controller& controller, std::uint32_t code, std::uint8_t* buffer,
                                std::uint32_t size);
Outcome AnswerHubRequest(const Hub& hub, std::uint32_t code, std::uint8_t* buffer, std::uint32_t size);

// Writes a name structure as far as it fits: its ActualLength at
// `lengthAt` (the structure's size with the whole name and its zero), then
// the name from `textAt`. Returns the bytes filled.
std::uint32_t WriteName(std::uint8_t* buffer, std::uint32_t size, std::uint32_t lengthAt, std::uint32_t textAt,
                        const std::u16string& name);

}  // namespace qm::sim
