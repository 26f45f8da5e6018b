// The ANSI code pages of Windows, as far as reading a container depends on
// them: which bytes lead a double-byte character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The double-byte ANSI code pages: Japanese, Simplified Chinese, Korean and
// Traditional Chinese.
const std::vector<int>& DoubleByteCodePages();

// Whether `codePage` is an ANSI code page of Windows: 874, 1250 to 1258, or
// one of the double-byte ones.
bool IsAnsiCodePage(int codePage);

// The lead-byte test of `codePage`; false for every byte of a single-byte
// code page.
bool IsLeadByteOfCodePage(int codePage, std::uint8_t byte);

// The walk by character of a double-byte code page, written once: a lead
// byte and the byte after it are one character; a lead byte at the end is a
// character of its own. `isLead` is any lead-byte test.
template <typename IsLead>
std::size_t NextCharacter(const std::uint8_t* text, std::size_t length, std::size_t at, const IsLead& isLead) {
  return isLead(text[at]) && at + 1 < length ? at + 2 : at + 1;
}

// Whether `part` occurs in `text` starting at a character boundary (a match
// never starts on a trail byte). An empty part occurs in every text.
template <typename IsLead>
bool ContainsAtCharacter(const std::string& text, const std::string& part, const IsLead& isLead) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  for (std::size_t at = 0; at + part.size() <= text.size(); at = NextCharacter(bytes, text.size(), at, isLead)) {
    if (text.compare(at, part.size(), part) == 0) return true;
  }
  return false;
}

}  // namespace qm
