// The test USB driver's reader of its answer file (tests/usbdriver/
// AnswerTable.c, the very source the driver is built from): a file it
// accepts is served for every node and every request the stack answers,
// with buffers of exactly the size given, so that any read or write outside
// the file or a buffer, and any endless lookup, shows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include "tests/usbdriver/AnswerTable.h"
}

namespace {

constexpr std::uint32_t kCodes[] = {0x220424, 0x220408, 0x22040C, 0x220410, 0x220414, 0x220420, 0x220438,
                                    0x22043C, 0x220448, 0x220450, 0x220454, 0x220458, 0x22045C, 0x220000, 0x220413};
constexpr std::uint32_t kSizes[] = {0, 3, 4, 6, 12, 16, 18, 35, 40, 50, 76, 77, 388, 516, 520, 2060};

std::uint32_t Touch(const std::uint16_t* units, std::uint32_t count) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < count; ++i) sum += units[i];
  return sum;
}

// A request whose first word is `index` and whose word at `valueAt` is
// `value` (a descriptor's wValue at 6, with wLength all ones).
void Serve(const QmTable& table, std::uint32_t node, std::uint32_t code, std::uint32_t index, std::uint32_t valueAt,
           std::uint32_t value, std::uint32_t in, std::uint32_t out) {
  std::vector<unsigned char> buffer(in > out ? in : out);
  unsigned char request[32] = {};
  request[10] = 0xFF;
  request[11] = 0xFF;
  std::memcpy(request, &index, 4);
  if (valueAt <= sizeof(request) - 4) std::memcpy(request + valueAt, &value, 4);
  if (in > 0) std::memcpy(buffer.data(), request, in < sizeof(request) ? in : sizeof(request));
  std::uint32_t filled = 0;
  QmAnswerRequest(&table, node, code, buffer.empty() ? nullptr : buffer.data(), in, out, &filled);
  if (filled > out) __builtin_trap();  // more than the room given
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint32_t> words((size + 3) / 4);  // the driver's pool memory is aligned
  if (size > 0) std::memcpy(words.data(), data, size);
  QmTable table;
  std::memset(&table, 0, sizeof(table));
  table.file = reinterpret_cast<const unsigned char*>(words.data());
  table.size = static_cast<std::uint32_t>(size);
  if (!QmCheckTable(&table)) return 0;
  const QmAnswersHeader& header = *table.header;
  volatile std::uint32_t sum = Touch(table.tracePath, header.traceUnits);
  for (std::uint32_t i = 0; i < header.nameCount; ++i) sum = sum + Touch(QmNameText(&table, i), table.names[i]->units);
  // Every node, and one past the last, with the questions the walk asks.
  const std::uint32_t nodes = header.nodeCount < 16 ? header.nodeCount : 16;
  for (std::uint32_t node = 0; node <= nodes; ++node) {
    for (std::uint32_t code : kCodes) {
      for (std::uint32_t index : {0u, 1u, 2u, 4u}) {
        // Descriptors by wValue; any other request's value word reads as
        // _EX_V2's protocols do.
        const bool descriptor = code == 0x220410;
        for (std::uint32_t value : {0x0100u, 0x0200u, 0x0302u, 0x0F00u}) {
          for (std::uint32_t out : kSizes) Serve(table, node, code, index, descriptor ? 6 : 8, value, out < 32 ? out : 32, out);
          if (!descriptor) break;
        }
      }
    }
  }
  // Each answer's own question, in its smallest buffer and one byte less.
  const std::uint32_t answers = header.answerCount < 512 ? header.answerCount : 512;
  for (std::uint32_t i = 0; i < answers; ++i) {
    const QmAnswer& a = table.answers[i];
    for (std::uint32_t out : {a.minSize, a.minSize - 1, a.length}) {
      if (out > 65548) continue;
      Serve(table, nodes > 0 ? i % nodes : 0, a.code, a.index, a.valueAt, a.value, out < 32 ? out : 32, out);
    }
  }
  return 0;
}
