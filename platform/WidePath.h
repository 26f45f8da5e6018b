// A file system path as the system's wide calls take it: UTF-16 code units.
//
// Paths are never converted to an ANSI code page: a name that code page
// cannot spell would come back as "?" or, worse, as a best-fit spelling that
// names another folder. WidePath is its own type so that the compiler keeps
// paths and ANSI text apart; the only ANSI text ever joined to one is an
// ASCII file name.
#pragma once

#include <string>
#include <utility>

namespace qm {

class WidePath {
 public:
  WidePath() = default;
  explicit WidePath(std::u16string units) : units_(std::move(units)) {}

  const std::u16string& Units() const { return units_; }
  bool Empty() const { return units_.empty(); }

  // This path followed by `asciiName` (e.g. "\\QM_File.ini"), unit by unit.
  WidePath Joined(const char* asciiName) const;
  // Up to, not including, the last backslash; empty when there is none.
  WidePath Directory() const;
  // "C:" of a path that starts with a drive letter, a colon and a
  // backslash; empty for any other path.
  std::u16string Drive() const;
  // This path followed by `tag` and the 16 hexadecimal digits of `random`:
  // a name beside it that no one can guess.
  WidePath WithRandomSuffix(const char* tag, const unsigned char (&random)[8]) const;

  friend bool operator==(const WidePath& a, const WidePath& b) { return a.units_ == b.units_; }
  friend bool operator!=(const WidePath& a, const WidePath& b) { return !(a == b); }

 private:
  std::u16string units_;
};

// UTF-8 spellings of paths, for the host's file calls, the tools' command
// lines on POSIX systems and readable test records. Lossless both ways: a
// byte that is not UTF-8 travels as the lone unit 0xDC00 + byte, and a lone
// surrogate unit is spelt as its three-byte form.
std::string Utf8Of(const WidePath& path);
WidePath WidePathFromUtf8(const std::string& text);

}  // namespace qm
