// Packing arbitrary names, titles and contents: what the packer accepts for
// a code page, the launcher's parser reads back exactly under that code
// page, and the verifier passes.
//
// Input: one byte choosing the code page, then entries separated by 0x1C;
// each entry is NAME 0x1D TITLES 0x1D CONTENT, its titles separated by 0x1E.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "container/Container.h"
#include "container/Writer.h"
#include "tests/fake/FakePlatform.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::vector<qm::PackEntry> Entries(const std::string& text) {
  std::vector<qm::PackEntry> entries;
  for (const std::string& record : Split(text, '\x1C')) {
    std::vector<std::string> fields = Split(record, '\x1D');
    fields.resize(3);
    qm::PackEntry entry;
    entry.name = fields[0];
    if (!fields[1].empty()) entry.titles = Split(fields[1], '\x1E');
    entry.bytes.assign(fields[2].begin(), fields[2].end());
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A fresh fake per input: one kept across inputs would keep every call it
  // recorded, and a long run would end on the memory limit, not on a fault.
  qm::test::FakePlatform platform;
  if (size == 0) return 0;
  const int codePages[] = {1252, 932, 936, 949, 950};
  platform.codePage = codePages[data[0] % 5];
  qm::SetPlatform(PlatformOf(platform));
  const std::vector<qm::PackEntry> entries = Entries(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));

  // The payload's start, fed byte by byte, tells what it tells fed whole.
  qm::PayloadStart whole, bytewise;
  std::vector<std::uint8_t> payload;
  for (const qm::PackEntry& entry : entries) payload.insert(payload.end(), entry.bytes.begin(), entry.bytes.end());
  whole.Feed(payload.data(), payload.size());
  for (std::uint8_t byte : payload) bytewise.Feed(&byte, 1);
  if (whole.NeedsLeadingZero() != bytewise.NeedsLeadingZero()) __builtin_trap();

  const qm::PackResult packed = qm::BuildContainer(entries, {platform.codePage});
  if (!packed.errors.empty()) return 0;
  if (!qm::VerifyContainer(packed.image, {platform.codePage}).empty()) __builtin_trap();
  if (!qm::CompareParsed(packed.image, entries).empty()) __builtin_trap();
  return 0;
}
