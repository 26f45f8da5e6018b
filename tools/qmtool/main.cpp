// qmtool: builds and checks tool containers with the launcher's own
// container code.
//
//   qmtool list [--json] FILE
//   qmtool extract [--json] [--allow-missing] FILE NAME OUT
//   qmtool pack OUT --entry NAME=FILE [--title TITLE]... [--entry ...]
//   qmtool verify FILE
//
// Common option: --codepage N, the ANSI code page the container is meant
// for (874, 1250 to 1258, 932, 936, 949, 950). Without it, names and titles
// must read alike under every double-byte code page. Native builds also
// read containers under it; on Windows the system's code page reads them.
// Exit status: 0 success, 1 failure, 2 usage error.
#include <filesystem>
#include <iostream>
#include <iterator>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "app/ToolTable.h"
#include "app/Watch.h"
#include "platform/AtomicFile.h"
#include "container/Container.h"
#include "platform/CodePages.h"
#include "tools/common/Json.h"
#include "tools/common/ToolPlatform.h"
#include "tools/qmtool/PeReport.h"
#include "tools/qmtool/Qmtool.h"

namespace qm {

namespace {

const char kUsage[] =
    "usage: qmtool COMMAND [OPTIONS] ...\n"
    "\n"
    "Commands:\n"
    "  list [--json] FILE                        show the entries as the launcher reads them\n"
    "  extract [--json] [--allow-missing] FILE NAME OUT\n"
    "                                            copy entry NAME out of FILE into OUT\n"
    "  pack OUT --entry NAME=FILE [--title T]... [--entry ...]\n"
    "                                            write a container (the last entry needs one title)\n"
    "  verify FILE                               check FILE against the container rules\n"
    "\n"
    "Options: --codepage N (the ANSI code page the container is meant for), --help\n";

const char* const kHelp[] = {
    "list",
    "usage: qmtool list [--json] FILE\n"
    "Prints the payload offset and, for each entry, its index, name, size, place and titles,\n"
    "as the launcher's parser reads them, and whether it is a PE executable with an Authenticode\n"
    "signature, whose, and whether its bytes match the signature's digest (the signature itself\n"
    "is not checked against a certificate authority). Unprintable bytes are shown as \\xXX.\n"
    "Entries are counted from 1, as in every line qmtool prints for people; --json keeps\n"
    "indexes from 0.\n"
    "--json prints {\"result\", \"payloadOffset\", \"entryCount\", \"entries\": [...]}, texts byte for byte;\n"
    "each entry has \"pe\", \"signed\", \"signer\" and \"signatureMatches\" (null when unknown).\n",
    "extract",
    "usage: qmtool extract [--json] [--allow-missing] FILE NAME OUT\n"
    "Copies the entry NAME (exact, case-sensitive) into OUT as the launcher does: the first match\n"
    "gives the index, the last match the bytes. A name that matches nothing, or an entry whose\n"
    "bytes lie outside the file, is an error unless --allow-missing is given; then an empty OUT\n"
    "is written. OUT is written whole or not at all: a failure leaves the old OUT as it was.\n"
    "Prints \"entry N: S bytes written to OUT\", N the first match counted from 1; --json prints\n"
    "{\"firstEntryIndex\", \"extractedSize\", \"written\"} with the index from 0 (-1: no match).\n",
    "pack",
    "usage: qmtool pack OUT --entry NAME=FILE [--title TITLE]... [--entry NAME=FILE ...]\n"
    "Writes a container holding the files under the given names, each followed by its window\n"
    "titles, laid out one after the other. The last entry needs exactly one title. Names and\n"
    "titles must not hold a zero byte, a control character or a key text, nor end with a lead\n"
    "byte of a double-byte code page (or of the one named with --codepage). Names must be\n"
    "possible Windows file names: no \\ or /, not . or .., no colon, no device name (CON,\n"
    "PRN, AUX, NUL, COM1-9, LPT1-9, with any extension). An entry whose window the launcher\n"
    "watches (Birch_2.exe, Cedar_3.exe, Cedar_4.exe, Elm_5.exe) needs a first title that is\n"
    "not empty, at most 255 bytes and not found inside the launcher's own window title;\n"
    "other entries may have any titles. The container is written beside OUT under a name\n"
    "no one can guess, read back and checked, then renamed into place; OUT keeps its\n"
    "permissions. Inputs must be regular files.\n",
    "verify",
    "usage: qmtool verify FILE\n"
    "Checks FILE against every rule of the container format, that every entry lies inside\n"
    "the file, that names and titles read alike under the code pages pack checks, and that\n"
    "every entry the launcher watches has a first title it can watch for (as pack checks),\n"
    "and that no name or title holds a control character (a CR LF written between keys).\n"
    "Prints each problem, entries counted from 1; exits 1 if there is one. Also prints\n"
    "notes, which fail nothing: names the launcher does not know, and .exe entries whose\n"
    "bytes are not a PE image (the launcher could not start them).\n",
};

constexpr std::uintmax_t kLauncherLimit = 0x80000000u;  // the launcher reads under 2 GiB

// Splits the arguments into options and positional arguments.
struct Arguments {
  bool json = false;
  bool allowMissing = false;
  bool help = false;
  int codePage = 0;  // 0: none named
  std::vector<FileArgument> positional;  // FILE, NAME, OUT
  std::vector<PackSource> sources;
};

int CodePageOption(const std::string& value) {
  const int codePage = value.find_first_not_of("0123456789") == std::string::npos && value.size() <= 5
                           ? std::stoi("0" + value)
                           : 0;
  if (!IsAnsiCodePage(codePage)) throw UsageError{"--codepage takes 874, 1250 to 1258, 932, 936, 949 or 950"};
  return codePage;
}

Arguments ParseArguments(const std::string& command, const std::vector<ToolArgument>& argv) {
  Arguments args;
  const std::size_t argc = argv.size();
  for (std::size_t i = 1; i < argc; ++i) {
    const std::string arg = argv[i].text;
    auto next = [&]() -> const ToolArgument& {
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      return argv[++i];
    };
    auto value = [&]() -> std::string { return next().text; };
    if (arg == "--help" || arg == "-h") {
      args.help = true;
    } else if (arg == "--json" && (command == "list" || command == "extract")) {
      args.json = true;
    } else if (arg == "--allow-missing" && command == "extract") {
      args.allowMissing = true;
    } else if (arg == "--codepage") {
      args.codePage = CodePageOption(value());
      SetToolCodePage(args.codePage);
    } else if (arg == "--entry" && command == "pack") {
      const ToolArgument& pair = next();
      const std::size_t equals = pair.text.find('=');
      const std::size_t wideEquals = pair.path.Units().find(u'=');
      if (equals == std::string::npos || wideEquals == std::u16string::npos) {
        throw UsageError{"--entry takes NAME=FILE, not \"" + pair.text + "\""};
      }
      // '=' is never part of another character, so the two spellings split alike.
      const FileArgument file{pair.text.substr(equals + 1), WidePath(pair.path.Units().substr(wideEquals + 1))};
      args.sources.push_back({pair.text.substr(0, equals), file, {}});
    } else if (arg == "--title" && command == "pack") {
      if (args.sources.empty()) throw UsageError{"--title must follow an --entry"};
      args.sources.back().titles.push_back(value());
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option " + arg + " for " + command};
    } else {
      args.positional.push_back(argv[i]);
    }
  }
  return args;
}

void ExpectPositional(const Arguments& args, std::size_t count, const std::string& what) {
  if (args.positional.size() != count) throw UsageError{"expected " + what};
}

std::string GiB(std::uintmax_t bytes) {
  std::ostringstream text;
  text.precision(1);
  text << std::fixed << static_cast<double>(bytes) / (1u << 30) << " GiB";
  return text.str();
}

// What an entry is, when its bytes lie inside the image.
bool InspectEntry(const PROGRAMINFO& entry, const ParsedContainer& parsed, const std::vector<std::uint8_t>& image,
                  PeReport* report) {
  if (!EntryInside(entry, parsed.payloadOffset, image.size())) return false;
  *report = InspectPe(image.data() + parsed.payloadOffset + entry.filePlace, static_cast<std::size_t>(entry.fileSize));
  return true;
}

std::string JsonReport(const PeReport& report) {
  const char* matches = report.digest == PeReport::Match::kNotChecked ? "null"
                        : report.digest == PeReport::Match::kMatches ? "true"
                                                                     : "false";
  return std::string("\"pe\": ") + (report.isPe ? "true" : "false") + ", \"signed\": " +
         (report.isSigned ? "true" : "false") + ", \"signer\": " +
         (report.signer.empty() ? std::string("null") : JsonString(report.signer)) +
         ", \"signatureMatches\": " + matches;
}

int List(const Arguments& args) {
  ExpectPositional(args, 1, "FILE");
  const std::vector<std::uint8_t> image = ReadForLauncher(args.positional[0]);
  const ParsedContainer parsed = ParseForLauncher(image);
  if (args.json) {
    std::ostringstream out;
    out << "{\"result\": " << (parsed.entries.empty() ? "false" : "true") << ", \"payloadOffset\": "
        << parsed.payloadOffset << ", \"entryCount\": " << parsed.entries.size() << ", \"entries\": [";
    for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
      const PROGRAMINFO& entry = parsed.entries[i];
      out << (i ? ", " : "") << "{\"fileName\": " << JsonString(entry.fileName)
          << ", \"fileSize\": " << entry.fileSize << ", \"filePlace\": " << entry.filePlace << ", \"findHwnd\": [";
      for (std::size_t t = 0; t < entry.findHwnd.size(); ++t) out << (t ? ", " : "") << JsonString(entry.findHwnd[t]);
      PeReport report;
      out << "], \"findHwndCount\": " << entry.findHwndCount << ", "
          << (InspectEntry(entry, parsed, image, &report)
                  ? JsonReport(report)
                  : "\"pe\": null, \"signed\": null, \"signer\": null, \"signatureMatches\": null")
          << "}";
    }
    out << "]}\n";
    std::cout << out.str();
    return 0;
  }
  std::cout << "payload offset " << parsed.payloadOffset << ", " << parsed.entries.size() << " entries\n";
  for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
    const PROGRAMINFO& entry = parsed.entries[i];
    PeReport report;
    std::cout << i + 1 << "  \"" << Printable(entry.fileName) << "\"  size " << entry.fileSize << "  place "
              << entry.filePlace << "  ["
              << (InspectEntry(entry, parsed, image, &report) ? Printable(DescribePe(report)) : "outside the file")
              << "]\n";
    for (const std::string& title : entry.findHwnd) std::cout << "     title \"" << Printable(title) << "\"\n";
  }
  return 0;
}

int Extract(const Arguments& args) {
  ExpectPositional(args, 3, "FILE NAME OUT");
  if (SameFile(args.positional[0].path, args.positional[2].path)) {
    throw Failure{args.positional[2].text + ": is the container itself; extract to another file"};
  }
  const std::string& name = args.positional[1].text;
  const std::vector<std::uint8_t> image = ReadForLauncher(args.positional[0]);
  const ParsedContainer parsed = ParseForLauncher(image);
  // As the launcher does: the first match gives the index, the last the bytes.
  const EntryCopy entry = CopyEntry(image, parsed.payloadOffset, parsed.entries, name);
  const NameMatch& match = entry.match;
  const std::vector<std::uint8_t>& bytes = entry.bytes;
  if (!entry.copied && !args.allowMissing) {
    if (match.first < 0) throw Failure{args.positional[0].text + ": no entry named \"" + Printable(name) + "\""};
    throw Failure{args.positional[0].text + ": " + DescribeEntry(static_cast<std::size_t>(match.last), Printable(name)) +
                  ": its bytes lie outside the file"};
  }
  WriteWhole(args.positional[2], bytes);
  const std::size_t size = bytes.size();
  if (args.json) {
    std::cout << "{\"firstEntryIndex\": " << match.first << ", \"extractedSize\": " << size
              << ", \"written\": true}\n";
  } else {
    std::cout << "entry " << match.first + 1 << ": " << size << " bytes written to " << args.positional[2].text << "\n";
  }
  return 0;
}

int Pack(const Arguments& args) {
  ExpectPositional(args, 1, "OUT and at least one --entry NAME=FILE");
  if (args.sources.empty()) throw UsageError{"pack needs at least one --entry NAME=FILE"};
  const std::uint64_t written = PackContainer(args.positional[0], args.sources, CheckedCodePages(args.codePage));
  std::cout << "wrote " << args.positional[0].text << ": " << args.sources.size() << " entries, " << written
            << " bytes\n";
  return 0;
}

// What verify says without failing: names the launcher does not know, and
// programs it could not start.
std::vector<std::string> VerifyNotes(const std::vector<std::uint8_t>& image) {
  std::vector<std::string> notes;
  std::string known;
  for (const ToolRow& row : ToolRows()) known += std::string(known.empty() ? "" : ", ") + row.entryName;
  const ParsedContainer parsed = ParseForLauncher(image);
  for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
    const PROGRAMINFO& entry = parsed.entries[i];
    const std::string described = DescribeEntry(i, entry.fileName);
    const std::string& name = entry.fileName;
    bool knownName = false;
    for (const ToolRow& row : ToolRows()) knownName = knownName || name == row.entryName;
    if (!knownName) notes.push_back(described + ": the launcher does not know this name (it knows " + known + ")");
    PeReport report;
    const bool exe = name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
    if (exe && InspectEntry(entry, parsed, image, &report) && !report.isPe) {
      notes.push_back(described + ": its bytes are not a PE image: the launcher could not start it " +
                      "(\"Could Not Be Started\")");
    }
  }
  return notes;
}

int Verify(const Arguments& args) {
  ExpectPositional(args, 1, "FILE");
  const std::vector<std::uint8_t> image = ReadForLauncher(args.positional[0]);
  const std::vector<std::string> problems =
      VerifyContainer(image, CheckedCodePages(args.codePage), LauncherWatchedTitles());
  for (const std::string& note : VerifyNotes(image)) std::cout << args.positional[0].text << ": note: " << note << "\n";
  for (const std::string& problem : problems) std::cout << args.positional[0].text << ": " << problem << "\n";
  if (problems.empty()) std::cout << args.positional[0].text << ": ok\n";
  return problems.empty() ? 0 : 1;
}

int Run(const std::vector<ToolArgument>& argv) {
  if (argv.empty()) throw UsageError{"missing command"};
  const std::string command = argv[0].text;
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  const Arguments args = ParseArguments(command, argv);
  if (args.help) {
    for (std::size_t i = 0; i + 1 < std::size(kHelp); i += 2) {
      if (command == kHelp[i]) {
        std::cout << kHelp[i + 1];
        return 0;
      }
    }
  }
  if (command == "list") return List(args);
  if (command == "extract") return Extract(args);
  if (command == "pack") return Pack(args);
  if (command == "verify") return Verify(args);
  throw UsageError{"unknown command " + command};
}

}  // namespace

std::vector<int> CheckedCodePages(int namedCodePage) {
  return namedCodePage != 0 ? std::vector<int>{namedCodePage} : DoubleByteCodePages();
}

std::vector<std::uint8_t> ReadForLauncher(const FileArgument& file) {
  const std::filesystem::path path = FileSystemPath(file.path);
  const std::string problem = RegularFileProblem(file.path);
  if (!problem.empty()) throw Failure{file.text + ": " + problem};
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size >= kLauncherLimit) {
    throw Failure{file.text + " is " + GiB(size) + ": the launcher reads containers under 2 GiB"};
  }
  std::vector<std::uint8_t> image;
  if (!ReadContainerFile(file.path, &image)) throw Failure{file.text + ": cannot be opened or read"};
  return image;
}

void WriteWhole(const FileArgument& out, const std::vector<std::uint8_t>& bytes) {
  AtomicFile file(out.path);
  std::string error;
  if (!file.Create(&error) || !file.Write(bytes.data(), bytes.size(), &error) || !file.Finish(&error) ||
      !file.Commit(&error)) {
    throw Failure{error};  // names the file
  }
  if (!file.Warning().empty()) std::cerr << "qmtool: warning: " << file.Warning() << "\n";
}

ParsedContainer ParseForLauncher(const std::vector<std::uint8_t>& image) {
  return ParseHeader(image, LeadBytes::Of(CodePage()));
}

}  // namespace qm

int main(int argc, char** argv) {
  qm::UseToolPlatform();
  // No exception leaves: every failure is one message and exit status 1.
  try {
    return qm::Run(qm::ToolArguments(argc, argv));
  } catch (const qm::UsageError& error) {
    return qm::ReportUsageError("qmtool", error, qm::kUsage);
  } catch (const qm::Failure& error) {
    std::cerr << "qmtool: " << error.message << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "qmtool: out of memory\n";
  } catch (const std::exception& error) {
    std::cerr << "qmtool: " << error.what() << "\n";
  }
  return 1;
}
