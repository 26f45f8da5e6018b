// qmtool: builds and checks tool containers with the launcher's own
// container code.
//
//   qmtool list [--json] FILE
//   qmtool extract [--json] [--allow-missing] FILE NAME OUT
//   qmtool pack OUT --entry NAME=FILE [--title TITLE]... [--entry ...]
//   qmtool verify FILE
//
// Common option: --codepage 1252|932, the ANSI code page the launcher will
// run under (native builds only; on Windows the system's applies).
// Exit status: 0 success, 1 failure, 2 usage error.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/LauncherState.h"
#include "app/Watch.h"
#include "container/Container.h"
#include "container/Writer.h"
#include "tools/common/Json.h"
#include "tools/common/ToolPlatform.h"

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
    "Options: --codepage 1252|932 (native builds: the launcher's ANSI code page), --help\n";

const char* const kHelp[] = {
    "list",
    "usage: qmtool list [--json] FILE\n"
    "Prints the payload offset and, for each entry, its index, name, size, place and titles,\n"
    "as the launcher's parser reads them. Unprintable bytes are shown as \\xXX.\n"
    "--json prints {\"result\", \"payloadOffset\", \"entryCount\", \"entries\": [...]}, texts byte for byte.\n",
    "extract",
    "usage: qmtool extract [--json] [--allow-missing] FILE NAME OUT\n"
    "Copies the entry NAME (exact, case-sensitive) into OUT as the launcher does: the first match\n"
    "gives the index, the last match the bytes. A name that matches nothing is an error unless\n"
    "--allow-missing is given; then, like the launcher, an empty OUT is written.\n",
    "pack",
    "usage: qmtool pack OUT --entry NAME=FILE [--title TITLE]... [--entry NAME=FILE ...]\n"
    "Writes a container holding the files under the given names, each followed by its window\n"
    "titles, laid out one after the other. The last entry needs exactly one title. Names and\n"
    "titles must not hold a zero byte or a key text. An entry's first title, the one the launcher\n"
    "watches for, must not be empty, longer than 255 bytes, or found inside the launcher's own\n"
    "window title. The container is written beside OUT under a temporary name, read back and\n"
    "checked, then renamed into place.\n",
    "verify",
    "usage: qmtool verify FILE\n"
    "Checks FILE against every rule of the container format and that every entry lies inside\n"
    "the file. Prints each problem; exits 1 if there is one.\n",
};

struct UsageError {
  std::string message;
};
struct Failure {
  std::string message;
};

void SetCodePage(const std::string& value) {
  if (value != "1252" && value != "932") throw UsageError{"--codepage takes 1252 or 932"};
  SetToolCodePage(std::stoi(value));
}

// Splits the arguments into options and positional arguments.
struct Arguments {
  bool json = false;
  bool allowMissing = false;
  bool help = false;
  std::vector<std::string> positional;
  std::vector<PackEntry> entries;
  std::vector<std::string> entryFiles;
};

Arguments ParseArguments(const std::string& command, int argc, char** argv) {
  Arguments args;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      args.help = true;
    } else if (arg == "--json" && (command == "list" || command == "extract")) {
      args.json = true;
    } else if (arg == "--allow-missing" && command == "extract") {
      args.allowMissing = true;
    } else if (arg == "--codepage") {
      SetCodePage(value());
    } else if (arg == "--entry" && command == "pack") {
      const std::string pair = value();
      const std::size_t equals = pair.find('=');
      if (equals == std::string::npos) throw UsageError{"--entry takes NAME=FILE, not \"" + pair + "\""};
      args.entries.push_back({pair.substr(0, equals), {}, {}});
      args.entryFiles.push_back(pair.substr(equals + 1));
    } else if (arg == "--title" && command == "pack") {
      if (args.entries.empty()) throw UsageError{"--title must follow an --entry"};
      args.entries.back().titles.push_back(value());
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option " + arg + " for " + command};
    } else {
      args.positional.push_back(arg);
    }
  }
  return args;
}

void ExpectPositional(const Arguments& args, std::size_t count, const std::string& what) {
  if (args.positional.size() != count) throw UsageError{"expected " + what};
}

void Load(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw Failure{path + ": no such file"};
  ResetContainerState();
  ResetLauncherState();
  if (!LoadContainer(path)) throw Failure{path + ": cannot be opened or read"};
}

std::vector<std::uint8_t> ReadInput(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{path + ": cannot be opened or read"};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw Failure{path + ": cannot be read"};
  return bytes;
}

// Adds a problem when the first title of entry `index`, the one the launcher
// watches for, is one the watch could never finish with.
void CheckWatchedTitle(std::size_t index, const std::string& name, const std::vector<std::string>& titles,
                       std::vector<std::string>* problems) {
  const std::string problem = titles.empty() ? std::string() : UnwatchableTitle(titles.front());
  if (!problem.empty()) {
    problems->push_back(DescribeEntry(index, name) + ": its first title, the one the launcher watches for, " +
                        problem);
  }
}

int List(const Arguments& args) {
  ExpectPositional(args, 1, "FILE");
  Load(args.positional[0]);
  const bool result = ParseContainer();
  const ContainerStateRecord& state = ContainerState;
  if (args.json) {
    std::ostringstream out;
    out << "{\"result\": " << (result ? "true" : "false") << ", \"payloadOffset\": " << state.payloadOffset
        << ", \"entryCount\": " << state.entryCount << ", \"entries\": [";
    for (std::size_t i = 0; i < state.entries.size(); ++i) {
      const PROGRAMINFO& entry = state.entries[i];
      out << (i ? ", " : "") << "{\"fileName\": " << JsonString(entry.fileName)
          << ", \"fileSize\": " << entry.fileSize << ", \"filePlace\": " << entry.filePlace << ", \"findHwnd\": [";
      for (std::size_t t = 0; t < entry.findHwnd.size(); ++t) out << (t ? ", " : "") << JsonString(entry.findHwnd[t]);
      out << "], \"findHwndCount\": " << entry.findHwndCount << "}";
    }
    out << "]}\n";
    std::cout << out.str();
    return 0;
  }
  std::cout << "payload offset " << state.payloadOffset << ", " << state.entryCount << " entries\n";
  for (std::size_t i = 0; i < state.entries.size(); ++i) {
    const PROGRAMINFO& entry = state.entries[i];
    std::cout << i << "  \"" << Printable(entry.fileName) << "\"  size " << entry.fileSize << "  place "
              << entry.filePlace << "\n";
    for (const std::string& title : entry.findHwnd) std::cout << "     title \"" << Printable(title) << "\"\n";
  }
  return 0;
}

int Extract(const Arguments& args) {
  ExpectPositional(args, 3, "FILE NAME OUT");
  Load(args.positional[0]);
  ParseContainer();
  ExtractEntry(args.positional[1]);
  const bool matched = LauncherState.firstEntryIndex >= 0;
  if (!matched && !args.allowMissing) {
    throw Failure{args.positional[0] + ": no entry named \"" + Printable(args.positional[1]) + "\""};
  }
  const WriteOutcome outcome = WriteExtracted(args.positional[2]);
  if (outcome == WriteOutcome::kPartial) Sys().DeleteFile(args.positional[2]);  // whole or not at all
  const bool written = outcome == WriteOutcome::kWhole;
  const std::size_t size = written ? ContainerState.extracted.size() : 0;
  if (args.json) {
    std::cout << "{\"firstEntryIndex\": " << LauncherState.firstEntryIndex << ", \"extractedSize\": " << size
              << ", \"written\": " << (written ? "true" : "false") << "}\n";
  } else {
    std::cout << "entry " << LauncherState.firstEntryIndex << ": " << size << " bytes written to "
              << args.positional[2] << "\n";
  }
  if (!written) throw Failure{args.positional[2] + ": cannot be written"};
  return 0;
}

int Pack(Arguments args) {
  ExpectPositional(args, 1, "OUT and at least one --entry NAME=FILE");
  if (args.entries.empty()) throw UsageError{"pack needs at least one --entry NAME=FILE"};
  for (std::size_t i = 0; i < args.entries.size(); ++i) args.entries[i].bytes = ReadInput(args.entryFiles[i]);

  PackResult packed = BuildContainer(args.entries);
  for (std::size_t i = 0; i < args.entries.size(); ++i) {
    CheckWatchedTitle(i, args.entries[i].name, args.entries[i].titles, &packed.errors);
  }
  if (!packed.errors.empty()) {
    std::string message;
    for (const std::string& error : packed.errors) message += (message.empty() ? "" : "\n") + error;
    throw Failure{message};
  }

  // Written whole under a temporary name, checked, then renamed into place.
  const std::filesystem::path out = args.positional[0];
  const std::filesystem::path temporary = out.string() + ".tmp-qmtool";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(packed.image.data()), static_cast<std::streamsize>(packed.image.size()));
    file.close();
    if (!file) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw Failure{out.string() + ": cannot be written"};
    }
  }
  Load(temporary.string());
  ParseContainer();
  std::vector<std::string> problems = CompareParsed(args.entries);
  for (const std::string& problem : VerifyContainer(ContainerState.image)) problems.push_back(problem);
  std::error_code error;
  if (!problems.empty()) {
    std::filesystem::remove(temporary, error);
    std::string message = "the container would read back differently:";
    for (const std::string& problem : problems) message += "\n" + problem;
    throw Failure{message};
  }
  std::filesystem::rename(temporary, out, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw Failure{out.string() + ": cannot be replaced"};
  }
  std::cout << "wrote " << out.string() << ": " << args.entries.size() << " entries, " << packed.image.size()
            << " bytes\n";
  return 0;
}

int Verify(const Arguments& args) {
  ExpectPositional(args, 1, "FILE");
  Load(args.positional[0]);
  std::vector<std::string> problems = VerifyContainer(ContainerState.image);
  for (std::size_t i = 0; i < ContainerState.entries.size(); ++i) {
    CheckWatchedTitle(i, ContainerState.entries[i].fileName, ContainerState.entries[i].findHwnd, &problems);
  }
  for (const std::string& problem : problems) std::cout << args.positional[0] << ": " << problem << "\n";
  if (problems.empty()) std::cout << args.positional[0] << ": ok\n";
  return problems.empty() ? 0 : 1;
}

int Run(int argc, char** argv) {
  if (argc < 2) throw UsageError{"missing command"};
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  const Arguments args = ParseArguments(command, argc, argv);
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
}  // namespace qm

int main(int argc, char** argv) {
  qm::UseToolPlatform();
  try {
    return qm::Run(argc, argv);
  } catch (const qm::UsageError& error) {
    std::cerr << "qmtool: " << error.message << "\n" << qm::kUsage;
    return 2;
  } catch (const qm::Failure& error) {
    std::cerr << "qmtool: " << error.message << "\n";
    return 1;
  }
}
