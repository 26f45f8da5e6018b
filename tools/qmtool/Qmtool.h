// What qmtool's commands share: their failures, their options, and loading a
// container as the launcher does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container/Container.h"
#include "container/Writer.h"
#include "tools/common/ToolPlatform.h"

namespace qm {

// A failure of the command: qmtool prints the message and exits with 1.
struct Failure {
  std::string message;
};

// A file named on the command line: `text` to show, `path` to open.
using FileArgument = ToolArgument;

// An entry to pack: its name in the container, the file it comes from, its titles.
struct PackSource {
  std::string name;
  FileArgument file;
  std::vector<std::string> titles;
};

// The code pages whose reading the checks guard against: the one named
// with --codepage, else every double-byte ANSI code page.
std::vector<int> CheckedCodePages(int namedCodePage);

// The bytes of the container at `path`, read as the launcher reads them.
// Fails when the file is missing, unreadable or too large for the launcher.
std::vector<std::uint8_t> ReadForLauncher(const FileArgument& file);

// The container's records as the launcher reads them here.
ParsedContainer ParseForLauncher(const std::vector<std::uint8_t>& image);

// Writes `bytes` to `path` whole or not at all (platform/AtomicFile.h): a
// failure leaves what stood at `path` as it was.
void WriteWhole(const FileArgument& file, const std::vector<std::uint8_t>& bytes);

// qmtool pack: writes `out` whole or not at all. Returns the bytes written.
std::uint64_t PackContainer(const FileArgument& out, const std::vector<PackSource>& sources,
                            const std::vector<int>& codePages);

}  // namespace qm
