// The header parser.
//
// The parser consumes a private view T of the header text from the front:
// every key search starts at the beginning of what is left, so the first
// occurrence found is always the next one in the file. Instead of copying the
// rest of the text after every value, T is a window [start, end) over the
// image, and each key's next occurrence is cached: since T only ever loses
// bytes at its front, an occurrence found once stays the first one until T
// moves past it. The whole parse is linear in the header's length.
//
// Keys are searched by multibyte character: in a double-byte code page a key
// never starts on a trail byte. T only ever starts at a character boundary of
// the header, so the boundaries are computed once, from the header's start.
#include <cstring>
#include <limits>

#include "container/Container.h"
#include "container/KeySearch.h"

namespace qm {

namespace {

constexpr int kKeyCount = static_cast<int>(sizeof(kAllKeys) / sizeof(kAllKeys[0]));

class HeaderText {
 public:
  HeaderText(const std::uint8_t* bytes, std::int64_t length, const LeadBytes& leadBytes)
      : bytes_(bytes), end_(length) {
    characterStart_ = CharacterStarts(bytes, length, leadBytes);
    for (std::int64_t& cached : next_) cached = kUnknown;
  }

  std::int64_t Length() const { return end_ - start_; }

  // Index in T of the first occurrence of `key`, or -1.
  std::int64_t Pos(Key key) {
    std::int64_t& cached = next_[static_cast<int>(key)];
    if (cached == kUnknown || (cached != kAbsent && cached < start_)) cached = Find(key, start_);
    return cached == kAbsent ? -1 : cached - start_;
  }

  // The n bytes from s, clamped: s and n below 0 count as 0; stops at the end.
  std::string Bytes(std::int64_t s, std::int64_t n) const {
    if (s < 0) s = 0;
    if (n < 0) n = 0;
    if (s >= Length()) return std::string();
    if (n > Length() - s) n = Length() - s;
    return std::string(reinterpret_cast<const char*>(bytes_ + start_ + s), static_cast<std::size_t>(n));
  }

  // Number read from the n bytes from s by the atoi rule.
  std::int32_t Number(std::int64_t s, std::int64_t n) const;

  // Drops the first n bytes: none when n <= 0, all when n exceeds T.
  void Remove(std::int64_t n) {
    if (n <= 0) return;
    start_ = n >= Length() ? end_ : start_ + n;
  }

  std::int64_t Start() const { return start_; }

 private:
  static constexpr std::int64_t kUnknown = -2;
  static constexpr std::int64_t kAbsent = std::numeric_limits<std::int64_t>::max();

  std::int64_t Find(Key key, std::int64_t from) const {
    const std::int64_t at = FindKey(bytes_, end_, characterStart_, KeyText(key), from);
    return at < 0 ? kAbsent : at;
  }

  const std::uint8_t* bytes_;
  std::int64_t start_ = 0;
  std::int64_t end_;
  std::vector<bool> characterStart_;
  std::int64_t next_[kKeyCount];
};

std::int32_t HeaderText::Number(std::int64_t s, std::int64_t n) const {
  const std::string text = Bytes(s, n);
  std::size_t i = 0;
  while (i < text.size() && std::strchr(" \t\n\v\f\r", text[i]) != nullptr && text[i] != '\0') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;  // saturates, as strtol does
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

// Where the place value ends. T begins with the place key.
std::int64_t PlaceEnd(HeaderText& t) {
  const std::int64_t title = t.Pos(Key::kTitle);
  const std::int64_t name = t.Pos(Key::kName);
  const std::int64_t marker = t.Pos(Key::kMarker);
  if (title > 0 && title < name) return title;  // titles, then another record
  if (name > 0) return name;                    // no titles, then another record
  // The last record. Its title ends the place when one follows before the
  // marker (or there is no marker); a last record without a title has its
  // place end at the marker, or with neither at the end of the header.
  if (title >= 0 && (marker < 0 || title < marker)) return title;
  if (marker >= 0) return marker;
  return t.Length();
}

// Where the title that T now begins with ends.
std::int64_t TitleEnd(HeaderText& t) {
  const std::int64_t name = t.Pos(Key::kName);
  const std::int64_t title = t.Pos(Key::kTitle);
  if (name >= 0) return (title >= 0 && title < name) ? title : name;
  const std::int64_t marker = t.Pos(Key::kMarker);
  if (marker >= 0) return marker;  // the last record's title runs to the marker
  // No marker: the title ends at the next title key or the header's end.
  return title >= 0 ? title : t.Length();
}

void ParseRecord(HeaderText& t, PROGRAMINFO& record) {
  // Name: up to the next size key; T then begins with it.
  std::int64_t start = t.Pos(Key::kName) + static_cast<std::int64_t>(KeyText(Key::kName).size());
  std::int64_t end = t.Pos(Key::kSize);
  record.fileName = t.Bytes(start, end - start);
  t.Remove(end);

  // Size: up to the next place key.
  start = t.Pos(Key::kSize) + static_cast<std::int64_t>(KeyText(Key::kSize).size());
  end = t.Pos(Key::kPlace);
  record.fileSize = t.Number(start, end - start);
  t.Remove(end);

  // Place: up to the first title, the next record or the marker.
  start = t.Pos(Key::kPlace) + static_cast<std::int64_t>(KeyText(Key::kPlace).size());
  end = PlaceEnd(t);
  record.filePlace = t.Number(start, end - start);
  t.Remove(end);

  // Titles: as long as T begins with a title key.
  std::int32_t count = 0;
  while (t.Pos(Key::kTitle) == 0) {
    ++count;
    t.Remove(static_cast<std::int64_t>(KeyText(Key::kTitle).size()));
    end = TitleEnd(t);
    record.findHwnd.push_back(t.Bytes(0, end));
    t.Remove(end);
  }
  record.findHwndCount = count;
}

}  // namespace

std::int64_t HeaderLength(const std::vector<std::uint8_t>& image) {
  const void* zero = image.empty() ? nullptr : std::memchr(image.data(), 0, image.size());
  return zero != nullptr ? static_cast<const std::uint8_t*>(zero) - image.data() : static_cast<std::int64_t>(image.size());
}

ParsedContainer ParseHeader(const std::vector<std::uint8_t>& image, const LeadBytes& leadBytes) {
  const std::uint8_t* bytes = image.data();
  HeaderText t(bytes, HeaderLength(image), leadBytes);

  ParsedContainer parsed;
  parsed.payloadOffset =
      static_cast<std::int32_t>(t.Pos(Key::kMarker) + static_cast<std::int64_t>(KeyText(Key::kMarker).size()));
  while (t.Pos(Key::kName) >= 0) {
    const std::int64_t before = t.Start();
    parsed.entries.emplace_back();
    ParseRecord(t, parsed.entries.back());
    // A record that consumed nothing would be read again for ever.
    if (t.Start() == before) break;
  }
  return parsed;
}

}  // namespace qm
