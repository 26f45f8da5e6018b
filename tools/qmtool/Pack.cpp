// qmtool pack: a container written without holding its inputs in memory.
//
//  1. Each input is looked at (a regular file, under 2 GiB) and the header
//     is laid out from the sizes; the inputs' first bytes tell whether the
//     payload must begin with a zero byte.
//  2. Header and inputs are streamed into a new file beside OUT
//     (platform/AtomicFile.h).
//  3. That file is read back with the launcher's own code and checked: the
//     records, every byte against its input, and every rule of the format.
//  4. Only then does it replace OUT.
// The peak is about the container's size: the read-back holds it, as the
// launcher would.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>

#include "app/Watch.h"

#include "container/Container.h"
#include "platform/AtomicFile.h"
#include "tools/qmtool/Qmtool.h"

namespace qm {

namespace {

constexpr std::size_t kChunkSize = 1 << 20;

// Why an input could not be read.
std::string Reason(int error) { return error != 0 ? std::strerror(error) : "cannot be read"; }

// The size of the input at `file`, a regular file.
std::uint64_t InputSize(const FileArgument& file) {
  const std::string& path = file.text;
  const std::string problem = RegularFileProblem(file.path);
  if (!problem.empty()) throw Failure{path + ": " + problem};
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(FileSystemPath(file.path), error);
  if (error) throw Failure{path + ": " + error.message()};
  return size;
}

// Reads the input at `path` in chunks, handing each to `take` until it
// returns false; fails unless the file held exactly `size` bytes when read
// to its end.
void ReadInput(const FileArgument& input, std::uint64_t size,
               const std::function<bool(const std::uint8_t*, std::size_t)>& take) {
  const std::string& path = input.text;
  errno = 0;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned(OpenStream(input.path, "rb"), std::fclose);
  std::FILE* file = owned.get();
  if (file == nullptr) throw Failure{path + ": " + Reason(errno)};
  std::vector<std::uint8_t> chunk(kChunkSize);
  std::uint64_t total = 0;
  bool more = true;
  while (more) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    if (got == 0) break;
    total += got;
    more = take(chunk.data(), got);
  }
  const bool failed = std::ferror(file) != 0;
  const int readError = errno;
  if (failed) throw Failure{path + ": " + Reason(readError)};
  if (more && total != size) throw Failure{path + ": changed while it was packed"};
}

// Why `name` could never be a file's name on Windows, or "".
std::string FileNameProblem(const std::string& name) {
  if (name.find_first_of("\\/") != std::string::npos) return "holds a path separator";
  if (name == "." || name == "..") return "names a folder, not a file";
  if (name.find(':') != std::string::npos) return "holds a colon (a drive or a stream)";
  // CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const bool numbered = base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                        base[3] >= '1' && base[3] <= '9';
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || numbered) {
    return "is a reserved device name of Windows";
  }
  return std::string();
}

void Check(bool ok, const std::string& error) {
  if (!ok) throw Failure{error};
}

// Whether the input's bytes stand at file offset `at` of the image.
bool ImageHoldsInput(const std::vector<std::uint8_t>& image, const PackSource& source, std::uint64_t size,
                     std::size_t at) {
  bool same = true;
  ReadInput(source.file, size, [&](const std::uint8_t* bytes, std::size_t count) {
    same = at + count <= image.size() && std::memcmp(image.data() + at, bytes, count) == 0;
    at += count;
    return same;
  });
  return same;
}

}  // namespace

std::uint64_t PackContainer(const FileArgument& out, const std::vector<PackSource>& sources,
                            const std::vector<int>& codePages) {
  std::vector<EntryRecord> records;
  for (const PackSource& source : sources) records.push_back({source.name, InputSize(source.file), source.titles});
  PayloadStart payloadStart;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    bool more = true;
    ReadInput(sources[i].file, records[i].size, [&](const std::uint8_t* bytes, std::size_t count) {
      return more = payloadStart.Feed(bytes, count);
    });
    if (!more) break;
  }
  PackResult header = BuildHeader(records, payloadStart.NeedsLeadingZero(), codePages);
  const WatchedTitles watched = LauncherWatchedTitles();
  const LeadBytes leadBytes = LeadBytes::Of(CodePage());
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string nameProblem = FileNameProblem(sources[i].name);
    if (!nameProblem.empty()) header.errors.push_back(DescribeEntry(i, sources[i].name) + ": the name " + nameProblem);
    const std::string problem = WatchedTitleProblem(sources[i].name, sources[i].titles, watched, leadBytes);
    if (!problem.empty()) header.errors.push_back(DescribeEntry(i, sources[i].name) + ": " + problem);
  }
  if (!header.errors.empty()) {
    std::string message;
    for (const std::string& error : header.errors) message += (message.empty() ? "" : "\n") + error;
    throw Failure{message};
  }

  AtomicFile file(out.path);
  std::string error;
  Check(file.Create(&error), error);
  Check(file.Write(header.image.data(), header.image.size(), &error), error);
  std::uint64_t written = header.image.size();
  for (std::size_t i = 0; i < sources.size(); ++i) {
    ReadInput(sources[i].file, records[i].size, [&](const std::uint8_t* bytes, std::size_t count) {
      Check(file.Write(bytes, count, &error), error);
      return true;
    });
    written += records[i].size;
  }
  Check(file.Finish(&error), error);

  const std::vector<std::uint8_t> image = ReadForLauncher({Utf8Of(file.TemporaryPath()), file.TemporaryPath()});
  const ParsedContainer parsed = ParseForLauncher(image);
  std::vector<std::string> problems = CompareParsedRecords(parsed, image.size(), records);
  for (std::size_t i = 0; problems.empty() && i < sources.size(); ++i) {
    const auto at = static_cast<std::size_t>(parsed.payloadOffset + parsed.entries[i].filePlace);
    if (!ImageHoldsInput(image, sources[i], records[i].size, at)) {
      problems.push_back(DescribeEntry(i, sources[i].name) + ": the bytes read back differently");
    }
  }
  for (const std::string& problem : VerifyContainer(image, codePages, watched)) problems.push_back(problem);
  if (!problems.empty()) {
    std::string message = "the container would read back differently:";
    for (const std::string& problem : problems) message += "\n" + problem;
    throw Failure{message};
  }
  Check(file.Commit(&error), error);
  if (!file.Warning().empty()) std::cerr << "qmtool: warning: " << file.Warning() << "\n";
  return written;
}

}  // namespace qm
