#include "container/Writer.h"

#include <cstring>
#include <limits>

#include "container/Container.h"
#include "container/KeySearch.h"
#include "platform/Platform.h"

namespace qm {

std::string DescribeEntry(std::size_t index, const std::string& name) {
  return "entry " + std::to_string(index + 1) + " (\"" + name + "\")";
}

namespace {

const std::string* const kAllKeys[] = {&kKeyName, &kKeySize, &kKeyPlace, &kKeyTitle, &kKeyMarker};

// Why `value` cannot stand as a name or title in a header, or "".
std::string ValueProblem(const std::string& value) {
  if (value.find('\0') != std::string::npos) return "holds a zero byte";
  for (const std::string* key : kAllKeys) {
    if (value.find(*key) != std::string::npos) return "holds the key \"" + *key + "\"";
  }
  // A value ending in a lead byte would swallow the next key's first byte.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
  const std::vector<bool> starts = CharacterStarts(bytes, static_cast<std::int64_t>(value.size()));
  if (!value.empty() && starts.back() && Sys().IsDbcsLeadByte(bytes[value.size() - 1])) {
    return "ends with the lead byte of a double-byte character";
  }
  return std::string();
}

void Append(std::vector<std::uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
}

// Whether the payload needs a leading zero byte: a run of bytes equal to a
// key before the payload's first zero would be read as header text.
bool PayloadNeedsLeadingZero(const std::vector<PackEntry>& entries) {
  std::vector<std::uint8_t> prefix;
  for (const PackEntry& entry : entries) {
    const void* zero = entry.bytes.empty() ? nullptr : std::memchr(entry.bytes.data(), 0, entry.bytes.size());
    if (zero == nullptr) {
      prefix.insert(prefix.end(), entry.bytes.begin(), entry.bytes.end());
      continue;
    }
    prefix.insert(prefix.end(), entry.bytes.data(), static_cast<const std::uint8_t*>(zero));
    break;
  }
  const std::string text(prefix.begin(), prefix.end());
  for (const std::string* key : kAllKeys) {
    if (text.find(*key) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

PackResult BuildContainer(const std::vector<PackEntry>& entries) {
  PackResult result;
  if (entries.empty()) result.errors.push_back("a container needs at least one entry");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PackEntry& entry = entries[i];
    const std::string nameProblem = ValueProblem(entry.name);
    if (!nameProblem.empty()) result.errors.push_back(DescribeEntry(i, entry.name) + ": the name " + nameProblem);
    for (const std::string& title : entry.titles) {
      const std::string problem = ValueProblem(title);
      if (!problem.empty()) result.errors.push_back(DescribeEntry(i, entry.name) + ": a title " + problem);
    }
    if (entry.bytes.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      result.errors.push_back(DescribeEntry(i, entry.name) + ": larger than 2 GiB");
    }
  }
  if (!entries.empty() && entries.back().titles.size() != 1) {
    result.errors.push_back(DescribeEntry(entries.size() - 1, entries.back().name) +
                            ": the last entry needs exactly one title, it has " +
                            std::to_string(entries.back().titles.size()));
  }
  if (!result.errors.empty()) return result;

  const bool leadingZero = PayloadNeedsLeadingZero(entries);
  std::vector<std::uint8_t>& image = result.image;
  std::int64_t place = leadingZero ? 1 : 0;
  for (const PackEntry& entry : entries) {
    Append(&image, kKeyName + entry.name);
    Append(&image, kKeySize + std::to_string(entry.bytes.size()));
    Append(&image, kKeyPlace + std::to_string(place));
    for (const std::string& title : entry.titles) Append(&image, kKeyTitle + title);
    place += static_cast<std::int64_t>(entry.bytes.size());
  }
  Append(&image, kKeyMarker);
  if (static_cast<std::int64_t>(image.size()) + place > std::numeric_limits<std::int32_t>::max()) {
    result.errors.push_back("the container would be larger than 2 GiB");
    result.image.clear();
    return result;
  }
  if (leadingZero) image.push_back(0);
  for (const PackEntry& entry : entries) image.insert(image.end(), entry.bytes.begin(), entry.bytes.end());
  return result;
}

namespace {

enum class Token { kName, kSize, kPlace, kTitle, kMarker };

struct KeyHit {
  Token token;
  std::int64_t at;      // where the key starts
  std::int64_t valueAt; // where its value starts
  std::int64_t end;     // where the value ends (the next key, or the header's end)
};

// Every key in the header text, in order.
std::vector<KeyHit> Tokenize(const std::uint8_t* text, std::int64_t length) {
  const std::vector<bool> starts = CharacterStarts(text, length);
  std::vector<KeyHit> hits;
  const Token tokens[] = {Token::kName, Token::kSize, Token::kPlace, Token::kTitle, Token::kMarker};
  for (std::int64_t at = 0; at < length;) {
    std::int64_t best = -1;
    int which = -1;
    for (int k = 0; k < 5; ++k) {
      const std::int64_t found = FindKey(text, length, starts, *kAllKeys[k], at);
      if (found >= 0 && (best < 0 || found < best)) {
        best = found;
        which = k;
      }
    }
    if (best < 0) break;
    hits.push_back({tokens[which], best, best + static_cast<std::int64_t>(kAllKeys[which]->size()), length});
    if (hits.size() > 1) hits[hits.size() - 2].end = best;
    at = hits.back().valueAt;
  }
  return hits;
}

bool IsDecimal(const std::uint8_t* text, std::int64_t from, std::int64_t to) {
  std::int64_t i = from;
  while (i < to && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == from) return false;
  while (i < to && std::strchr(" \t\r\n\v\f", text[i]) != nullptr) ++i;
  return i == to;
}

const char* TokenName(Token token) {
  switch (token) {
    case Token::kName: return "QM_FileName:";
    case Token::kSize: return "QM_FileSize:";
    case Token::kPlace: return "QM_FilePlace:";
    case Token::kTitle: return "QM_FindHwnd:";
    case Token::kMarker: return "QM_Program_Start:";
  }
  return "";
}

}  // namespace

std::vector<std::string> VerifyContainer(const std::vector<std::uint8_t>& image) {
  std::vector<std::string> problems;
  const std::uint8_t* text = image.data();
  const void* zero = image.empty() ? nullptr : std::memchr(text, 0, image.size());
  const std::int64_t headerLength = zero != nullptr ? static_cast<const std::uint8_t*>(zero) - text
                                                    : static_cast<std::int64_t>(image.size());
  std::vector<KeyHit> hits = Tokenize(text, headerLength);

  // The marker: the first one ends the header; keys after it are payload
  // bytes read as header text.
  std::size_t marker = 0;
  while (marker < hits.size() && hits[marker].token != Token::kMarker) ++marker;
  if (marker == hits.size()) {
    problems.push_back("no \"QM_Program_Start:\" marker before the file's first zero byte");
  } else if (marker + 1 < hits.size()) {
    problems.push_back("the payload holds the key \"" + std::string(TokenName(hits[marker + 1].token)) +
                       "\" before its first zero byte");
  }

  // The records: (name size place title*)+, the last with exactly one title.
  int record = 0;
  std::size_t i = 0;
  const Token expected[] = {Token::kName, Token::kSize, Token::kPlace};
  while (i < marker) {
    ++record;
    const std::string where = "record " + std::to_string(record);
    for (Token want : expected) {
      if (i >= marker || hits[i].token != want) {
        problems.push_back(where + ": expected \"" + TokenName(want) + "\"" +
                           (i < marker ? std::string(" but found \"") + TokenName(hits[i].token) + "\"" : ""));
        i = marker;  // the rest cannot be read as records
        break;
      }
      if (want != Token::kName && !IsDecimal(text, hits[i].valueAt, hits[i].end)) {
        problems.push_back(where + ": the value of \"" + TokenName(want) + "\" is not decimal digits");
      }
      ++i;
    }
    int titles = 0;
    while (i < marker && hits[i].token == Token::kTitle) {
      ++titles;
      ++i;
    }
    if (i == marker && titles != 1 && marker < hits.size() && record > 0) {
      problems.push_back(where + ": the last record has " + std::to_string(titles) + " titles, not exactly one");
    }
  }
  if (record == 0) problems.push_back("the header holds no record");

  // Where the entries lie. (`image` may be ContainerState's own.)
  std::vector<std::uint8_t> copy = image;
  ResetContainerState();
  ContainerState.image.swap(copy);
  ParseContainer();
  for (std::size_t e = 0; e < ContainerState.entries.size(); ++e) {
    const PROGRAMINFO& entry = ContainerState.entries[e];
    if (!EntryInsideImage(entry)) {
      problems.push_back(DescribeEntry(e, entry.fileName) + ": its bytes lie outside the file");
    }
  }
  return problems;
}

std::vector<std::string> CompareParsed(const std::vector<PackEntry>& entries) {
  std::vector<std::string> differences;
  if (ContainerState.entries.size() != entries.size()) {
    differences.push_back("reads back " + std::to_string(ContainerState.entries.size()) + " entries, not " +
                          std::to_string(entries.size()));
    return differences;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PROGRAMINFO& parsed = ContainerState.entries[i];
    const PackEntry& given = entries[i];
    const bool bytesMatch =
        parsed.fileSize == static_cast<std::int64_t>(given.bytes.size()) && EntryInsideImage(parsed) &&
        std::equal(given.bytes.begin(), given.bytes.end(),
                   ContainerState.image.begin() + ContainerState.payloadOffset + parsed.filePlace);
    if (parsed.fileName != given.name) differences.push_back(DescribeEntry(i, given.name) + ": the name reads back differently");
    if (!bytesMatch) differences.push_back(DescribeEntry(i, given.name) + ": the bytes read back differently");
    if (parsed.findHwnd != given.titles || parsed.findHwndCount != static_cast<std::int32_t>(given.titles.size())) {
      differences.push_back(DescribeEntry(i, given.name) + ": the titles read back differently");
    }
  }
  return differences;
}

}  // namespace qm
