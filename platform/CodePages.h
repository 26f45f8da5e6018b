// The ANSI code pages of Windows, as far as reading a container depends on
// them: which bytes lead a double-byte character.
#pragma once

#include <cstdint>
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

}  // namespace qm
