// The launcher's one container: loaded once at start-up, parsed once, and
// held with the entry copied out of it until the process ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container/Container.h"
#include "platform/OwnedHandle.h"

namespace qm {

struct ContainerStateRecord {
  std::vector<std::uint8_t> image;  // the whole file as read
  std::int32_t payloadOffset = 0;   // file offset of the first payload byte
  std::int32_t entryCount = 0;      // == entries.size()
  std::vector<PROGRAMINFO> entries;
  std::vector<std::uint8_t> extracted;  // the entry copied out last
};

extern ContainerStateRecord ContainerState;

// Back to the empty state; for tests.
void ResetContainerState();

// Records a container read and parsed by the start sequence: its image and
// its entries, for the watch to find the tool's window title in.
void KeepContainer(std::vector<std::uint8_t> image, ParsedContainer parsed);
// Records the entry copied out for the tool; returns the kept bytes.
const std::vector<std::uint8_t>& KeepExtracted(std::vector<std::uint8_t> bytes);

// What follows are the same steps recording into ContainerState as they go,
// for the tests and tools that work on the launcher's one container.

// Reads the whole file at `path` into ContainerState.image and clears its
// attributes to normal. False, with the state untouched, when the file cannot
// be opened, its size taken or all of it read.
bool LoadContainer(const WidePath& path);

// Parses the header of ContainerState.image, with the platform's lead-byte
// test, into payloadOffset, entryCount and entries (appending). True when at
// least one record was read.
bool ParseContainer();

// Copies the last entry named exactly `name` into ContainerState.extracted.
// An entry that does not lie wholly inside the image leaves `extracted`
// empty.
struct Extraction {
  std::int32_t firstIndex = -1;  // the first entry of that name, or -1
  bool copied = false;           // `extracted` holds the last one's bytes
};
Extraction ExtractEntry(const std::string& name);

// WriteNewFile of ContainerState.extracted.
WriteOutcome WriteExtracted(const WidePath& path);

// HoldFile of ContainerState.extracted.
OwnedHandle HoldExtracted(const WidePath& path);

}  // namespace qm
