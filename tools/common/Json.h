// JSON text for the tools' --json output. Texts are written byte for byte:
// printable ASCII as itself (with \" and \\), every other byte as \u00XX.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

std::string JsonString(const std::string& bytes);

// Human-readable form of a text: printable ASCII as itself, others as \xXX.
std::string Printable(const std::string& bytes);

}  // namespace qm
