// The simulated USB stack itself: its description's faults, its answers to
// requests on the wrong kind of handle, and the last error it passes on.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbIoctl.h"
#include "usbsim/DriverAnswers.h"
#include "usbsim/UsbSim.h"

namespace qm {
namespace {

TEST(UsbSim, MalformedDescriptionsNameThePlace) {
  struct Row {
    const char* json;
    const char* place;
  };
  const Row rows[] = {
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
  };
  for (const Row& row : rows) {
    try {
      sim::UsbSimStack::FromJson(row.json);
      ADD_FAILURE() << row.json << " was accepted";
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

}  // namespace
}  // namespace qm
