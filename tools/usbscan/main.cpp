// usbscan: runs the launcher's own USB scan and shows what it found, with
// the tool the launcher would pick for each device.
//
//   usbscan [--sim FILE] [--json [--trace]]
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>

#include "app/LauncherState.h"
#include "app/StartSequence.h"
#include "app/ToolTable.h"
#include "tools/common/Json.h"
#include "tools/common/ToolPlatform.h"
#include "tools/usbscan/Details.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace qm {
namespace {

const char kUsage[] =
    "usage: usbscan [--sim FILE] [--json [--trace]]\n"
    "       usbscan --tools [--json]\n"
    "\n"
    "Walks every USB host controller and hub as the Quillmark launcher does and prints\n"
    "first each controller it reached (by its name \\\\.\\HCDn or its device interface\n"
    "path) and whether it was walked, failed (with the Windows error code) or skipped as\n"
    "one already walked under another name; then each hub port: its path\n"
    "(controller-port-port...) and what it holds: \"(empty)\"; a hub, with its\n"
    "vendor:product, strings and port count, its ports indented under it; a device,\n"
    "with vendor:product in hex, the manufacturer, product and serial number strings,\n"
    "and the tool code the launcher would pick; or the trouble Windows reports on the\n"
    "port (a device that does not answer, overcurrent, ...) and what to try. Under each\n"
    "device and hub its speed, USB version, device version, current, interfaces, and a\n"
    "note when it runs slower than it can or Windows did not configure it (these it\n"
    "asks of the hub; the launcher does not).\n"
    "The first port with a tool code decides the launch. A device whose ids are in the\n"
    "table but whose device class no flash drive declares (a built-in camera, 0xEF; a\n"
    "Bluetooth radio, 0xE0) is passed over, and its line says so.\n"
    "\n"
    "  --sim FILE   answer the requests from a simulated USB stack described in FILE\n"
    "               (the only choice on systems other than Windows)\n"
    "  --json       print one JSON object: result, toolCode (the launcher's pick, or\n"
    "               null), deviceCount, devices (with speed, usbVersion, deviceVersion,\n"
    "               maxPowerMilliamps, selfPowered, interfaces, speedNote,\n"
    "               connectionStatus, configured, hub), controllers\n"
    "  --trace      with --sim and --json: add every open, request and close\n"
    "  --tools      print the controller families the launcher knows and their tools\n"
    "  --help       this text\n";

std::string Hex4(std::int32_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04x", static_cast<unsigned>(value) & 0xFFFF);
  return text;
}

// The tool the launcher would pick, or why a table row was passed over.
std::string ToolCodeText(const USB_BASIC_ALLINFO& record) {
  if (const ToolRow* row = RecognisedToolRow(record.vendorId, record.productId, record.deviceClass)) {
    return std::to_string(row->toolCode);
  }
  const ToolRow* row = FindToolRow(record.vendorId, record.productId);
  if (row == nullptr) return "none";
  return "none (" + std::to_string(row->toolCode) + " passed over: " + DeviceClassText(record.deviceClass) +
         ", no flash drive)";
}

const char* OutcomeText(ControllerReport::Outcome outcome) {
  switch (outcome) {
    case ControllerReport::Outcome::kWalked: return "walked";
    case ControllerReport::Outcome::kFailed: return "failed";
    case ControllerReport::Outcome::kAlreadyWalked: return "already walked";
  }
  return "";
}

// One line for each controller the scan reached, walked or not.
void PrintControllers() {
  for (const ControllerReport& report : UsbScanState.controllers) {
    std::cout << "controller " << Printable(report.path) << "  ";
    if (report.outcome == ControllerReport::Outcome::kAlreadyWalked) {
      std::cout << "skipped: already walked under another name\n";
      continue;
    }
    std::cout << OutcomeText(report.outcome);
    if (report.number >= 0) std::cout << " as " << report.number;
    if (report.outcome == ControllerReport::Outcome::kFailed) std::cout << ", error " << report.error;
    std::cout << "\n";
  }
}

// The ports of the hub on record `index`: the records right after it one
// level deeper (the walk records every port of a hub it opens, depth first).
int HubPortCount(std::size_t index) {
  const std::string prefix = UsbScanState.devices[index].portPath + "-";
  int count = 0;
  for (std::size_t at = index + 1; at < UsbScanState.devices.size(); ++at) {
    const std::string& path = UsbScanState.devices[at].portPath;
    if (path.compare(0, prefix.size(), prefix) != 0) break;
    if (path.find('-', prefix.size()) == std::string::npos) ++count;
  }
  return count;
}

std::string Ids(std::uint16_t vendorId, std::uint16_t productId) { return Hex4(vendorId) + ":" + Hex4(productId); }

std::string Strings(const std::string& manufacturer, const std::string& product, const std::string& serial) {
  return "\"" + Printable(manufacturer) + "\" \"" + Printable(product) + "\" \"" + Printable(serial) + "\"";
}

// The port's line after its path: what it holds.
std::string PortLine(std::size_t index, const USB_BASIC_ALLINFO& record, const PortFacts& port) {
  if (!Connected(port)) return PortStateText(port);
  if (port.isHub) {
    const int ports = HubPortCount(index);
    return "hub " + Ids(port.idVendor, port.idProduct) + "  " +
           Strings(port.manufacturer, port.product, port.serialNumber) + "  " +
           (ports > 0 ? std::to_string(ports) + " ports" : std::string("not walked: it could not be opened"));
  }
  return Ids(port.idVendor, port.idProduct) + "  " + Strings(record.manufacturer, record.product, record.serialNumber) +
         "  tool " + ToolCodeText(record);
}

void PrintTree(std::uint32_t result, const DetailsCollector& details) {
  PrintControllers();
  std::string controller;
  for (std::size_t index = 0; index < UsbScanState.devices.size(); ++index) {
    const USB_BASIC_ALLINFO& record = UsbScanState.devices[index];
    if (record.controllerPath != controller) {
      controller = record.controllerPath;
      std::cout << Printable(controller) << "  root hub " << Printable(record.rootHubName) << "\n";
    }
    const std::size_t depth = static_cast<std::size_t>(std::count(record.portPath.begin(), record.portPath.end(), '-'));
    const std::string indent(2 * depth + 6, ' ');
    const PortFacts* port = details.PortOf(index);
    std::cout << std::string(2 * depth, ' ') << "|__ " << record.portPath << "  " << PortLine(index, record, *port)
              << "\n";
    if (const DeviceDetails* found = details.Of(index)) {
      for (const std::string& line : DetailLines(*found)) std::cout << indent << line << "\n";
    }
    if (NotConfigured(*port)) std::cout << indent << "note: " << kNotConfiguredNote << "\n";
  }
  std::cout << UsbScanState.deviceCount << " ports; scan result " << result << "\n";
}

// The JSON members of what a port holds beyond the launcher's record.
std::string PortMembers(std::size_t index, const PortFacts& port, const DeviceDetails* found) {
  const bool connected = Connected(port);
  std::string out = ", \"connectionStatus\": " +
                    (port.answered ? "\"" + ConnectionStatusName(port.status) + "\"" : std::string("null")) +
                    ", \"configured\": " +
                    (connected && !port.isHub ? (NotConfigured(port) ? "false" : "true") : "null") + ", \"hub\": ";
  if (!connected || !port.isHub) return out + "null";
  const int ports = HubPortCount(index);
  return out + "{\"vendorId\": " + std::to_string(port.idVendor) + ", \"productId\": " +
         std::to_string(port.idProduct) + ", \"manufacturer\": " + JsonString(port.manufacturer) +
         ", \"product\": " + JsonString(port.product) + ", \"serialNumber\": " + JsonString(port.serialNumber) +
         ", \"portCount\": " + (ports > 0 ? std::to_string(ports) : "null") + DetailMembers(found) + "}";
}

void PrintJson(std::uint32_t result, const DetailsCollector& details, const sim::UsbSimStack* traced) {
  std::ostringstream out;
  const bool recognised = SelectToolCode();  // as the launcher decides
  out << "{\"result\": " << result << ", \"toolCode\": "
      << (recognised ? std::to_string(LauncherState.toolCode) : std::string("null"))
      << ", \"deviceCount\": " << UsbScanState.deviceCount << ", \"devices\": [";
  for (std::size_t i = 0; i < UsbScanState.devices.size(); ++i) {
    const USB_BASIC_ALLINFO& d = UsbScanState.devices[i];
    out << (i ? ", " : "") << "{\"controllerPath\": " << JsonString(d.controllerPath)
        << ", \"rootHubName\": " << JsonString(d.rootHubName) << ", \"portPath\": " << JsonString(d.portPath)
        << ", \"vendorId\": " << d.vendorId << ", \"productId\": " << d.productId
        << ", \"manufacturer\": " << JsonString(d.manufacturer) << ", \"product\": " << JsonString(d.product)
        << ", \"serialNumber\": " << JsonString(d.serialNumber) << ", \"deviceClass\": " << int{d.deviceClass}
        << ", \"deviceSubClass\": " << int{d.deviceSubClass} << ", \"deviceProtocol\": " << int{d.deviceProtocol}
        << DetailMembers(details.PortOf(i)->isHub ? nullptr : details.Of(i))
        << PortMembers(i, *details.PortOf(i), details.Of(i)) << "}";
  }
  out << "], \"controllers\": [";
  for (std::size_t i = 0; i < UsbScanState.controllers.size(); ++i) {
    const ControllerReport& c = UsbScanState.controllers[i];
    out << (i ? ", " : "") << "{\"path\": " << JsonString(c.path) << ", \"byInterface\": "
        << (c.byInterface ? "true" : "false") << ", \"outcome\": \"" << OutcomeText(c.outcome)
        << "\", \"error\": " << c.error << ", \"number\": " << (c.number >= 0 ? std::to_string(c.number) : "null")
        << "}";
  }
  out << "]";
  if (traced != nullptr) {
    out << ", \"trace\": [";
    for (std::size_t i = 0; i < traced->Trace().size(); ++i) {
      const sim::TraceEntry& e = traced->Trace()[i];
      out << (i ? ", " : "") << "{\"op\": \"" << e.op << "\", \"path\": " << JsonString(e.path)
          << ", \"ok\": " << (e.ok ? "true" : "false");
      if (e.op == "ioctl") {
        out << ", \"code\": " << e.code << ", \"size\": " << e.size;
        if (e.hasConnectionIndex) out << ", \"connectionIndex\": " << e.connectionIndex;
        if (e.isDescriptorRequest) {
          out << ", \"wValue\": " << e.wValue << ", \"wIndex\": " << e.wIndex << ", \"wLength\": " << e.wLength;
        }
      }
      out << "}";
    }
    out << "]";
  }
  out << "}\n";
  std::cout << out.str();
}

// The launcher's tool table, as the user text shows it, or as JSON.
void PrintTools(bool json) {
  std::ostringstream out;
  if (json) out << "{\"tools\": [";
  for (std::size_t i = 0; i < ToolRows().size(); ++i) {
    const ToolRow& row = ToolRows()[i];
    const std::string written = row.writtenName + 1;  // without the backslash
    const bool waitedFor = row.after == After::kDeleteAfterWait;
    if (json) {
      out << (i ? ", " : "") << "{\"toolCode\": " << row.toolCode << ", \"vendorId\": " << row.vendorId
          << ", \"productId\": " << (row.productId < 0 ? std::string("null") : std::to_string(row.productId))
          << ", \"entryName\": " << JsonString(row.entryName) << ", \"writtenName\": " << JsonString(written)
          << ", \"launch\": \"" << (row.launch == Launch::kAndWait ? "wait" : "no wait") << "\", \"after\": \""
          << (waitedFor ? "delete after the wait" : "watch the window") << "\"}";
      continue;
    }
    char line[200];
    const std::string ids = Hex4(row.vendorId) + ":" + (row.productId < 0 ? "any" : Hex4(row.productId));
    const char* follows = waitedFor                        ? "waited for, then removed"
                          : row.launch == Launch::kAndWait ? "waited for, then its window watched"
                                                           : "its window watched";
    std::snprintf(line, sizeof(line), "  %-11s entry %-13s written as %-20s  %s", ids.c_str(), row.entryName,
                  written.c_str(), follows);
    std::string text = line;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  }
  if (json) out << "]}\n";
  std::cout << out.str();
}

int Run(const std::vector<ToolArgument>& argv, const Platform& system) {
  const ToolArgument* simFile = nullptr;
  bool json = false, trace = false, tools = false;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string arg = argv[i].text;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--trace") {
      trace = true;
    } else if (arg == "--tools") {
      tools = true;
    } else if (arg == "--sim") {
      if (i + 1 >= argv.size()) throw UsageError{"--sim needs a FILE"};
      simFile = &argv[++i];
    } else {
      throw UsageError{"unknown argument " + arg};
    }
  }
  if (trace && (simFile == nullptr || !json)) throw UsageError{"--trace needs --sim and --json"};
  if (tools) {
    if (simFile != nullptr || trace) throw UsageError{"--tools takes only --json"};
    PrintTools(json);
    return 0;
  }
#ifndef _WIN32
  if (simFile == nullptr) throw UsageError{"this system has no USB stack to scan: use --sim FILE"};
#endif

  std::unique_ptr<sim::UsbSimStack> stack;
  if (simFile != nullptr) {
    const std::string problem = RegularFileProblem(simFile->path);
    if (!problem.empty()) {
      std::cerr << "usbscan: " << simFile->text << ": " << problem << "\n";
      return 1;
    }
    try {
      stack = std::make_unique<sim::UsbSimStack>(sim::UsbSimStack::FromFile(simFile->path, *system.files));
    } catch (const std::exception& error) {
      std::cerr << "usbscan: " << simFile->text << ": " << error.what() << "\n";
      return 1;
    }
    SetPlatform(sim::WithSimulatedStack(system, *stack));
  }
  DetailsCollector details;
  const std::uint32_t result = ScanUsbDevices(&details);
  if (json) {
    PrintJson(result, details, trace ? stack.get() : nullptr);
  } else {
    PrintTree(result, details);
  }
  return 0;
}

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
  const qm::Platform system = qm::UseToolPlatform();
  try {
    return qm::Run(qm::ToolArguments(argc, argv), system);
  } catch (const qm::UsageError& error) {
    return qm::ReportUsageError("usbscan", error, qm::kUsage);
  } catch (const std::exception& error) {  // out of memory, or a stream that failed
    std::cerr << "usbscan: " << error.what() << "\n";
    return 1;
  }
}
