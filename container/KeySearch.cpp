#include "container/KeySearch.h"

#include <cstring>

#include "platform/CodePages.h"

namespace qm {

std::vector<bool> CharacterStarts(const std::uint8_t* text, std::int64_t length, const LeadBytes& leadBytes) {
  bool anyLead = false;
  for (bool lead : leadBytes.lead) anyLead = anyLead || lead;
  std::vector<bool> starts(static_cast<std::size_t>(length), !anyLead);
  if (!anyLead) return starts;
  const auto size = static_cast<std::size_t>(length);
  for (std::size_t at = 0; at < size; at = NextCharacter(text, size, at, leadBytes)) starts[at] = true;
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

std::vector<KeyHit> FindAllKeys(const std::uint8_t* text, std::int64_t length, const LeadBytes& leadBytes) {
  const std::vector<bool> starts = CharacterStarts(text, length, leadBytes);
  const auto* bytes = reinterpret_cast<const char*>(text);
  std::vector<KeyHit> hits;
  // Every key begins with "QM_": look only where a 'Q' starts a character.
  for (std::int64_t at = 0; at < length;) {
    const void* q = std::memchr(bytes + at, 'Q', static_cast<std::size_t>(length - at));
    if (q == nullptr) break;
    at = static_cast<const char*>(q) - bytes;
    bool found = false;
    for (Key key : kAllKeys) {
      const std::string& textOfKey = KeyText(key);
      const auto keyLength = static_cast<std::int64_t>(textOfKey.size());
      if (!starts[static_cast<std::size_t>(at)] || at + keyLength > length ||
          std::memcmp(bytes + at, textOfKey.data(), textOfKey.size()) != 0) {
        continue;
      }
      if (!hits.empty()) hits.back().end = at;
      hits.push_back({key, at, at + keyLength, length});
      at += keyLength;
      found = true;
      break;
    }
    if (!found) ++at;
  }
  return hits;
}

}  // namespace qm
