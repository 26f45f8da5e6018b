#include "tools/common/Json.h"

namespace qm {

namespace {
const char kHex[] = "0123456789abcdef";
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char byte : bytes) {
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte <= 0x7E) {
      out += static_cast<char>(byte);
    } else {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out + "\"";
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char byte : bytes) {
    if (byte >= 0x20 && byte <= 0x7E) {
      out += static_cast<char>(byte);
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace qm
