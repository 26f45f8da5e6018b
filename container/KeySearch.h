// Finding the container's keys in header text, by multibyte character: in a
// double-byte ANSI code page a key never starts on a trail byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// Which bytes of text[0, length) start a character, scanning from text[0]
// with the platform's lead-byte test.
std::vector<bool> CharacterStarts(const std::uint8_t* text, std::int64_t length);

// Index of the first occurrence of `key` at or after `from` that starts a
// character, or -1.
std::int64_t FindKey(const std::uint8_t* text, std::int64_t length, const std::vector<bool>& starts,
                     const std::string& key, std::int64_t from);

}  // namespace qm
