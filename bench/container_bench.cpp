// Container benchmark: parse and verify time against header size (both must
// grow linearly), and loading a 256 MiB container, extracting, writing and
// re-reading a 64 MiB entry, beside a plain copy of the same bytes on the
// same disk.
//
// container_bench [DIR]   (DIR: where the scratch files go; default /tmp)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "container/ContainerState.h"
#include "container/Writer.h"
#include "platform/host/HostPlatform.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string Header(int records) {
  std::string header;
  for (int i = 0; i < records; ++i) {
    header += "QM_FileName:tool" + std::to_string(i) + ".exeQM_FileSize:1QM_FilePlace:" + std::to_string(i) +
              "QM_FindHwnd:Tool window " + std::to_string(i);
  }
  return header + "QM_Program_Start:";
}

void BenchParse() {
  std::printf("parse (best of 5)\n");
  double perRecord100 = 0;
  for (int records : {100, 2000, 20000}) {
    const std::string header = Header(records);
    double best = 1e9;
    long faults = 0;
    for (int run = 0; run < 5; ++run) {
      qm::ResetContainerState();
      qm::ContainerState.image.assign(header.begin(), header.end());
      const long faultsBefore = MinorFaults();
      const auto start = Clock::now();
      qm::ParseContainer();
      const double seconds = Seconds(start);
      if (seconds < best) {
        best = seconds;
        faults = MinorFaults() - faultsBefore;
      }
    }
    const double perRecord = best / records * 1e9;
    if (records == 100) perRecord100 = perRecord;
    std::printf("  %6d records, %8zu bytes: %8.3f ms  (%5.0f ns per record, %.2fx the 100-record rate; %ld page faults)\n",
                records, header.size(), best * 1e3, perRecord, perRecord / perRecord100, faults);
  }
}

void BenchVerify() {
  std::printf("verify (best of 3)\n");
  double at2000 = 0;
  for (int records : {2000, 20000}) {
    const std::string text = Header(records) + std::string(static_cast<std::size_t>(records), 'x');
    const std::vector<std::uint8_t> image(text.begin(), text.end());
    double best = 1e9;
    std::size_t problems = 0;
    for (int run = 0; run < 3; ++run) {
      const auto start = Clock::now();
      problems = qm::VerifyContainer(image).size();
      best = std::min(best, Seconds(start));
    }
    if (records == 2000) at2000 = best;
    std::printf("  %6d records: %8.3f ms  (%.1fx the time of 2,000 records; %zu problems)\n", records, best * 1e3,
                best / at2000, problems);
  }
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void BenchExtract(const std::string& dir) {
  const std::size_t kTotal = 256u << 20, kEntry = 64u << 20;
  const std::string header = "QM_FileName:big.exeQM_FileSize:" + std::to_string(kEntry) +
                             "QM_FilePlace:" + std::to_string(kTotal / 2) + "QM_FindHwnd:BigQM_Program_Start:";
  const std::string container = dir + "/qm-bench-container.ini";
  const std::string out = dir + "/qm-bench-out.exe";
  const std::string copy = dir + "/qm-bench-copy.bin";
  {
    // Written in pieces, so the benchmark's own peak stays low.
    std::ofstream file(container, std::ios::binary);
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::vector<char> piece(1u << 20, 'x');
    piece[0] = '\0';
    for (std::size_t written = 0; written < kTotal; written += piece.size()) {
      file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      piece[0] = 'x';
    }
  }

  const long before = PeakKiB();
  const auto start = Clock::now();
  qm::ResetContainerState();
  qm::LoadContainer(qm::WidePathFromUtf8(container));
  qm::ParseContainer();
  qm::ExtractEntry("big.exe");
  qm::WriteExtracted(qm::WidePathFromUtf8(out));
  qm::HoldExtracted(qm::WidePathFromUtf8(out));  // read back and compared, as before every start
  const double launcher = Seconds(start);
  const long peak = PeakKiB();
  qm::ResetContainerState();

  // The plain copy: read the same 64 MiB from the same file and write them.
  const auto copyStart = Clock::now();
  {
    std::ifstream in(container, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(header.size() + kTotal / 2));
    std::vector<char> bytes(kEntry);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    WriteFile(copy, bytes);
  }
  const double plain = Seconds(copyStart);
  // The least any loader must do: read the whole file, write the entry.
  const auto wholeStart = Clock::now();
  {
    std::ifstream in(container, std::ios::binary);
    std::vector<char> bytes(header.size() + kTotal);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    WriteFile(copy, std::vector<char>(bytes.begin() + static_cast<std::ptrdiff_t>(header.size() + kTotal / 2),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(header.size() + kTotal / 2 + kEntry)));
  }
  const double whole = Seconds(wholeStart);
  std::printf("load 256 MiB + parse + extract, write and re-read 64 MiB: %.1f ms, peak memory %ld MiB (%ld MiB before)\n",
              launcher * 1e3, peak / 1024, before / 1024);
  std::printf("plain copy of the same 64 MiB: %.1f ms; ratio %.2f\n", plain * 1e3, launcher / plain);
  std::printf("plain read of the whole 256 MiB and write of the 64 MiB: %.1f ms; ratio %.2f\n", whole * 1e3,
              launcher / whole);
  std::remove(container.c_str());
  std::remove(out.c_str());
  std::remove(copy.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  qm::SetPlatform(qm::HostRoles());
  BenchParse();
  BenchVerify();
  BenchExtract(argc > 1 ? argv[1] : "/tmp");
  return 0;
}
