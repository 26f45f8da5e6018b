// Writing containers that the launcher reads exactly as written, and checking
// existing ones against the same rules:
//
//  1. no zero byte before the end of the marker, and a zero byte in the
//     payload before any run of bytes that equals a key;
//  2. records in entry order, optionally after text without keys;
//  3. nothing between a name and its size key, or a title and the next key;
//  4. sizes and places as decimal digits, optionally followed by white space;
//  5. no key text inside a name, a title or a number;
//  6. exactly one title in the last record, directly followed by the marker;
//  7. the payload right after the marker, each entry wholly inside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

struct PackEntry {
  std::string name;
  std::vector<std::uint8_t> bytes;
  std::vector<std::string> titles;
};

struct PackResult {
  std::vector<std::uint8_t> image;    // the container, when errors is empty
  std::vector<std::string> errors;    // each names the offending entry
};

// "entry 2 (\"Elm_5.exe\")": how messages name an entry, counting from 1.
std::string DescribeEntry(std::size_t index, const std::string& name);

// Lays the entries out one after the other behind a header of records. Uses
// the platform's lead-byte test, as the launcher's parser does.
PackResult BuildContainer(const std::vector<PackEntry>& entries);

// Every way in which `image` breaks the rules above; empty when it keeps them.
// Leaves ContainerState holding `image`, parsed.
std::vector<std::string> VerifyContainer(const std::vector<std::uint8_t>& image);

// Whether the parsed ContainerState holds exactly `entries` as packed into
// `image`; the differences otherwise.
std::vector<std::string> CompareParsed(const std::vector<PackEntry>& entries);

}  // namespace qm
