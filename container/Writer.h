// Writing containers that the launcher reads exactly as written, and checking
// existing ones against the same rules:
//
//  1. no zero byte before the end of the marker, and a zero byte in the
//     payload before any run of bytes that equals a key;
//  2. records in entry order, optionally after text without keys;
//  3. nothing between a name and its size key, or a title and the next key;
//  4. sizes and places as decimal digits, optionally followed by white space;
//  5. no key text inside a name, a title or a number, and no control
//     character (below 0x20, or 0x7F) in a name or a title;
//  6. exactly one title in the last record, directly followed by the marker;
//  7. the payload right after the marker, each entry wholly inside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container/Container.h"
#include "platform/CodePages.h"

namespace qm {

// An entry with its bytes in memory.
struct PackEntry {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> titles;
};

// An entry as its record states it.
struct EntryRecord {
  std::string name;
  std::uint64_t size = 0;
  std::vector<std::string> titles;
};

struct PackResult {
  std::vector<std::uint8_t> image;  // the container or its header, when errors is empty
  std::vector<std::string> errors;  // each names the offending entry
};

// "entry 2 (\"Elm_5.exe\")": how messages name an entry, counting from 1;
// control characters in the name are shown as \xXX.
std::string DescribeEntry(std::size_t index, const std::string& name);

// Tells, from the payload's bytes fed in order, whether the payload must
// begin with a zero byte: the launcher reads the file up to its first zero
// byte as header text, so a key there would be read as one.
class PayloadStart {
 public:
  // Feeds the next bytes; false once a zero byte has ended what matters.
  bool Feed(const std::uint8_t* bytes, std::size_t count);
  bool NeedsLeadingZero() const { return keyFound_; }

 private:
  std::string tail_;  // the last bytes fed, for a key split between two calls
  bool zeroSeen_ = false;
  bool keyFound_ = false;
};

// Names and titles are refused when they end with a lead byte under any of
// `codePages` (by default every double-byte ANSI code page of Windows): the
// launcher would then read the next key as part of the value.

// The header of a container that holds the entries one after the other:
// the records, the marker and, when `leadingZero`, the payload's first
// byte 0. The entries' bytes follow it.
PackResult BuildHeader(const std::vector<EntryRecord>& entries, bool leadingZero,
                       const std::vector<int>& codePages = DoubleByteCodePages());

// The whole container of entries held in memory.
PackResult BuildContainer(const std::vector<PackEntry>& entries,
                          const std::vector<int>& codePages = DoubleByteCodePages());

// The entries whose first title the launcher's watch looks for, and the
// title of the launcher's own window (the watch sees that window too). The
// launcher gives both (app/Watch.h); by default no entry is watched.
struct WatchedTitles {
  std::vector<std::string> entryNames;
  std::string frameTitle;
  std::size_t longestTitle = 0;  // the most bytes of a window title the watch reads
};

// Why the watch could never finish with the titles of entry `name`, or ""
// when it can: a watched entry needs a first title that is not empty (it
// would match every window), at most `longestTitle` bytes (the watch reads
// no more of a title) and not inside the frame's title (it would match that window
// for as long as the launcher runs), read by character with `leadBytes`.
// Entries the launcher does not watch may have any titles.
std::string WatchedTitleProblem(const std::string& name, const std::vector<std::string>& titles,
                                const WatchedTitles& watched, const LeadBytes& leadBytes);

// Every way in which `image` breaks the rules above, every name or title
// that reads differently under one of `codePages`, and every watched entry
// whose first title the watch could never finish with; empty when it keeps
// them. Reads `image` with the platform's lead-byte test.
std::vector<std::string> VerifyContainer(const std::vector<std::uint8_t>& image,
                                         const std::vector<int>& codePages = DoubleByteCodePages(),
                                         const WatchedTitles& watched = {});

// How `parsed`, read from an image of `imageSize` bytes, differs from the
// records: names, sizes, titles, and entries that do not lie inside.
std::vector<std::string> CompareParsedRecords(const ParsedContainer& parsed, std::size_t imageSize,
                                              const std::vector<EntryRecord>& records);

// How `image`, read with the platform's lead-byte test, differs from the
// entries it was packed from: their records and their bytes.
std::vector<std::string> CompareParsed(const std::vector<std::uint8_t>& image, const std::vector<PackEntry>& entries);

}  // namespace qm
