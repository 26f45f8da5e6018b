// The USB walk and descriptor reading, against the simulated USB stack.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/fake/FakePlatform.h"
#include "usb/UsbIoctl.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace qm {
namespace {

class UsbTest : public ::testing::Test {
 protected:
  void TearDown() override { SetPlatform({}); }

  // Runs the scan over `description`; returns its result.
  std::uint32_t Scan(const std::string& description) {
    stack = std::make_unique<sim::UsbSimStack>(sim::UsbSimStack::FromJson(description));
    SetPlatform(sim::WithSimulatedStack(PlatformOf(fake), *stack));
    ResetUsbScanState();
    return ScanUsbDevices();
  }
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const USB_BASIC_ALLINFO& record : UsbScanState.devices) paths.push_back(record.portPath);
    return paths;
  }
  const USB_BASIC_ALLINFO& Record(const std::string& portPath) const {
    for (const USB_BASIC_ALLINFO& record : UsbScanState.devices) {
      if (record.portPath == portPath) return record;
    }
    throw std::out_of_range(portPath);
  }
  // The descriptor requests of the trace, as "wValue/wIndex/wLength".
  std::vector<std::string> DescriptorRequests() const {
    std::vector<std::string> out;
    for (const sim::TraceEntry& entry : stack->Trace()) {
      if (!entry.isDescriptorRequest) continue;
      char text[32];
      std::snprintf(text, sizeof(text), "%04x/%u/%u", entry.wValue, entry.wIndex, entry.wLength);
      out.push_back(text);
    }
    return out;
  }
  // Every open that succeeded was closed exactly once.
  void ExpectEveryHandleClosed() const {
    int opened = 0, closed = 0;
    for (const sim::TraceEntry& entry : stack->Trace()) {
      if (entry.op == "open" && entry.ok) ++opened;
      if (entry.op == "close") {
        EXPECT_TRUE(entry.ok) << "close of " << entry.path;
        ++closed;
      }
    }
    EXPECT_EQ(opened, closed);
    EXPECT_EQ(stack->OpenHandles(), 0u);
  }

  test::FakePlatform fake;
  std::unique_ptr<sim::UsbSimStack> stack;
};

const char kDrive[] =
    R"({"idVendor": 5118, "idProduct": 4096, "iManufacturer": 1, "iProduct": 2, "iSerialNumber": 3,
        "strings": {"1": "Maker", "2": "Stick", "3": "0042"}})";

std::string Controller(int number, const std::string& ports, const std::string& extra = "") {
  return R"({"number": )" + std::to_string(number) + R"(, "rootHub": {"ports": )" + ports + "}" + extra + "}";
}
std::string Machine(const std::string& controllers) { return R"({"controllers": [)" + controllers + "]}"; }

// --- the walk ---

TEST_F(UsbTest, NoControllerGivesNoRecordsAndResultZero) {
  EXPECT_EQ(Scan(Machine("")), 0u);
  EXPECT_EQ(UsbScanState.deviceCount, 0);
  // Ten failed opens, then an empty interface list asked for, read and destroyed.
  EXPECT_EQ(stack->Trace().size(), 13u);
}

TEST_F(UsbTest, MissingControllerZeroIsSkipped) {
  EXPECT_EQ(Scan(Machine(Controller(1, "[{}, {}]"))), 0u);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"1-1", "1-2"}));
  EXPECT_EQ(Record("1-1").controllerPath, "\\\\.\\HCD1");
  EXPECT_EQ(Record("1-1").rootHubName, "USB#ROOT_HUB20#4&1#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, EmptyPortsAndADriveOnPort2) {
  Scan(Machine(Controller(0, std::string("[{}, {\"device\": ") + kDrive + "}, {}, {}]")));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "0-2", "0-3", "0-4"}));
  const USB_BASIC_ALLINFO& drive = Record("0-2");
  EXPECT_EQ(drive.vendorId, 0x13FE);
  EXPECT_EQ(drive.productId, 0x1000);
  EXPECT_EQ(drive.manufacturer, "Maker");
  EXPECT_EQ(drive.product, "Stick");
  EXPECT_EQ(drive.serialNumber, "0042");
  for (const char* empty : {"0-1", "0-3", "0-4"}) {
    EXPECT_EQ(Record(empty).vendorId, 0);
    EXPECT_EQ(Record(empty).manufacturer, "");
  }
}

TEST_F(UsbTest, HubsAreWalkedDepthFirst) {
  const std::string inner = std::string(R"({"hub": {"name": "HUB#INNER", "ports": [{}, {"device": )") + kDrive +
                            "}, {}]}}";
  const std::string outer =
      R"({"hub": {"name": "HUB#OUTER", "device": {"idVendor": 1234}, "ports": [{}, {}, )" + inner + ", {}]}}";
  Scan(Machine(Controller(0, "[" + outer + ", {}, {}]")));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "0-1-1", "0-1-2", "0-1-3", "0-1-3-1", "0-1-3-2",
                                               "0-1-3-3", "0-1-4", "0-2", "0-3"}));
  EXPECT_EQ(Record("0-1").vendorId, 0);  // a hub keeps identifiers 0
  EXPECT_EQ(Record("0-1-3-2").vendorId, 0x13FE);
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, TwelvePortsAtDepthOne) {
  Scan(Machine(Controller(0, R"([{"hub": {"name": "H12", "numberOfPorts": 12}}])")));
  ASSERT_EQ(UsbScanState.deviceCount, 13);
  EXPECT_EQ(UsbScanState.devices[12].portPath, "0-1-12");
  EXPECT_EQ(UsbScanState.devices[10].portPath, "0-1-10");
}

TEST_F(UsbTest, FailingControllerHidesNoOtherAndTheFirstFailureIsTheResult) {
  EXPECT_EQ(Scan(Machine(Controller(0, "[{}]", R"(, "driverKeyError": 1167)") + ", " + Controller(1, "[{}]"))),
            1167u);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"1-1"}));
  ExpectEveryHandleClosed();
  const std::string failing = R"({"number": 1, "rootHub": {"openError": 5, "ports": [{}]}})";
  EXPECT_EQ(Scan(Machine(Controller(0, "[{}, {}]") + ", " + failing + ", " + Controller(2, "[{}]"))), 5u);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "0-2", "2-1"}));
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, InterfacePassReachesEveryControllerOnce) {
  // 0 by both names; one by its interface alone, with the drive; one seen
  // twice under two interface paths; 1 by its legacy name alone; one whose
  // interface cannot be opened.
  const std::string twin = R"({"interfacePath": "\\\\?\\twin", "driverKeyName": "KEY-B", "rootHub": {"ports": [{}]}})";
  const std::string alone = R"({"driverKeyName": "KEY-B", "rootHub": {"ports": [{"device": )" + std::string(kDrive) + "}]}}";
  Scan(Machine(Controller(0, "[{}]") + ", " + alone + ", " + twin + ", " + Controller(1, "[{}]", R"(, "interface": false)") +
               R"(, {"interfaceOpenError": 5})"));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "1-1", "10-1"}));
  EXPECT_EQ(Record("10-1").vendorId, 0x13FE);
  EXPECT_EQ(Record("10-1").controllerPath, "\\\\?\\hc1#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}");
  std::vector<std::string> outcomes;
  for (const ControllerReport& report : UsbScanState.controllers) {
    outcomes.push_back(report.path.substr(0, 8) + " " + std::to_string(static_cast<int>(report.outcome)) + " " +
                       std::to_string(report.number));
  }
  EXPECT_EQ(outcomes, (std::vector<std::string>{"\\\\.\\HCD0 0 0", "\\\\.\\HCD1 0 1", "\\\\?\\hc0# 2 -1",
                                                "\\\\?\\hc1# 0 10", "\\\\?\\twin 2 -1"}));
  ExpectEveryHandleClosed();
  // Twelve controllers: ten by name, two more by interface.
  std::string twelve = Controller(0, "[{}]");
  for (int n = 1; n < 10; ++n) twelve += ", " + Controller(n, "[{}]");
  twelve += R"(, {"rootHub": {"ports": [{}]}}, {"rootHub": {"ports": [{}]}})";
  EXPECT_EQ(Scan(Machine(twelve)), 0u);
  EXPECT_EQ(UsbScanState.deviceCount, 12);
  EXPECT_EQ(UsbScanState.devices[11].portPath, "11-1");
}

TEST_F(UsbTest, RootHubFailuresFailTheController) {
  EXPECT_EQ(Scan(Machine(R"({"number": 0, "rootHub": {"nodeInfoError": 21, "ports": [{}]}})")), 21u);
  ExpectEveryHandleClosed();
  // A failed name request leaves the driver key name, which names no hub:
  // its backslash reads as a folder, as the system's object manager reads it.
  EXPECT_EQ(Scan(Machine(R"({"number": 0, "rootHubNameError": 31, "rootHub": {"ports": [{}]}})")), 3u);
  EXPECT_EQ(UsbScanState.deviceCount, 0);
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, RootHubWithoutPortsGivesNoRecords) {
  EXPECT_EQ(Scan(Machine(Controller(0, "[]"))), 0u);
  EXPECT_EQ(UsbScanState.deviceCount, 0);
}

TEST_F(UsbTest, ExternalHubThatFailsKeepsOnlyItsOwnRecord) {
  for (const char* fault : {R"("openError": 5)", R"("nodeInfoError": 31)", R"("nameError": 31)"}) {
    const std::string hub = std::string(R"({"hub": {"name": "BAD", )") + fault + R"(, "ports": [{}, {}]}})";
    Scan(Machine(Controller(0, "[" + hub + ", {\"device\": " + kDrive + "}]")));
    EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "0-2"})) << fault;
    EXPECT_EQ(Record("0-2").vendorId, 0x13FE);
    ExpectEveryHandleClosed();
  }
}

TEST_F(UsbTest, FailedConnectionRequestOrOtherStatusRecordsAnEmptyPort) {
  const std::string ports = std::string("[{\"connectionInfoError\": 31, \"device\": ") + kDrive +
                            "}, {\"status\": 2, \"device\": " + kDrive + "}]";
  Scan(Machine(Controller(0, ports)));
  EXPECT_EQ(Record("0-1").vendorId, 0);
  EXPECT_EQ(Record("0-2").vendorId, 0);
  EXPECT_TRUE(DescriptorRequests().empty());
}

// --- bounds the walk keeps ---

TEST_F(UsbTest, HubNameThatDoesNotFitIsNotOpened) {
  const std::string longName(300, 'N');
  Scan(Machine(Controller(0, R"([{"hub": {"name": ")" + longName + R"(", "ports": [{}]}}, {}])")));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"0-1", "0-2"}));
  EXPECT_NE(Scan(Machine(R"({"number": 0, "rootHubName": ")" + longName + R"(", "rootHub": {}})")), 0u);
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, HubThatReportsItselfIsWalkedToABoundedDepth) {
  Scan(Machine(Controller(0, R"([{"hub": {"name": "LOOP", "ports": [{"hub": {"name": "LOOP", "ports": [{}]}}]}}])")));
  // The inner description reuses the outer name: every open of LOOP reaches
  // the outer hub, as a stack reporting a hub inside itself would.
  EXPECT_EQ(UsbScanState.deviceCount, 1 + kMaxHubDepth);
  EXPECT_EQ(UsbScanState.devices.back().portPath.size(), std::string("0").size() + 2 * (1 + kMaxHubDepth));
  ExpectEveryHandleClosed();
}

TEST_F(UsbTest, ScanStopsAppendingAt32767Records) {
  std::string controllers;
  for (int number = 0; number < 10; ++number) {
    std::string ports = "[";
    for (int hub = 0; hub < 20; ++hub) {
      ports += std::string(hub ? "," : "") + R"({"hub": {"name": "H)" + std::to_string(number) + "_" +
               std::to_string(hub) + R"(", "numberOfPorts": 255}})";
    }
    controllers += (number ? "," : "") + Controller(number, ports + "]");
  }
  Scan(Machine(controllers));
  EXPECT_EQ(UsbScanState.deviceCount, 32767);
  EXPECT_EQ(UsbScanState.devices.size(), 32767u);
  // No port beyond the last record is even asked about.
  int connectionRequests = 0;
  for (const sim::TraceEntry& entry : stack->Trace()) connectionRequests += entry.code == usb::kIoctlGetNodeConnectionInformation;
  EXPECT_EQ(connectionRequests, 32767);
  ExpectEveryHandleClosed();
}

// --- descriptors ---

TEST_F(UsbTest, DeviceWithoutStringIndicesGetsNoDescriptorRequest) {
  Scan(Machine(Controller(0, R"([{"device": {"idVendor": 2316, "idProduct": 1, "deviceClass": 239,
                                              "deviceSubClass": 2, "deviceProtocol": 1}}])")));
  EXPECT_EQ(Record("0-1").vendorId, 0x090C);
  // The class triple comes with the connection information: no request asks for it.
  EXPECT_EQ((std::vector<int>{Record("0-1").deviceClass, Record("0-1").deviceSubClass, Record("0-1").deviceProtocol}),
            (std::vector<int>{0xEF, 2, 1}));
  EXPECT_TRUE(DescriptorRequests().empty());
}

TEST_F(UsbTest, OnlySerialNumberAsksForLanguagesThenTheSerial) {
  Scan(Machine(Controller(0, R"([{"device": {"idVendor": 1, "iSerialNumber": 7, "strings": {"7": "SN"},
                                                "languages": [1031, 1033]}}])")));
  EXPECT_EQ(DescriptorRequests(), (std::vector<std::string>{"0300/0/4", "0307/1031/255"}));
  EXPECT_EQ(Record("0-1").serialNumber, "SN");
  EXPECT_EQ(Record("0-1").manufacturer, "");
  for (const sim::TraceEntry& entry : stack->Trace()) {
    if (entry.isDescriptorRequest) {
      EXPECT_EQ(entry.size, usb::kDescriptorRequestSize);
      EXPECT_EQ(entry.connectionIndex, 1u);
    }
  }
}

TEST_F(UsbTest, LanguageIsAskedOncePerDevice) {
  Scan(Machine(Controller(0, std::string("[{\"device\": ") + kDrive + "}, {\"device\": " + kDrive + "}]")));
  EXPECT_EQ(DescriptorRequests(),
            (std::vector<std::string>{"0300/0/4", "0301/1033/255", "0302/1033/255", "0303/1033/255", "0300/0/4",
                                      "0301/1033/255", "0302/1033/255", "0303/1033/255"}));
}

TEST_F(UsbTest, EmptyLanguageListRepeatsTheLanguageRequestBeforeEachString) {
  Scan(Machine(Controller(0, R"([{"device": {"iManufacturer": 1, "iProduct": 2, "languages": [],
                                                "strings": {"1": "M", "2": "P"}}}])")));
  EXPECT_EQ(DescriptorRequests(), (std::vector<std::string>{"0300/0/4", "0301/0/255", "0300/0/4", "0302/0/255"}));
  EXPECT_EQ(Record("0-1").manufacturer, "M");
}

TEST_F(UsbTest, StringTextKeepsLowBytesAndEndsAtALowZero) {
  Scan(Machine(Controller(0, R"([{"device": {"iManufacturer": 1, "iProduct": 2, "iSerialNumber": 3,
       "strings": {"1": "ABC", "2": "\u0141x", "3": "ab\u0100cd"}}}])")));
  EXPECT_EQ(Record("0-1").manufacturer, "ABC");
  EXPECT_EQ(Record("0-1").product, "Ax");  // U+0141 keeps its low byte 0x41
  EXPECT_EQ(Record("0-1").serialNumber, "ab");  // U+0100 ends the text
}

TEST_F(UsbTest, FailedDescriptorRequestsLeaveTextsEmpty) {
  Scan(Machine(Controller(0, R"([{"device": {"idVendor": 4871, "iManufacturer": 1, "iProduct": 2,
                                                "descriptorError": 31, "strings": {"1": "M"}}}])")));
  EXPECT_EQ(Record("0-1").vendorId, 0x1307);
  EXPECT_EQ(Record("0-1").manufacturer, "");
  // The failed language request leaves language 0, so it is asked again.
  EXPECT_EQ(DescriptorRequests(), (std::vector<std::string>{"0300/0/4", "0301/0/255", "0300/0/4", "0302/0/255"}));
}

TEST_F(UsbTest, LongestStringStopsAtTheBufferNotAtItsLengthByte) {
  const std::string text(200, 'Z');
  Scan(Machine(Controller(0, R"([{"device": {"iProduct": 1, "strings": {"1": ")" + text + R"("}}}])")));
  // 255 bytes of reply: the length and type bytes, 126 whole code units and
  // the low byte of the 127th.
  EXPECT_EQ(Record("0-1").product, std::string(127, 'Z'));
}

}  // namespace
}  // namespace qm
