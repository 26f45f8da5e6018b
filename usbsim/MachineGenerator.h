// Machines for the simulated stack, made from bytes: controllers with and
// without a legacy name and an interface, hubs in hubs, devices of listed
// and unlisted ids and of every kind of device class, and every failure a
// description can inject. The fuzzer feeds it its inputs; the randomized
// runs of the shipped launcher feed it a seeded stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm::sim {

struct MachineShape {
  // Only descriptions the reader accepts and the test USB driver serves:
  // distinct controller numbers, each controller reachable, error codes
  // the driver can return, hubs no deeper than maxDepth.
  bool servable = false;
  int maxDepth = 18;  // beyond the reader's limit, so that refusals are met too
};

// A description (docs/usb-sim-format.md) drawn from `data`; bytes past the
// end read as zero.
std::string GenerateMachine(const std::uint8_t* data, std::size_t size, const MachineShape& shape);

// The same from a seed, for a reproducible run: a stream of `bytes`
// pseudo-random bytes, each bit set one time in four.
std::string GenerateMachine(std::uint32_t seed, const MachineShape& shape, std::size_t bytes = 4096);

}  // namespace qm::sim
