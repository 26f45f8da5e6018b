#include "container/Writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "container/Container.h"
#include "container/KeySearch.h"
#include "platform/CodePages.h"
#include "platform/Platform.h"

namespace qm {

std::string DescribeEntry(std::size_t index, const std::string& name) {
  return "entry " + std::to_string(index + 1) + " (\"" + name + "\")";
}

namespace {

const std::string* const kAllKeys[] = {&kKeyName, &kKeySize, &kKeyPlace, &kKeyTitle, &kKeyMarker};
constexpr std::size_t kLongestKey = 17;

// Whether `value`, read by character in `codePage`, ends with a lead byte
// that has no trail byte: it would take the next key's first byte as its
// trail, and that key would not be found.
bool EndsInLeadByte(const std::string& value, int codePage) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (!IsLeadByteOfCodePage(codePage, static_cast<std::uint8_t>(value[i]))) continue;
    if (i + 1 == value.size()) return true;
    ++i;
  }
  return false;
}

// "932", "932 and 936", "932, 936 and 949".
std::string ListOf(const std::vector<int>& codePages) {
  std::string text;
  for (std::size_t i = 0; i < codePages.size(); ++i) {
    if (i > 0) text += i + 1 == codePages.size() ? " and " : ", ";
    text += std::to_string(codePages[i]);
  }
  return text;
}

// Why `value` cannot stand as a name or title in a header, or "".
std::string ValueProblem(const std::string& value, const std::vector<int>& codePages) {
  if (value.find('\0') != std::string::npos) return "holds a zero byte";
  for (const std::string* key : kAllKeys) {
    if (value.find(*key) != std::string::npos) return "holds the key \"" + *key + "\"";
  }
  std::vector<int> dangling;
  for (int codePage : codePages) {
    if (EndsInLeadByte(value, codePage)) dangling.push_back(codePage);
  }
  if (!dangling.empty()) return "ends with a lead byte under code page " + ListOf(dangling);
  return std::string();
}

void Append(std::vector<std::uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
}

}  // namespace

bool PayloadStart::Feed(const std::uint8_t* bytes, std::size_t count) {
  if (zeroSeen_) return false;
  const void* zero = count == 0 ? nullptr : std::memchr(bytes, 0, count);
  const std::size_t before =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - bytes) : count;
  // A key may begin in the bytes kept from the last call.
  std::string text = tail_;
  text.append(reinterpret_cast<const char*>(bytes), before);
  for (const std::string* key : kAllKeys) keyFound_ = keyFound_ || text.find(*key) != std::string::npos;
  tail_ = text.substr(text.size() > kLongestKey ? text.size() - kLongestKey : 0);
  zeroSeen_ = zero != nullptr;
  return !zeroSeen_;
}

PackResult BuildHeader(const std::vector<EntryRecord>& entries, bool leadingZero, const std::vector<int>& codePages) {
  PackResult result;
  if (entries.empty()) result.errors.push_back("a container needs at least one entry");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const EntryRecord& entry = entries[i];
    const std::string nameProblem = ValueProblem(entry.name, codePages);
    if (!nameProblem.empty()) result.errors.push_back(DescribeEntry(i, entry.name) + ": the name " + nameProblem);
    for (const std::string& title : entry.titles) {
      const std::string problem = ValueProblem(title, codePages);
      if (!problem.empty()) result.errors.push_back(DescribeEntry(i, entry.name) + ": a title " + problem);
    }
    if (entry.size > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      result.errors.push_back(DescribeEntry(i, entry.name) + ": larger than 2 GiB");
    }
  }
  if (!entries.empty() && entries.back().titles.size() != 1) {
    result.errors.push_back(DescribeEntry(entries.size() - 1, entries.back().name) +
                            ": the last entry needs exactly one title, it has " +
                            std::to_string(entries.back().titles.size()));
  }
  if (!result.errors.empty()) return result;

  std::vector<std::uint8_t>& header = result.image;
  std::uint64_t place = leadingZero ? 1 : 0;
  for (const EntryRecord& entry : entries) {
    Append(&header, kKeyName + entry.name);
    Append(&header, kKeySize + std::to_string(entry.size));
    Append(&header, kKeyPlace + std::to_string(place));
    for (const std::string& title : entry.titles) Append(&header, kKeyTitle + title);
    place += entry.size;
  }
  Append(&header, kKeyMarker);
  if (header.size() + place > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    result.errors.push_back("the container would be larger than 2 GiB");
    header.clear();
    return result;
  }
  if (leadingZero) header.push_back(0);
  return result;
}

PackResult BuildContainer(const std::vector<PackEntry>& entries, const std::vector<int>& codePages) {
  std::vector<EntryRecord> records;
  PayloadStart payloadStart;
  for (const PackEntry& entry : entries) {
    records.push_back({entry.name, entry.bytes.size(), entry.titles});
    payloadStart.Feed(entry.bytes.data(), entry.bytes.size());
  }
  PackResult result = BuildHeader(records, payloadStart.NeedsLeadingZero(), codePages);
  if (!result.errors.empty()) return result;
  for (const PackEntry& entry : entries) result.image.insert(result.image.end(), entry.bytes.begin(), entry.bytes.end());
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

std::vector<std::string> VerifyContainer(const std::vector<std::uint8_t>& image, const std::vector<int>& codePages) {
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

  // Where the entries lie, and values that another code page reads otherwise.
  if (&image != &ContainerState.image) {
    ResetContainerState();
    ContainerState.image = image;
  } else {
    ContainerState.entries.clear();
  }
  ParseContainer();
  for (std::size_t e = 0; e < ContainerState.entries.size(); ++e) {
    const PROGRAMINFO& entry = ContainerState.entries[e];
    if (!EntryInsideImage(entry)) {
      problems.push_back(DescribeEntry(e, entry.fileName) + ": its bytes lie outside the file");
    }
    const std::string nameProblem = ValueProblem(entry.fileName, codePages);
    if (!nameProblem.empty()) problems.push_back(DescribeEntry(e, entry.fileName) + ": the name " + nameProblem);
    for (const std::string& title : entry.findHwnd) {
      const std::string problem = ValueProblem(title, codePages);
      if (!problem.empty()) problems.push_back(DescribeEntry(e, entry.fileName) + ": a title " + problem);
    }
  }
  return problems;
}

std::vector<std::string> CompareParsedRecords(const std::vector<EntryRecord>& records) {
  std::vector<std::string> differences;
  if (ContainerState.entries.size() != records.size()) {
    differences.push_back("reads back " + std::to_string(ContainerState.entries.size()) + " entries, not " +
                          std::to_string(records.size()));
    return differences;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const PROGRAMINFO& parsed = ContainerState.entries[i];
    const EntryRecord& given = records[i];
    const std::string entry = DescribeEntry(i, given.name);
    if (parsed.fileName != given.name) differences.push_back(entry + ": the name reads back differently");
    if (static_cast<std::uint64_t>(parsed.fileSize) != given.size || !EntryInsideImage(parsed)) {
      differences.push_back(entry + ": the size or place reads back differently");
    }
    if (parsed.findHwnd != given.titles || parsed.findHwndCount != static_cast<std::int32_t>(given.titles.size())) {
      differences.push_back(entry + ": the titles read back differently");
    }
  }
  return differences;
}

std::vector<std::string> CompareParsed(const std::vector<PackEntry>& entries) {
  std::vector<EntryRecord> records;
  for (const PackEntry& entry : entries) records.push_back({entry.name, entry.bytes.size(), entry.titles});
  std::vector<std::string> differences = CompareParsedRecords(records);
  if (!differences.empty()) return differences;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PROGRAMINFO& parsed = ContainerState.entries[i];
    const auto first = ContainerState.image.begin() + ContainerState.payloadOffset + parsed.filePlace;
    if (!std::equal(entries[i].bytes.begin(), entries[i].bytes.end(), first)) {
      differences.push_back(DescribeEntry(i, entries[i].name) + ": the bytes read back differently");
    }
  }
  return differences;
}

}  // namespace qm
