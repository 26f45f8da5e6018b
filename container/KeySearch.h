// Finding the container's keys in header text, by multibyte character: in a
// double-byte ANSI code page a key never starts on a trail byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container/Container.h"

namespace qm {

// Which bytes of text[0, length) start a character, scanning from text[0].
std::vector<bool> CharacterStarts(const std::uint8_t* text, std::int64_t length, const LeadBytes& leadBytes);

// Index of the first occurrence of `key` at or after `from` that starts a
// character, or -1.
std::int64_t FindKey(const std::uint8_t* text, std::int64_t length, const std::vector<bool>& starts,
                     const std::string& key, std::int64_t from);

// One key in header text.
struct KeyHit {
  Key key;
  std::int64_t at;       // where the key starts
  std::int64_t valueAt;  // where its value starts
  std::int64_t end;      // where the value ends: the next key, or the text's end
};

// Every key in text[0, length) that starts a character, in order, each
// searched from the end of the one before: one pass over the text.
std::vector<KeyHit> FindAllKeys(const std::uint8_t* text, std::int64_t length, const LeadBytes& leadBytes);

}  // namespace qm
