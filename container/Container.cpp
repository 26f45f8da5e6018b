// The container state, loading the file, and copying an entry out of it.
#include "container/Container.h"

#include <algorithm>
#include <new>

#include "app/LauncherState.h"
#include "platform/Platform.h"

namespace qm {

const std::string kKeyName = "QM_FileName:";
const std::string kKeySize = "QM_FileSize:";
const std::string kKeyPlace = "QM_FilePlace:";
const std::string kKeyTitle = "QM_FindHwnd:";
const std::string kKeyMarker = "QM_Program_Start:";

ContainerStateRecord ContainerState;

void ResetContainerState() { ContainerState = ContainerStateRecord(); }

namespace {

constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;

// Reads the whole open file; false on a failed or short read.
bool ReadWhole(Handle file, std::vector<std::uint8_t>* image) {
  const std::uint32_t size = Sys().GetFileSize(file);
  if (size == kInvalidFileSize) return false;  // failed, or too large to hold anyway
  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return false;  // larger than the memory we can have
  }
  std::uint32_t read = 0;
  if (!Sys().ReadFile(file, bytes.data(), size, &read) || read != size) return false;
  image->swap(bytes);
  return true;
}

}  // namespace

bool LoadContainer(const std::string& path) {
  FileOpenRequest request;
  request.access = win::kGenericRead;
  request.share = win::kFileShareRead;
  request.disposition = win::kOpenExisting;
  request.flagsAndAttributes = win::kFileAttributeNormal;
  const Handle file = Sys().CreateFile(path, request);
  if (file == kInvalidHandle) return false;
  // Clears read-only, hidden and system for good; a failure does not matter.
  Sys().SetFileAttributes(path, win::kFileAttributeNormal);
  const bool read = ReadWhole(file, &ContainerState.image);
  Sys().CloseHandle(file);
  return read;
}

bool EntryInsideImage(const PROGRAMINFO& entry) {
  if (entry.fileSize < 0 || entry.filePlace < 0 || ContainerState.payloadOffset < 0) return false;
  // 64-bit sums: no overflow, whatever the header says.
  const std::int64_t start = static_cast<std::int64_t>(ContainerState.payloadOffset) + entry.filePlace;
  return start + entry.fileSize <= static_cast<std::int64_t>(ContainerState.image.size());
}

bool ExtractEntry(const std::string& name) {
  bool copied = false;
  for (std::size_t i = 0; i < ContainerState.entries.size(); ++i) {
    const PROGRAMINFO& entry = ContainerState.entries[i];
    if (entry.fileName != name) continue;
    if (LauncherState.firstEntryIndex == -1) LauncherState.firstEntryIndex = static_cast<std::int32_t>(i);
    copied = EntryInsideImage(entry);
    if (!copied) {
      ContainerState.extracted.clear();  // nothing outside the image is copied
      continue;
    }
    const auto first = ContainerState.image.begin() + ContainerState.payloadOffset + entry.filePlace;
    ContainerState.extracted.assign(first, first + entry.fileSize);
  }
  return copied;
}

WriteOutcome WriteExtracted(const std::string& path) {
  // Not looked at: whatever cannot be deleted makes the creation fail.
  Sys().DeleteFile(path);
  FileOpenRequest request;
  request.access = win::kGenericWrite;
  request.share = win::kFileShareRead;
  request.disposition = win::kCreateNew;
  request.flagsAndAttributes = win::kFileAttributeNormal;
  const Handle file = Sys().CreateFile(path, request);
  if (file == kInvalidHandle) return WriteOutcome::kNotCreated;
  const auto size = static_cast<std::uint32_t>(ContainerState.extracted.size());
  std::uint32_t written = 0;
  const bool ok = Sys().WriteFile(file, ContainerState.extracted.data(), size, &written);
  Sys().CloseHandle(file);
  // A short write is a failed write, whatever the call said.
  return ok && written == size ? WriteOutcome::kWhole : WriteOutcome::kPartial;
}

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

Handle HoldExtracted(const std::string& path) {
  FileOpenRequest request;
  request.access = win::kGenericRead;
  request.share = win::kFileShareRead;
  request.disposition = win::kOpenExisting;
  request.flagsAndAttributes = win::kFileAttributeNormal;
  const Handle file = Sys().CreateFile(path, request);
  if (file == kInvalidHandle) return kInvalidHandle;
  if (HoldsExtracted(file)) return file;
  Sys().CloseHandle(file);
  return kInvalidHandle;
}

}  // namespace qm
