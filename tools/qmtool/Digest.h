// SHA-1 and SHA-256, for comparing an executable with the digest its
// Authenticode signature states.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm {

enum class DigestKind { kSha1, kSha256 };

class Digest {
 public:
  explicit Digest(DigestKind kind);
  void Add(const std::uint8_t* bytes, std::size_t count);
  std::vector<std::uint8_t> Finish();

 private:
  void Block(const std::uint8_t* block);

  DigestKind kind_;
  std::uint32_t state_[8];
  std::uint8_t pending_[64];
  std::size_t pendingCount_ = 0;
  std::uint64_t totalBytes_ = 0;
};

}  // namespace qm
