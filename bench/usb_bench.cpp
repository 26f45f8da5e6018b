// USB scan benchmark over the simulated stack: time and number of requests
// for a machine with 10 controllers and 32,767 ports in all, and for a
// realistic one. The requests counted are set beside what the walk needs:
// per controller 2 (driver key, root hub name) + 1 (root hub node
// information); per port 1 (connection information); per external hub 2
// (connection name, node information); per device with strings 1 language
// list + 1 per string.
//
// usb_bench [REALISTIC.json]
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/host/HostPlatform.h"
#include "usb/UsbScan.h"
#include "usbsim/UsbSim.h"

namespace {

struct Expected {
  long requests = 0;
  long opens = 0;
};

void CountHub(const qm::sim::Hub& hub, Expected* expected) {
  expected->requests += 1;  // node information
  for (int port = 0; port < hub.numberOfPorts; ++port) {
    expected->requests += 1;  // connection information
    if (port >= static_cast<int>(hub.ports.size())) continue;
    const qm::sim::Port& p = hub.ports[static_cast<std::size_t>(port)];
    if (p.hub) {
      expected->requests += 1;  // connection name
      expected->opens += 1;
      CountHub(*p.hub, expected);
    } else if (p.device) {
      const int strings = (p.device->iManufacturer != 0) + (p.device->iProduct != 0) + (p.device->iSerialNumber != 0);
      if (strings > 0) expected->requests += 1 + strings;
    }
  }
}

void Bench(const char* label, qm::sim::UsbSimStack stack) {
  Expected expected;
  long seenAgain = 0;  // walked by name, then met again through its interface
  for (const qm::sim::Controller& controller : stack.Controllers()) {
    expected.requests += 2;
    expected.opens += 2;  // the controller and its root hub
    CountHub(*controller.rootHub, &expected);
    if (controller.number >= 0 && controller.listedAsInterface) ++seenAgain;
  }
  // The interface pass: one open, one driver key request and one close for
  // each controller already walked.
  expected.requests += seenAgain;
  expected.opens += seenAgain;
  qm::SetPlatform(qm::sim::WithSimulatedStack(qm::HostRoles(), stack));
  qm::ResetUsbScanState();
  const auto start = std::chrono::steady_clock::now();
  qm::ScanUsbDevices();
  const double ms = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e3;
  long opens = 0, requests = 0, closes = 0;
  for (const qm::sim::TraceEntry& entry : stack.Trace()) {
    if (entry.op == "open" && entry.ok) ++opens;
    if (entry.op == "ioctl") ++requests;
    if (entry.op == "close") ++closes;
  }
  std::printf("%-34s %6d ports  %8.2f ms  %7ld requests (needed %7ld)  %5ld opens (needed %5ld), %5ld closes;"
              " interface pass: %ld of each\n",
              label, qm::UsbScanState.deviceCount, ms, requests, expected.requests, opens, expected.opens, closes,
              seenAgain);
  qm::SetPlatform({});
}

std::string BigMachine() {
  // 10 controllers; 32,767 ports in all: each root hub has 13 hubs of 251
  // ports (7 of them 252), 130 root ports and 32,637 hub ports.
  std::string json = "{\"controllers\": [";
  long ports = 0;
  for (int number = 0; number < 10; ++number) {
    json += std::string(number ? "," : "") + "{\"number\": " + std::to_string(number) + ", \"rootHub\": {\"ports\": [";
    for (int hub = 0; hub < 13; ++hub) {
      const int portsOfHub = (number == 0 && hub < 7) ? 252 : 251;
      json += std::string(hub ? "," : "") + "{\"hub\": {\"name\": \"H" + std::to_string(number) + "_" +
              std::to_string(hub) + "\", \"numberOfPorts\": " + std::to_string(portsOfHub) + "}}";
      ports += 1 + portsOfHub;
    }
    json += "]}}";
  }
  json += "]}";
  if (ports != 32767) std::fprintf(stderr, "big machine: %ld ports described, not 32767\n", ports);
  return json;
}

}  // namespace

int main(int argc, char** argv) {
  Bench("10 controllers, 32,767 ports:", qm::sim::UsbSimStack::FromJson(BigMachine()));
  if (argc > 1) Bench("realistic (2 controllers, 2 hubs):", qm::sim::UsbSimStack::FromFile(qm::WidePathFromUtf8(argv[1]), *qm::HostRoles().files));
  return 0;
}
