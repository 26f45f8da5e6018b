// What a container entry is, for packagers: a PE executable or not, with an
// Authenticode signature or not, whose, and whether the bytes still match
// the digest that the signature states. A report only: the signature itself
// is not checked against a certificate authority.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

struct PeReport {
  enum class Match { kNotChecked, kMatches, kDiffers };

  bool isPe = false;
  bool isSigned = false;
  std::string signer;                 // common name of the signing certificate; "" when unknown
  Match digest = Match::kNotChecked;  // the bytes against the signature's digest
};

PeReport InspectPe(const std::uint8_t* bytes, std::size_t size);

// A short mark for a listing: "PE, signed by NAME", "PE, unsigned", ...
std::string DescribePe(const PeReport& report);

}  // namespace qm
