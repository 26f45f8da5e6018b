// SHA-1 (FIPS 180-4, 6.1) and SHA-256 (6.2) over 64-byte blocks.
#include "tools/qmtool/Digest.h"

#include <algorithm>
#include <cstring>

namespace qm {

namespace {

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t BigEndian32(const std::uint8_t* at) {
  return (static_cast<std::uint32_t>(at[0]) << 24) | (static_cast<std::uint32_t>(at[1]) << 16) |
         (static_cast<std::uint32_t>(at[2]) << 8) | at[3];
}

const std::uint32_t kSha256Rounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

Digest::Digest(DigestKind kind) : kind_(kind) {
  static const std::uint32_t kSha1Start[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  static const std::uint32_t kSha256Start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memset(state_, 0, sizeof(state_));
  if (kind_ == DigestKind::kSha1) {
    std::memcpy(state_, kSha1Start, sizeof(kSha1Start));
  } else {
    std::memcpy(state_, kSha256Start, sizeof(kSha256Start));
  }
}

void Digest::Block(const std::uint8_t* block) {
  if (kind_ == DigestKind::kSha1) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = BigEndian32(block + 4 * t);
    for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int t = 0; t < 80; ++t) {
      std::uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6;
      }
      const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
      e = d, d = c, c = RotateLeft(b, 30), b = a, a = next;
    }
    state_[0] += a, state_[1] += b, state_[2] += c, state_[3] += d, state_[4] += e;
    return;
  }
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = BigEndian32(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t v[8];
  std::memcpy(v, state_, sizeof(v));
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
    const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choose + kSha256Rounds[t] + w[t];
    const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    std::memmove(v + 1, v, 7 * sizeof(std::uint32_t));
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int i = 0; i < 8; ++i) state_[i] += v[i];
}

void Digest::Add(const std::uint8_t* bytes, std::size_t count) {
  totalBytes_ += count;
  while (count > 0) {
    const std::size_t take = std::min(count, sizeof(pending_) - pendingCount_);
    std::memcpy(pending_ + pendingCount_, bytes, take);
    pendingCount_ += take;
    bytes += take;
    count -= take;
    if (pendingCount_ == sizeof(pending_)) {
      Block(pending_);
      pendingCount_ = 0;
    }
  }
}

std::vector<std::uint8_t> Digest::Finish() {
  const std::uint64_t bits = totalBytes_ * 8;
  const std::uint8_t one = 0x80, zero = 0;
  Add(&one, 1);
  while (pendingCount_ != 56) Add(&zero, 1);
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Add(length, 8);
  const int words = kind_ == DigestKind::kSha1 ? 5 : 8;
  std::vector<std::uint8_t> out;
  for (int i = 0; i < words; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(state_[i] >> shift));
  }
  return out;
}

}  // namespace qm
