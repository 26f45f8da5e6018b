#include "platform/WidePath.h"

#include <cstdint>

namespace qm {

WidePath WidePath::Joined(const char* asciiName) const {
  std::u16string units = units_;
  for (const char* c = asciiName; *c != '\0'; ++c) units += static_cast<char16_t>(static_cast<unsigned char>(*c));
  return WidePath(std::move(units));
}

WidePath WidePath::Directory() const {
  const std::size_t last = units_.rfind(u'\\');
  return last == std::u16string::npos ? WidePath() : WidePath(units_.substr(0, last));
}

std::u16string WidePath::Drive() const {
  const bool letter = !units_.empty() && ((units_[0] >= u'A' && units_[0] <= u'Z') || (units_[0] >= u'a' && units_[0] <= u'z'));
  return letter && units_.size() >= 3 && units_[1] == u':' && units_[2] == u'\\' ? units_.substr(0, 2) : std::u16string();
}

WidePath WidePath::WithRandomSuffix(const char* tag, const unsigned char (&random)[8]) const {
  static const char kHex[] = "0123456789abcdef";
  std::string suffix = tag;
  for (unsigned char byte : random) {
    suffix += kHex[byte >> 4];
    suffix += kHex[byte & 0xF];
  }
  return Joined(suffix.c_str());
}

namespace {

void AppendUtf8(std::string* out, std::uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point of the UTF-8 sequence at text[at], and its length; 0 for a
// byte that does not begin a well-formed, shortest sequence.
std::size_t DecodeUtf8(const std::string& text, std::size_t at, std::uint32_t* code) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  std::uint32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF) return 0;
  *code = value;
  return length;
}

}  // namespace

std::string Utf8Of(const WidePath& path) {
  const std::u16string& units = path.Units();
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (IsHigh(unit) && i + 1 < units.size() && IsLow(units[i + 1])) {
      AppendUtf8(&out, 0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else if (unit >= 0xDC80 && unit <= 0xDCFF) {
      out += static_cast<char>(unit - 0xDC00);  // a byte that was not UTF-8
    } else {
      AppendUtf8(&out, unit);
    }
  }
  return out;
}

WidePath WidePathFromUtf8(const std::string& text) {
  std::u16string units;
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t code = 0;
    const std::size_t length = DecodeUtf8(text, at, &code);
    if (length == 0) {
      units += static_cast<char16_t>(0xDC00 + static_cast<std::uint8_t>(text[at]));
      ++at;
      continue;
    }
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
    at += length;
  }
  return WidePath(std::move(units));
}

}  // namespace qm
