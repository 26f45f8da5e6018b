// Load, parse and extract over arbitrary bytes, and qmtool's report of what
// an entry is. The image is an exact-size copy, so any read past it is
// caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>

#include "app/Watch.h"
#include "container/ContainerState.h"
#include "container/Writer.h"
#include "tests/fake/FakePlatform.h"
#include "tools/qmtool/PeReport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A fresh fake per input: one kept across inputs would keep every call it
  // recorded, and a long run would end on the memory limit, not on a fault.
  qm::test::FakePlatform platform;
  qm::SetPlatform(PlatformOf(platform));
  // The first byte picks the code page, the rest is the file.
  platform.codePage = (size > 0 && (data[0] & 1)) ? 932 : 1252;
  if (size > 0) {
    ++data;
    --size;
  }
  platform.files.clear();
  platform.files["C:\\QM_File.ini"].data.assign(reinterpret_cast<const char*>(data), size);
  qm::ResetContainerState();
  if (!qm::LoadContainer(qm::WidePathFromUtf8("C:\\QM_File.ini"))) return 0;
  qm::ParseContainer();
  for (const qm::PROGRAMINFO& entry : std::vector<qm::PROGRAMINFO>(qm::ContainerState.entries)) {
    qm::ExtractEntry(entry.fileName);
    const std::vector<std::uint8_t> bytes = qm::ContainerState.extracted;  // exact size
    qm::InspectPe(bytes.data(), bytes.size());
  }
  qm::InspectPe(data, size);
  qm::WriteExtracted(qm::WidePathFromUtf8("C:\\out.exe"));
  static const qm::WatchedTitles watched = qm::LauncherWatchedTitles();
  qm::VerifyContainer(qm::ContainerState.image, qm::DoubleByteCodePages(), watched);
  return 0;
}
