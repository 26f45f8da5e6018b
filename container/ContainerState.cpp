// The launcher's one container, and the entry it copies out of it.
#include "container/ContainerState.h"

#include <iterator>

namespace qm {

ContainerStateRecord ContainerState;

void ResetContainerState() { ContainerState = ContainerStateRecord(); }

bool LoadContainer(const WidePath& path) { return ReadContainerFile(path, &ContainerState.image); }

bool ParseContainer() {
  ParsedContainer parsed = ParseHeader(ContainerState.image, LeadBytes::Of(CodePage()));
  const bool read = !parsed.entries.empty();
  ContainerState.payloadOffset = parsed.payloadOffset;
  std::vector<PROGRAMINFO>& entries = ContainerState.entries;
  // A second parse appends, as the records would be read again.
  if (entries.empty()) {
    entries = std::move(parsed.entries);
  } else {
    entries.insert(entries.end(), std::make_move_iterator(parsed.entries.begin()),
                   std::make_move_iterator(parsed.entries.end()));
  }
  ContainerState.entryCount = static_cast<std::int32_t>(entries.size());
  return read;
}

void KeepContainer(std::vector<std::uint8_t> image, ParsedContainer parsed) {
  ContainerState.image = std::move(image);
  ContainerState.payloadOffset = parsed.payloadOffset;
  ContainerState.entries = std::move(parsed.entries);
  ContainerState.entryCount = static_cast<std::int32_t>(ContainerState.entries.size());
}

const std::vector<std::uint8_t>& KeepExtracted(std::vector<std::uint8_t> bytes) {
  ContainerState.extracted = std::move(bytes);
  return ContainerState.extracted;
}

Extraction ExtractEntry(const std::string& name) {
  EntryCopy copy = CopyEntry(ContainerState.image, ContainerState.payloadOffset, ContainerState.entries, name);
  if (copy.match.last >= 0) ContainerState.extracted = std::move(copy.bytes);  // nothing matched: stays as it was
  return {copy.match.first, copy.copied};
}

WriteOutcome WriteExtracted(const WidePath& path) { return WriteNewFile(path, ContainerState.extracted); }

OwnedHandle HoldExtracted(const WidePath& path) { return HoldFile(path, ContainerState.extracted); }

}  // namespace qm
