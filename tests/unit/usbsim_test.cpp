// The simulated USB stack itself: its description's faults, its answers to
// requests on the wrong kind of handle, and the last error it passes on.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbIoctl.h"
#include "usbsim/DriverAnswers.h"
#include "usbsim/MachineGenerator.h"
#include "usbsim/UsbSim.h"

extern "C" {
#include "tests/usbdriver/AnswerTable.h"
}

namespace qm {
namespace {

TEST(UsbSim, MalformedDescriptionsNameThePlace) {
  struct Row {
    std::string json;
    const char* place;
  };
  std::string crowded = R"({"controllers": [{"number": 0, "rootHub": {"ports": [)";
  for (int i = 0; i < 128; ++i) crowded += std::string(i ? ", " : "") + R"({"device": {}})";
  const Row rows[] = {
      {crowded + "]}}]}", "controllers[0]: 128 devices on one controller"},
      {"{", "not valid JSON"},
      {R"({"controllers": 3})", "controllers"},
      {R"({"controllers": [{"number": 10}]})", "controllers[0].number"},
      {R"({"controllers": [{"number": 1}, {"number": 1}]})", "controllers[1].number"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"idVendor": 70000}}]}}]})",
       "controllers[0].rootHub.ports[0].device.idVendor"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"idVendor": "x"}}]}}]})",
       "controllers[0].rootHub.ports[0].device.idVendor"},
      {R"({"controllers": [{"number": 0, "rootHub": {"numberOfPorts": 256}}]})", "controllers[0].rootHub.numberOfPorts"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"hub": {"ports": []}}]}}]})",
       "controllers[0].rootHub.ports[0].hub"},
      {R"({"controllers": [{"number": 0, "bogus": 1}]})", "unknown key \"bogus\""},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"speed": "super"}}]}}]})",
       "controllers[0].rootHub.ports[0]: its device runs at SuperSpeed on a port that carries none"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"address": 5}}, {"device": {"address": 5}}]}}]})",
       "controllers[0].rootHub.ports[1].device.address: 5 is another device's"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"configuration": {"extra": "05 24 01"}}}]}}]})",
       "controllers[0].rootHub.ports[0].device.configuration.extra: must be whole descriptors"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"speed": "super", "configuration": {"MaxPower": 100}}, "superSpeed": true}]}}]})",
       "configuration.MaxPower: must be a multiple of 8 mA"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"configuration": {"interfaces": [{"selected": true}, {"alternateSetting": 1, "selected": true}]}}}]}}]})",
       "interfaces[1]: is a second selected alternate setting"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"deviceQualifier": "09 06 00 02 00 00 00 40 01"}}]}}]})",
       "deviceQualifier: must be one device qualifier"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"otherSpeedConfiguration": "09 07 12 00 01 01 00 80 32"}}]}}]})",
       "otherSpeedConfiguration: must be a configuration of type 7"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"speed": "high"}, "superSpeed": "only"}]}}]})",
       "ports[0]: runs below SuperSpeed on a port that carries SuperSpeed alone"},
  };
  for (const Row& row : rows) {
    try {
      sim::UsbSimStack::FromJson(row.json);
      ADD_FAILURE() << row.json.substr(0, 200) << " was accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(row.place), std::string::npos) << error.what();
    }
  }
}

TEST(UsbSim, DriverAnswersRefuseWhatADriverCannotServe) {
  const auto hub = [](const std::string& name) {
    return R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"hub": {"name": )" + name + "}}]}}]}";
  };
  std::string tooMany = R"({"controllers": [)";
  for (int i = 0; i < 33; ++i) tooMany += std::string(i ? ", " : "") + "{}";
  const std::pair<std::string, const char*> rows[] = {
      {R"({"controllers": [{"number": 0, "driverKeyError": 1234}]})", "controllers[0].driverKeyError: error 1234"},
      {R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {"descriptorError": 234}}]}}]})",
       "controllers[0].rootHub.ports[0].device.descriptorError"},
      {hub(R"("a hub")"), "controllers[0].rootHub.ports[0].hub.name: a hub name"},
      {hub(R"("é")"), "printable ASCII"},
      {hub(R"("hcd3")"), "the system already has that name"},
      {R"({"controllers": [{"number": 0, "rootHubName": "HUB", "rootHub": {"ports": [{"hub": {"name": "hub"}}]}}]})",
       "differs from another hub's name only in case"},
      {tooMany + "]}", "controllers[32].interface: the test driver lists at most 32"},
      {"{", "not valid JSON"},
  };
  for (const auto& [json, message] : rows) {
    try {
      sim::CompileDriverAnswers(json, u"");
      ADD_FAILURE() << json << " was accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
  std::uint32_t status = 0;
  EXPECT_TRUE(sim::NtStatusOf(31, &status));
  EXPECT_EQ(status, 0xC0000001u);  // STATUS_UNSUCCESSFUL, which Windows reads as ERROR_GEN_FAILURE
}

// The driver's choice of alternate setting decides the open pipes; a
// qualifier of the device's own is answered as given.
TEST(UsbSim, SelectedAlternateOpensItsPipesAndAQualifierIsServedAsGiven) {
  sim::UsbSimStack stack = sim::UsbSimStack::FromJson(R"({"controllers": [{"number": 0, "rootHub": {"ports": [{"device": {
      "deviceQualifier": "0a 06 10 02 ef 02 01 40 01 00", "configuration": {"interfaces": [
      {"number": 0, "endpoints": [{"address": 129}]},
      {"number": 1, "endpoints": [{"address": 130}]},
      {"number": 1, "alternateSetting": 1, "selected": true, "endpoints": [{"address": 131}, {"address": 4}]}]}}}]}}]})");
  const Handle hub = stack.Open("\\\\.\\USB#ROOT_HUB20#4&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
  std::uint8_t info[usb::kConnectionInfoFixedSize + 4 * usb::kPipeInfoSize] = {1};
  ASSERT_TRUE(stack.Request(hub, usb::kIoctlGetNodeConnectionInformationEx, info, sizeof(info)));
  EXPECT_EQ(usb::Read32(info + usb::kConnectionOpenPipes), 3u);
  const std::uint8_t* pipes = info + usb::kConnectionInfoFixedSize;
  EXPECT_EQ(std::vector<int>({pipes[2], pipes[usb::kPipeInfoSize + 2], pipes[2 * usb::kPipeInfoSize + 2]}),
            std::vector<int>({0x81, 0x83, 0x04}));
  std::uint8_t qualifier[usb::kDescriptorData + 10] = {1, 0, 0, 0, 0x80, 6, 0, 6, 0, 0, 10, 0};
  ASSERT_TRUE(stack.Request(hub, usb::kIoctlGetDescriptorFromNodeConnection, qualifier, sizeof(qualifier)));
  EXPECT_EQ(std::vector<std::uint8_t>(qualifier + usb::kDescriptorData, qualifier + sizeof(qualifier)),
            std::vector<std::uint8_t>({10, 6, 0x10, 2, 0xEF, 2, 1, 0x40, 1, 0}));
  EXPECT_TRUE(stack.Close(hub));
}

TEST(UsbSim, RequestsToTheWrongKindOfHandleFail) {
  sim::UsbSimStack direct = sim::UsbSimStack::FromJson(R"({"controllers": [{"number": 0, "rootHub": {"ports": [{}]}}]})");
  const Handle controller = direct.Open("\\\\.\\HCD0");
  std::uint8_t buffer[usb::kConnectionInfoSize] = {};
  buffer[0] = 1;
  EXPECT_FALSE(direct.Request(controller, usb::kIoctlGetNodeConnectionInformation, buffer, sizeof(buffer)));
  const Handle hub = direct.Open("\\\\.\\USB#ROOT_HUB20#4&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
  ASSERT_NE(hub, kInvalidHandle);
  EXPECT_FALSE(direct.Request(hub, usb::kIoctlGetHcdDriverkeyName, buffer, sizeof(buffer)));
  EXPECT_TRUE(direct.Request(hub, usb::kIoctlGetNodeConnectionInformation, buffer, sizeof(buffer)));  // an empty port answers
  std::uint8_t descriptor[usb::kDescriptorRequestSize] = {};
  descriptor[0] = 1;
  EXPECT_FALSE(direct.Request(hub, usb::kIoctlGetDescriptorFromNodeConnection, descriptor, sizeof(descriptor)));  // no device there
  EXPECT_TRUE(direct.Close(controller));
  EXPECT_TRUE(direct.Close(hub));
}

TEST(UsbSim, LastErrorIsTheLastCallsOwn) {
  sim::UsbSimStack stack = sim::UsbSimStack::FromJson(R"({"controllers": [{"number": 0}]})");
  test::FakePlatform behind;
  SetPlatform(sim::WithSimulatedStack(PlatformOf(behind), stack));
  std::uint8_t buffer[usb::kNameBufferSize] = {};
  std::uint32_t returned = 0;
  EXPECT_FALSE(Devices().DeviceIoControl(0x123, usb::kIoctlGetHcdDriverkeyName, buffer, sizeof(buffer), &returned));
  EXPECT_FALSE(Files().DeleteFile("C:\\missing.exe"_w));
  EXPECT_EQ(Devices().GetLastError(), win::kErrorInvalidHandle);  // the stack's: no such handle
  EXPECT_EQ(Files().GetLastError(), win::kErrorFileNotFound);     // the file system's
  SetPlatform({});
}

// Serves `code` to the node both ways, the stack directly and the driver
// from its answer file, in identical buffers; reports any difference.
void ExpectServedAlike(sim::UsbSimStack& stack, Handle handle, const QmTable& table, std::uint32_t node,
                       std::uint32_t code, const std::vector<std::uint8_t>& input, std::uint32_t size,
                       const std::string& where) {
  std::vector<std::uint8_t> direct(size + 1, 0xA5), served(size + 1, 0xA5);
  std::memcpy(direct.data(), input.data(), std::min<std::size_t>(size, input.size()));
  std::memcpy(served.data(), input.data(), std::min<std::size_t>(size, input.size()));
  const bool ok = stack.Request(handle, code, direct.data(), size);
  std::uint32_t status = 0, filled = 0;
  if (!ok) sim::NtStatusOf(stack.LastError(), &status);
  const std::uint32_t answered = QmAnswerRequest(&table, node, code, served.data(), size, size, &filled);
  const std::uint32_t expectedFilled = ok ? std::min(stack.LastInformation(), size) : 0;
  EXPECT_EQ(answered, status) << where;
  EXPECT_EQ(filled, expectedFilled) << where;
  EXPECT_EQ(0, std::memcmp(direct.data(), served.data(), expectedFilled)) << where;
}

// Every request a documented client sends, in every size that matters,
// with the inputs that pick its answers, and some that pick none.
void ExpectTheFileServesAsTheStack(const std::string& description) {
  const std::vector<std::uint8_t> file = sim::CompileDriverAnswers(description, u"");
  std::vector<std::uint32_t> words((file.size() + 3) / 4);
  std::memcpy(words.data(), file.data(), file.size());
  QmTable table;
  std::memset(&table, 0, sizeof(table));
  table.file = reinterpret_cast<const unsigned char*>(words.data());
  table.size = static_cast<std::uint32_t>(file.size());
  ASSERT_TRUE(QmCheckTable(&table));
  sim::UsbSimStack stack = sim::UsbSimStack::FromJson(description);
  const std::uint32_t codes[] = {0x220424, 0x220408, 0x22040C, 0x220410, 0x220414, 0x220420, 0x220438, 0x22043C,
                                 0x220440, 0x220448, 0x220450, 0x220454, 0x220458, 0x22045C, 0x220000};
  const std::uint32_t sizes[] = {0, 3, 4, 6, 7, 10, 11, 12, 16, 18, 21, 35, 40, 46, 50, 76, 77, 388, 2060};
  for (std::uint32_t i = 0; i < table.header->nameCount; ++i) {
    const std::uint16_t* units = QmNameText(&table, i);
    std::string name;
    for (std::uint32_t k = 0; k < table.names[i]->units; ++k) name += static_cast<char>(units[k]);
    const Handle handle = stack.Open("\\\\.\\" + name);
    if (handle == kInvalidHandle) continue;
    for (std::uint32_t code : codes) {
      for (std::uint32_t first : {0u, 1u, 2u, 4u, 5u, 7u, 200u}) {  // ports, user requests
        for (std::uint32_t value : {0x0100u, 0x0200u, 0x0302u, 0x0600u, 0x0700u, 0x0F00u, 0x0004u, 0x0003u, 104u}) {
          std::vector<std::uint8_t> input(24, 0);
          usb::Write32(&input[0], first);
          usb::Write32(&input[4], 16);  // _EX_V2's Length
          usb::Write16(&input[usb::kSetupValue], static_cast<std::uint16_t>(value));
          usb::Write32(&input[8], value);  // _EX_V2's protocols
          usb::Write32(&input[16], value);  // a power state
          if (code == 0x220410) usb::Write16(&input[usb::kSetupLength], static_cast<std::uint16_t>(value >> 2));
          for (std::uint32_t size : sizes) {
            ExpectServedAlike(stack, handle, table, table.names[i]->node, code, input, size,
                              name + " code " + std::to_string(code) + " " + std::to_string(first) + "/" +
                                  std::to_string(value) + " size " + std::to_string(size));
          }
        }
      }
    }
    stack.Close(handle);
  }
}

std::string TestData(const std::string& file) {
  std::ifstream in(std::string(QM_SOURCE_DIR) + "/tests/data/usb/" + file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(UsbSim, TheDriversAnswerFileServesEveryRequestAsTheStackAnswersIt) {
  for (const char* file : {"realistic.json", "failures.json", "failures-root-hubs.json", "hp-g62-notebook.json"}) {
    SCOPED_TRACE(file);
    ExpectTheFileServesAsTheStack(TestData(file));
  }
  sim::MachineShape shape;
  shape.servable = true;
  shape.maxDepth = 3;
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    ExpectTheFileServesAsTheStack(sim::GenerateMachine(seed, shape, 512));
  }
}

}  // namespace
}  // namespace qm
