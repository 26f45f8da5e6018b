// The container as bytes and records: the keys, reading the file, finding
// and bounding entries, writing one out.
#include "container/Container.h"

#include <algorithm>
#include <new>

#include "platform/SubstLetters.h"

namespace qm {

namespace {

// A container is read whole into memory: from 4 GiB up it never can be on
// a 32-bit system (which cannot even hold 2 GiB in one piece).
constexpr std::uint64_t kLargestReadable = 0xFFFFFFFFu;

// One very large ReadFile or WriteFile can fail where smaller ones succeed
// (ERROR_NO_SYSTEM_RESOURCES under memory pressure; shares and XP set lower
// limits), so big files move in parts of this size.
constexpr std::uint32_t kFilePart = 4u << 20;

// Reads exactly `size` bytes, in parts, going on after a short count; false
// when a read fails or the file ends first.
bool ReadExactly(Handle file, std::uint8_t* buffer, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(kFilePart, size - done));
    std::uint32_t read = 0;
    if (!Files().ReadFile(file, buffer + done, want, &read) || read == 0 || read > want) return false;
    done += read;
  }
  return true;
}

// Writes all of `bytes`, in parts, going on after a short count; false when
// a write fails or moves nothing.
bool WriteAll(Handle file, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(kFilePart, bytes.size() - done));
    std::uint32_t written = 0;
    if (!Files().WriteFile(file, bytes.data() + done, want, &written) || written == 0 || written > want) return false;
    done += written;
  }
  return true;
}

// Reads the whole open file; false on a failed or short read.
bool ReadWhole(Handle file, std::vector<std::uint8_t>* image) {
  std::int64_t size = 0;
  std::vector<std::uint8_t> bytes;
  if (!Files().GetFileSizeEx(file, &size) || size < 0) return false;
  const auto wanted = static_cast<std::uint64_t>(size);
  if (wanted > kLargestReadable || wanted > bytes.max_size()) return false;  // resize would throw length_error
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;  // larger than the memory we can have
  }
  if (!ReadExactly(file, bytes.data(), bytes.size())) return false;
  image->swap(bytes);
  return true;
}

// The path with a suffix of 16 random hexadecimal digits, in the same
// folder; empty when the system has no randomness to give.
WidePath AsideName(const WidePath& path) {
  unsigned char random[8] = {};
  if (!Random().GenRandom(random, sizeof(random))) return WidePath();
  return path.WithRandomSuffix(".qm-", random);
}

// Frees the name `path` for a new file. A file standing there is first
// renamed aside and then deleted: a program that holds it open sharing
// delete (a scanner, typically) keeps a deleted file's name until it lets
// go, but not a renamed one's. A folder or a read-only file (kept on
// purpose) is never renamed; what is not renamed is deleted in place.
void ClearName(const WidePath& path) {
  const std::uint32_t attributes = Files().GetFileAttributes(path);
  const bool renamable = attributes != win::kInvalidFileAttributes &&
                         (attributes & (win::kFileAttributeDirectory | win::kFileAttributeReadOnly)) == 0;
  const WidePath aside = renamable ? AsideName(path) : WidePath();
  if (!aside.Empty() && Files().MoveFileEx(path, aside, 0)) {
    if (!Files().DeleteFile(aside)) RemoveAtRestart(aside);
    return;
  }
  // Not looked at: whatever cannot be deleted makes the creation fail.
  Files().DeleteFile(path);
}

}  // namespace

const std::string& KeyText(Key key) {
  static const std::string kTexts[] = {"QM_FileName:", "QM_FileSize:", "QM_FilePlace:", "QM_FindHwnd:",
                                       "QM_Program_Start:"};
  return kTexts[static_cast<int>(key)];
}

LeadBytes LeadBytes::Of(AnsiCodePage& codePage) {
  LeadBytes table;
  for (int byte = 0; byte < 256; ++byte) table.lead[byte] = codePage.IsDbcsLeadByte(static_cast<std::uint8_t>(byte));
  return table;
}

bool EntryInside(const PROGRAMINFO& entry, std::int32_t payloadOffset, std::size_t imageSize) {
  if (entry.fileSize < 0 || entry.filePlace < 0 || payloadOffset < 0) return false;
  // 64-bit sums: no overflow, whatever the header says.
  const std::int64_t start = static_cast<std::int64_t>(payloadOffset) + entry.filePlace;
  return start + entry.fileSize <= static_cast<std::int64_t>(imageSize);
}

NameMatch FindEntry(const std::vector<PROGRAMINFO>& entries, const std::string& name) {
  NameMatch match;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].fileName != name) continue;
    if (match.first == -1) match.first = static_cast<std::int32_t>(i);
    match.last = static_cast<std::int32_t>(i);
  }
  return match;
}

EntryCopy CopyEntry(const std::vector<std::uint8_t>& image, std::int32_t payloadOffset,
                    const std::vector<PROGRAMINFO>& entries, const std::string& name) {
  EntryCopy copy;
  copy.match = FindEntry(entries, name);
  if (copy.match.last < 0) return copy;
  const PROGRAMINFO& entry = entries[static_cast<std::size_t>(copy.match.last)];
  copy.copied = EntryInside(entry, payloadOffset, image.size());  // nothing outside the image is copied
  if (copy.copied) {
    const auto first = image.begin() + payloadOffset + entry.filePlace;
    copy.bytes.assign(first, first + entry.fileSize);
  }
  return copy;
}

OwnedHandle OpenForReading(const WidePath& path) {
  const FileOpenRequest request{win::kGenericRead, win::kFileShareRead, win::kOpenExisting, win::kFileAttributeNormal};
  return OwnedHandle(Files().CreateFileW(path, request), Files());
}

bool ReadContainerFile(const WidePath& path, std::vector<std::uint8_t>* image) {
  const OwnedHandle file = OpenForReading(path);
  if (!file.Valid()) return false;
  // Clears read-only, hidden and system for good; a failure does not matter.
  Files().SetFileAttributes(path, win::kFileAttributeNormal);
  return ReadWhole(file.Get(), image);
}

namespace {

// On a share: a UNC path, or one on a drive the system reports remote.
bool OnNetworkShare(const WidePath& path) {
  std::u16string units = path.Units();
  if (units.compare(0, 4, u"\\\\?\\") == 0) {
    if (units.compare(4, 4, u"UNC\\") == 0) return true;  // \\?\UNC\server\share
    units.erase(0, 4);                                    // \\?\C:\...
  }
  if (units.compare(0, 2, u"\\\\") == 0) return true;
  const std::u16string drive = WidePath(units).Drive();
  return !drive.empty() && Drives().GetDriveType(WidePath(drive + u"\\")) == win::kDriveRemote;
}

}  // namespace

void RemoveAtRestart(const WidePath& path) {
  // The deletions Windows makes at its start run before anyone logs on:
  // before the network is there, and where no subst letter is defined. A
  // file on a share is left as it is, not scheduled in vain, and so is one
  // behind a subst letter that does not lead to a local path.
  bool complete = false;
  const WidePath resolved = WithoutSubstLetters(path, &complete);
  if (!complete || OnNetworkShare(resolved)) return;
  Files().MoveFileEx(resolved, WidePath(), win::kMoveFileDelayUntilReboot);
}

WriteOutcome WriteNewFile(const WidePath& path, const std::vector<std::uint8_t>& bytes) {
  ClearName(path);
  const FileOpenRequest request{win::kGenericWrite, win::kFileShareRead, win::kCreateNew, win::kFileAttributeNormal};
  OwnedHandle file(Files().CreateFileW(path, request), Files());
  if (!file.Valid()) return WriteOutcome::kNotCreated;
  const bool whole = WriteAll(file.Get(), bytes);
  file.Close();
  return whole ? WriteOutcome::kWhole : WriteOutcome::kPartial;
}

namespace {

// Whether the open file holds exactly `expected`.
bool Holds(Handle file, const std::vector<std::uint8_t>& expected) {
  std::int64_t size = 0;
  if (!Files().GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size) != expected.size()) return false;
  std::vector<std::uint8_t> chunk(64 * 1024);
  for (std::size_t at = 0; at < expected.size();) {
    const auto want = static_cast<std::uint32_t>(std::min(chunk.size(), expected.size() - at));
    if (!ReadExactly(file, chunk.data(), want)) return false;
    if (!std::equal(chunk.begin(), chunk.begin() + want, expected.begin() + static_cast<std::ptrdiff_t>(at))) {
      return false;
    }
    at += want;
  }
  return true;
}

}  // namespace

OwnedHandle HoldFile(const WidePath& path, const std::vector<std::uint8_t>& expected) {
  OwnedHandle file = OpenForReading(path);
  if (file.Valid() && !Holds(file.Get(), expected)) file.Close();
  return file;
}

}  // namespace qm
