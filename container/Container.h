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
// matched and leaves `extracted` empty.
void ExtractEntry(const std::string& name);

// Creates (or truncates) the file at `path` and writes ContainerState.extracted
// in one call. True when the file was created and every byte written.
bool WriteExtracted(const std::string& path);

}  // namespace qm
