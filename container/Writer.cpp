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
  std::string shown;
  for (char c : name) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      shown += c;
      continue;
    }
    static const char kHex[] = "0123456789abcdef";
    shown += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0xF];  // a message stays one line
  }
  return "entry " + std::to_string(index + 1) + " (\"" + shown + "\")";
}

namespace {

// Whether `value`, read by character in `codePage`, ends with a lead byte
// that has no trail byte: it would take the next key's first byte as its
// trail, and that key would not be found.
bool EndsInLeadByte(const std::string& value, int codePage) {
  const auto isLead = [codePage](std::uint8_t byte) { return IsLeadByteOfCodePage(codePage, byte); };
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data());
  std::size_t last = 0;
  for (std::size_t at = 0; at < value.size(); at = NextCharacter(bytes, value.size(), at, isLead)) last = at;
  return !value.empty() && last + 1 == value.size() && isLead(bytes[last]);
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
  // A line break between keys written by hand would end up in the name or
  // title, which then never matches the tool table or a window's title.
  for (char c : value) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      return std::string("holds a control character (0x") + kHex[byte >> 4] + kHex[byte & 0xF] + ")";
    }
  }
  for (Key key : kAllKeys) {
    if (value.find(KeyText(key)) != std::string::npos) return "holds the key \"" + KeyText(key) + "\"";
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
  for (Key key : kAllKeys) keyFound_ = keyFound_ || text.find(KeyText(key)) != std::string::npos;
  tail_ = text.substr(text.size() > kLongestKeyLength ? text.size() - kLongestKeyLength : 0);
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
    Append(&header, KeyText(Key::kName) + entry.name);
    Append(&header, KeyText(Key::kSize) + std::to_string(entry.size));
    Append(&header, KeyText(Key::kPlace) + std::to_string(place));
    for (const std::string& title : entry.titles) Append(&header, KeyText(Key::kTitle) + title);
    place += entry.size;
  }
  Append(&header, KeyText(Key::kMarker));
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

bool IsDecimal(const std::uint8_t* text, std::int64_t from, std::int64_t to) {
  std::int64_t i = from;
  while (i < to && text[i] >= '0' && text[i] <= '9') ++i;
  if (i == from) return false;
  while (i < to && std::strchr(" \t\r\n\v\f", text[i]) != nullptr) ++i;
  return i == to;
}

std::string Quoted(Key key) { return "\"" + KeyText(key) + "\""; }

// What the key hits of a header break of the rules of records and marker.
std::vector<std::string> RecordProblems(const std::uint8_t* text, const std::vector<KeyHit>& hits) {
  std::vector<std::string> problems;
  // The marker: the first one ends the header; keys after it are payload
  // bytes read as header text.
  std::size_t marker = 0;
  while (marker < hits.size() && hits[marker].key != Key::kMarker) ++marker;
  if (marker == hits.size()) {
    problems.push_back("no " + Quoted(Key::kMarker) + " marker before the file's first zero byte");
  } else if (marker + 1 < hits.size()) {
    problems.push_back("the payload holds the key " + Quoted(hits[marker + 1].key) + " before its first zero byte");
  }

  // The records: (name size place title*)+, the last with exactly one title.
  int record = 0;
  std::size_t i = 0;
  const Key expected[] = {Key::kName, Key::kSize, Key::kPlace};
  while (i < marker) {
    ++record;
    const std::string where = "record " + std::to_string(record);
    for (Key want : expected) {
      if (i >= marker || hits[i].key != want) {
        problems.push_back(where + ": expected " + Quoted(want) +
                           (i < marker ? " but found " + Quoted(hits[i].key) : std::string()));
        i = marker;  // the rest cannot be read as records
        break;
      }
      if (want != Key::kName && !IsDecimal(text, hits[i].valueAt, hits[i].end)) {
        problems.push_back(where + ": the value of " + Quoted(want) + " is not decimal digits");
      }
      ++i;
    }
    int titles = 0;
    while (i < marker && hits[i].key == Key::kTitle) {
      ++titles;
      ++i;
    }
    if (i == marker && titles != 1 && marker < hits.size() && record > 0) {
      problems.push_back(where + ": the last record has " + std::to_string(titles) + " titles, not exactly one");
    }
  }
  if (record == 0) problems.push_back("the header holds no record");
  return problems;
}

}  // namespace

std::string WatchedTitleProblem(const std::string& name, const std::vector<std::string>& titles,
                                const WatchedTitles& watched, const LeadBytes& leadBytes) {
  const auto& names = watched.entryNames;
  if (std::find(names.begin(), names.end(), name) == names.end()) return std::string();
  std::string why;
  if (titles.empty()) {
    why = "is missing, so the watch would end at once while the tool runs";
  } else if (titles.front().empty()) {
    why = "is empty, so every window matches it";
  } else if (titles.front().size() > watched.longestTitle) {
    why = "is longer than the " + std::to_string(watched.longestTitle) + " bytes of a window title the launcher reads";
  } else if (ContainsAtCharacter(watched.frameTitle, titles.front(), leadBytes)) {
    why = "lies inside the launcher's own window title \"" + watched.frameTitle + "\"";
  } else {
    return std::string();
  }
  return "its first title, the one the launcher watches for, " + why;
}

std::vector<std::string> VerifyContainer(const std::vector<std::uint8_t>& image, const std::vector<int>& codePages,
                                         const WatchedTitles& watched) {
  const LeadBytes leadBytes = LeadBytes::Of(CodePage());
  std::vector<std::string> problems =
      RecordProblems(image.data(), FindAllKeys(image.data(), HeaderLength(image), leadBytes));

  // Where the entries lie, and values that another code page reads otherwise.
  const ParsedContainer parsed = ParseHeader(image, leadBytes);
  for (std::size_t e = 0; e < parsed.entries.size(); ++e) {
    const PROGRAMINFO& entry = parsed.entries[e];
    if (!EntryInside(entry, parsed.payloadOffset, image.size())) {
      problems.push_back(DescribeEntry(e, entry.fileName) + ": its bytes lie outside the file");
    }
    const std::string nameProblem = ValueProblem(entry.fileName, codePages);
    if (!nameProblem.empty()) problems.push_back(DescribeEntry(e, entry.fileName) + ": the name " + nameProblem);
    for (const std::string& title : entry.findHwnd) {
      const std::string problem = ValueProblem(title, codePages);
      if (!problem.empty()) problems.push_back(DescribeEntry(e, entry.fileName) + ": a title " + problem);
    }
    const std::string titleProblem = WatchedTitleProblem(entry.fileName, entry.findHwnd, watched, leadBytes);
    if (!titleProblem.empty()) problems.push_back(DescribeEntry(e, entry.fileName) + ": " + titleProblem);
  }
  return problems;
}

std::vector<std::string> CompareParsedRecords(const ParsedContainer& parsed, std::size_t imageSize,
                                              const std::vector<EntryRecord>& records) {
  std::vector<std::string> differences;
  if (parsed.entries.size() != records.size()) {
    differences.push_back("reads back " + std::to_string(parsed.entries.size()) + " entries, not " +
                          std::to_string(records.size()));
    return differences;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const PROGRAMINFO& entry = parsed.entries[i];
    const EntryRecord& given = records[i];
    const std::string described = DescribeEntry(i, given.name);
    if (entry.fileName != given.name) differences.push_back(described + ": the name reads back differently");
    if (static_cast<std::uint64_t>(entry.fileSize) != given.size ||
        !EntryInside(entry, parsed.payloadOffset, imageSize)) {
      differences.push_back(described + ": the size or place reads back differently");
    }
    if (entry.findHwnd != given.titles || entry.findHwndCount != static_cast<std::int32_t>(given.titles.size())) {
      differences.push_back(described + ": the titles read back differently");
    }
  }
  return differences;
}

std::vector<std::string> CompareParsed(const std::vector<std::uint8_t>& image, const std::vector<PackEntry>& entries) {
  const ParsedContainer parsed = ParseHeader(image, LeadBytes::Of(CodePage()));
  std::vector<EntryRecord> records;
  for (const PackEntry& entry : entries) records.push_back({entry.name, entry.bytes.size(), entry.titles});
  std::vector<std::string> differences = CompareParsedRecords(parsed, image.size(), records);
  for (std::size_t i = 0; differences.empty() && i < entries.size(); ++i) {
    const auto first = image.begin() + parsed.payloadOffset + parsed.entries[i].filePlace;
    if (!std::equal(entries[i].bytes.begin(), entries[i].bytes.end(), first)) {
      differences.push_back(DescribeEntry(i, entries[i].name) + ": the bytes read back differently");
    }
  }
  return differences;
}

}  // namespace qm
