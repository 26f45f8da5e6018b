#include "container/KeySearch.h"

#include <cstring>

#include "platform/Platform.h"

namespace qm {

std::vector<bool> CharacterStarts(const std::uint8_t* text, std::int64_t length) {
  bool lead[256];
  bool anyLead = false;
  for (int byte = 0; byte < 256; ++byte) {
    lead[byte] = Sys().IsDbcsLeadByte(static_cast<std::uint8_t>(byte));
    anyLead = anyLead || lead[byte];
  }
  std::vector<bool> starts(static_cast<std::size_t>(length), !anyLead);
  if (!anyLead) return starts;
  for (std::int64_t i = 0; i < length;) {
    starts[static_cast<std::size_t>(i)] = true;
    i += (lead[text[i]] && i + 1 < length) ? 2 : 1;
  }
  return starts;
}

std::int64_t FindKey(const std::uint8_t* text, std::int64_t length, const std::vector<bool>& starts,
                     const std::string& key, std::int64_t from) {
  const auto* bytes = reinterpret_cast<const char*>(text);
  const auto keyLength = static_cast<std::int64_t>(key.size());
  for (std::int64_t at = from < 0 ? 0 : from; at + keyLength <= length; ++at) {
    const void* hit = std::memchr(bytes + at, key[0], static_cast<std::size_t>(length - at));
    if (hit == nullptr) return -1;
    at = static_cast<const char*>(hit) - bytes;
    if (at + keyLength > length) return -1;
    if (starts[static_cast<std::size_t>(at)] && std::memcmp(bytes + at, key.data(), key.size()) == 0) return at;
  }
  return -1;
}

}  // namespace qm
