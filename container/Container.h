// The tool container "QM_File.ini": a text header of records, the marker,
// then the payload with every entry's bytes.
//
//   QM_FileName:<name>QM_FileSize:<n>QM_FilePlace:<n>[QM_FindHwnd:<title>]...
//   ...more records...
//   QM_Program_Start:<payload>
//
// Values have no delimiters: each runs to the next key. Sizes and places are
// decimal; a place counts from the first payload byte. The parser sees the
// file up to its first zero byte only.
//
// This header offers the container as bytes and records, with no state of
// its own; container/ContainerState.h holds the launcher's one container.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/OwnedHandle.h"
#include "platform/Platform.h"

namespace qm {

// The five keys, spelled here once.
enum class Key { kName, kSize, kPlace, kTitle, kMarker };
constexpr Key kAllKeys[] = {Key::kName, Key::kSize, Key::kPlace, Key::kTitle, Key::kMarker};
constexpr std::size_t kLongestKeyLength = 17;  // "QM_Program_Start:"
// "QM_FileName:", "QM_FileSize:", "QM_FilePlace:", "QM_FindHwnd:", "QM_Program_Start:".
const std::string& KeyText(Key key);

// One container record.
struct PROGRAMINFO {
  std::string spareText;              // kept for the record's layout; set and read by nothing
  std::string fileName;               // value of QM_FileName:
  std::int32_t spareNumber = 0;       // kept for the record's layout; set and read by nothing
  std::int32_t fileSize = 0;          // value of QM_FileSize:
  std::int32_t filePlace = 0;         // value of QM_FilePlace:, from payloadOffset
  std::vector<std::string> findHwnd;  // values of QM_FindHwnd:, in file order
  std::int32_t findHwndCount = 0;     // number of QM_FindHwnd: keys read
};

// An ANSI code page's lead-byte test, as a table.
struct LeadBytes {
  bool lead[256] = {};

  static LeadBytes Of(AnsiCodePage& codePage);
  bool operator()(std::uint8_t byte) const { return lead[byte]; }
};

// What the parser reads from a container's bytes.
struct ParsedContainer {
  std::int32_t payloadOffset = 0;  // file offset of the first payload byte
  std::vector<PROGRAMINFO> entries;
};

// The header's length: the image up to its first zero byte, or all of it.
std::int64_t HeaderLength(const std::vector<std::uint8_t>& image);

// Parses the header of `image`, searching keys by character of the code
// page whose lead bytes are given. Linear in the header's length.
ParsedContainer ParseHeader(const std::vector<std::uint8_t>& image, const LeadBytes& leadBytes);

// Whether `entry` lies wholly inside an image of `imageSize` bytes whose
// payload begins at `payloadOffset`.
bool EntryInside(const PROGRAMINFO& entry, std::int32_t payloadOffset, std::size_t imageSize);

// The entries named exactly `name`: the first, whose index the launcher
// keeps, and the last, whose bytes it copies; -1 when none has the name.
struct NameMatch {
  std::int32_t first = -1;
  std::int32_t last = -1;
};
NameMatch FindEntry(const std::vector<PROGRAMINFO>& entries, const std::string& name);

// An entry copied out of an image: the launcher's rule, for it and qmtool.
struct EntryCopy {
  NameMatch match;                  // the first entry named so gives the index, the last the bytes
  bool copied = false;              // the last one lies wholly inside the image
  std::vector<std::uint8_t> bytes;  // its bytes when copied, else empty
};
EntryCopy CopyEntry(const std::vector<std::uint8_t>& image, std::int32_t payloadOffset,
                    const std::vector<PROGRAMINFO>& entries, const std::string& name);

// Opens the file at `path` for reading, sharing read access only: while the
// handle is open the file can be neither written, replaced nor deleted.
OwnedHandle OpenForReading(const WidePath& path);

// Opens the file at `path` with OpenForReading and compares it byte for
// byte with `expected`. Returns the open handle when they are equal;
// otherwise none, with nothing left open.
OwnedHandle HoldFile(const WidePath& path, const std::vector<std::uint8_t>& expected);

// Reads the whole file at `path`, in parts of a few MiB, and clears its
// attributes to normal. False, with *image untouched, when the file cannot
// be opened, its size taken or all of it read.
bool ReadContainerFile(const WidePath& path, std::vector<std::uint8_t>* image);

enum class WriteOutcome {
  kWhole,       // the file was created and every byte written
  kNotCreated,  // nothing was written: the file could not be created
  kPartial,     // the file was created, but not every byte written
};

// Writes `bytes` as a new file at `path`, in parts of a few MiB. A file
// standing at `path` is first renamed to an unguessable name beside it and
// deleted there (a hard link loses its name, not the file it points at; one
// that cannot be deleted goes at the next restart); a folder, a read-only
// file and what cannot be renamed are deleted in place. The file is created
// only if nothing stands there any more, shared for reading only while it
// is written.
WriteOutcome WriteNewFile(const WidePath& path, const std::vector<std::uint8_t>& bytes);

// Asks the system to delete `path` at the next restart (administrators
// only); a file on a network share, which the system cannot delete then,
// is left.
void RemoveAtRestart(const WidePath& path);

}  // namespace qm
