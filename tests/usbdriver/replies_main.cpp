// usbsim-replies DESCRIPTION: the raw replies of the simulated stack to the
// requests a Windows USB viewer sends about each hub and each of its ports,
// as one JSON list, for holding against replies captured on real Windows
// (tests/data/usb/windows-replies). Every hub is asked what the documented
// client (tests/winhelpers/usb_client.c) asks, with the same buffers:
// connector properties, _EX_V2 (Length 16, Usb300 set), _EX with room for
// 30 pipes, the configuration descriptor, the device qualifier and the
// other-speed configuration.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "usb/UsbIoctl.h"
#include "usbsim/UsbSim.h"

namespace {

namespace usb = qm::usb;
using qm::sim::Hub;
using qm::sim::UsbSimStack;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }  // ASCII names

class Replies {
 public:
  explicit Replies(UsbSimStack& stack) : stack_(stack) {}

  void Walk(const std::u16string& name, const Hub& hub) {
    const qm::Handle handle = stack_.Open("\\\\.\\" + Narrow(name));
    if (handle == qm::kInvalidHandle) return;
    out_ << (first_ ? "" : ",\n") << "{\"hub\": \"" << Narrow(name) << "\"";
    first_ = false;
    Ask(handle, "node", usb::kIoctlGetNodeInformation, std::vector<std::uint8_t>(usb::kNodeInfoSize, 0));
    Ask(handle, "information", usb::kIoctlGetHubInformationEx, std::vector<std::uint8_t>(usb::kHubInfoExSize, 0));
    Ask(handle, "capabilities", usb::kIoctlGetHubCapabilitiesEx,
        std::vector<std::uint8_t>(usb::kHubCapabilitiesSize, 0));
    out_ << "}";
    for (std::uint32_t port = 1; port <= static_cast<std::uint32_t>(hub.numberOfPorts); ++port) {
      out_ << ",\n{\"hub\": \"" << Narrow(name) << "\", \"port\": " << port;
      Ask(handle, "connector", usb::kIoctlGetPortConnectorProperties, Indexed(port, 512));  // room for the name
      std::vector<std::uint8_t> v2 = Indexed(port, usb::kConnectionV2Size);
      usb::Write32(&v2[usb::kConnectionV2Length], usb::kConnectionV2Size);
      usb::Write32(&v2[usb::kConnectionV2Protocols], usb::kProtocolUsb300);  // as the client must set it
      Ask(handle, "v2", usb::kIoctlGetNodeConnectionInformationExV2, v2);
      Ask(handle, "connection", usb::kIoctlGetNodeConnectionInformationEx,
          Indexed(port, usb::kConnectionInfoFixedSize + 30 * usb::kPipeInfoSize));
      Ask(handle, "configuration", usb::kIoctlGetDescriptorFromNodeConnection,
          Descriptor(port, usb::kConfigurationDescriptorValue, 4096), usb::kDescriptorData);
      Ask(handle, "qualifier", usb::kIoctlGetDescriptorFromNodeConnection,
          Descriptor(port, usb::kQualifierDescriptorValue, 10), usb::kDescriptorData);
      Ask(handle, "otherSpeed", usb::kIoctlGetDescriptorFromNodeConnection,
          Descriptor(port, usb::kOtherSpeedDescriptorValue, 4096), usb::kDescriptorData);
      out_ << "}";
    }
    stack_.Close(handle);
    for (const qm::sim::Port& port : hub.ports) {
      if (port.hub) Walk(port.name, *port.hub);
    }
  }
  std::string Text() const { return "[" + out_.str() + "]\n"; }

 private:
  static std::vector<std::uint8_t> Indexed(std::uint32_t port, std::size_t size) {
    std::vector<std::uint8_t> buffer(size, 0);
    usb::Write32(&buffer[usb::kConnectionIndex], port);
    return buffer;
  }
  static std::vector<std::uint8_t> Descriptor(std::uint32_t port, std::uint16_t value, std::uint16_t length) {
    std::vector<std::uint8_t> buffer = Indexed(port, usb::kDescriptorData + length);
    buffer[usb::kSetupRequestType] = usb::kRequestTypeDeviceToHost;
    buffer[usb::kSetupRequest] = usb::kRequestGetDescriptor;
    usb::Write16(&buffer[usb::kSetupValue], value);
    usb::Write16(&buffer[usb::kSetupLength], length);
    return buffer;
  }
  // The reply from `skip` on as hex, or the request's error.
  void Ask(qm::Handle hub, const char* key, std::uint32_t code, std::vector<std::uint8_t> buffer,
           std::uint32_t skip = 0) {
    out_ << ", \"" << key << "\": ";
    if (!stack_.Request(hub, code, buffer.data(), static_cast<std::uint32_t>(buffer.size()))) {
      out_ << "{\"error\": " << stack_.LastError() << "}";
      return;
    }
    out_ << "\"";
    char digits[3];
    for (std::uint32_t i = skip; i < stack_.LastInformation() && i < buffer.size(); ++i) {
      std::snprintf(digits, sizeof(digits), "%02x", buffer[i]);
      out_ << digits;
    }
    out_ << "\"";
  }

  UsbSimStack& stack_;
  std::ostringstream out_;
  bool first_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: usbsim-replies DESCRIPTION\n";
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) throw std::runtime_error("cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    UsbSimStack stack = UsbSimStack::FromJson(text.str());
    Replies replies(stack);
    for (const qm::sim::Controller& controller : stack.Controllers()) {
      if (controller.rootHub && controller.rootHubNameError == 0) replies.Walk(controller.rootHubName, *controller.rootHub);
    }
    std::cout << replies.Text();
  } catch (const std::exception& error) {
    std::cerr << "usbsim-replies: " << argv[1] << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
