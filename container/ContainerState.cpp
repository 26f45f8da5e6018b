// The launcher's one container, and the entry it copies out of it.
#include "container/ContainerState.h"

#include <algorithm>
#include <iterator>

namespace qm {

ContainerStateRecord ContainerState;

void ResetContainerState() { ContainerState = ContainerStateRecord(); }

bool LoadContainer(const WidePath& path) { return ReadContainerFile(path, &ContainerState.image); }

bool ParseContainer() {
  ParsedContainer parsed = ParseHeader(ContainerState.image, LeadBytes::Of(Sys()));
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

Extraction ExtractEntry(const std::string& name) {
  const NameMatch match = FindEntry(ContainerState.entries, name);
  Extraction extraction;
  extraction.firstIndex = match.first;
  if (match.last < 0) return extraction;  // nothing matched: `extracted` stays as it was
  const PROGRAMINFO& entry = ContainerState.entries[static_cast<std::size_t>(match.last)];
  ContainerState.extracted.clear();  // nothing outside the image is copied
  extraction.copied = EntryInside(entry, ContainerState.payloadOffset, ContainerState.image.size());
  if (extraction.copied) {
    const auto first = ContainerState.image.begin() + ContainerState.payloadOffset + entry.filePlace;
    ContainerState.extracted.assign(first, first + entry.fileSize);
  }
  return extraction;
}

WriteOutcome WriteExtracted(const WidePath& path) { return WriteNewFile(path, ContainerState.extracted); }

namespace {

// Whether the open file holds exactly ContainerState.extracted.
bool HoldsExtracted(Handle file) {
  const std::vector<std::uint8_t>& expected = ContainerState.extracted;
  if (Sys().GetFileSize(file) != expected.size()) return false;
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (std::size_t at = 0; at < expected.size();) {
    const auto want = static_cast<std::uint32_t>(std::min(chunk.size(), expected.size() - at));
    std::uint32_t read = 0;
    if (!Sys().ReadFile(file, chunk.data(), want, &read) || read != want) return false;
    if (!std::equal(chunk.begin(), chunk.begin() + want, expected.begin() + static_cast<std::ptrdiff_t>(at))) {
      return false;
    }
    at += want;
  }
  return true;
}

}  // namespace

OwnedHandle HoldExtracted(const WidePath& path) {
  OwnedHandle file = OpenForReading(path);
  if (file.Valid() && !HoldsExtracted(file.Get())) file.Close();
  return file;
}

}  // namespace qm
