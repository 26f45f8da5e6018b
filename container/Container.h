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
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace qm {

extern const std::string kKeyName;    // "QM_FileName:"
extern const std::string kKeySize;    // "QM_FileSize:"
extern const std::string kKeyPlace;   // "QM_FilePlace:"
extern const std::string kKeyTitle;   // "QM_FindHwnd:"
extern const std::string kKeyMarker;  // "QM_Program_Start:"

// One container record.
struct PROGRAMINFO {
  std::string spareText;              // set and read by no operation
  std::string fileName;               // value of QM_FileName:
  std::int32_t spareNumber = 0;       // set and read by no operation
  std::int32_t fileSize = 0;          // value of QM_FileSize:
  std::int32_t filePlace = 0;         // value of QM_FilePlace:, from payloadOffset
  std::vector<std::string> findHwnd;  // values of QM_FindHwnd:, in file order
  std::int32_t findHwndCount = 0;     // number of QM_FindHwnd: keys read
};

struct ContainerStateRecord {
  std::vector<std::uint8_t> image;  // the whole file as read
  std::int32_t payloadOffset = 0;   // file offset of the first payload byte
  std::int32_t entryCount = 0;      // == entries.size()
  std::vector<PROGRAMINFO> entries;
  std::vector<std::uint8_t> extracted;  // the entry copied out last
};

extern ContainerStateRecord ContainerState;

// Back to the empty state; for tests and tools.
void ResetContainerState();

// Reads the whole file at `path` into ContainerState.image and clears its
// attributes to normal. False, with the state untouched, when the file cannot
// be opened, its size taken or all of it read.
bool LoadContainer(const std::string& path);

// Parses the header of ContainerState.image into payloadOffset, entryCount
// and entries (appending). True when at least one record was read.
bool ParseContainer();

// Whether `entry` lies wholly inside ContainerState.image.
bool EntryInsideImage(const PROGRAMINFO& entry);

// Copies the last entry named exactly `name` into ContainerState.extracted and
// records the first such entry's index in LauncherState.firstEntryIndex (once
// per process). An entry that does not lie wholly inside the image counts as
// matched and leaves `extracted` empty. True when `extracted` holds the
// bytes of that last entry; false when no entry has the name or it lies
// outside the image.
bool ExtractEntry(const std::string& name);

enum class WriteOutcome {
  kWhole,       // the file was created and every byte written
  kNotCreated,  // nothing was written: the file could not be created
  kPartial,     // the file was created, but not every byte written
};

// Writes ContainerState.extracted as a new file at `path`, in one call.
// Whatever stands at `path` is deleted first (a hard link loses its name,
// not the file it points at), and the file is created only if nothing
// stands there any more, shared for reading only while it is written.
WriteOutcome WriteExtracted(const std::string& path);

// Opens the file at `path` for reading, sharing read access only (so that it
// can be neither written, replaced nor deleted while the handle is open), and
// compares it byte for byte with ContainerState.extracted. Returns the open
// handle when they are equal; otherwise kInvalidHandle, with nothing open.
Handle HoldExtracted(const std::string& path);

}  // namespace qm
