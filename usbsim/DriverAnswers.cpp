// The test USB driver's answer file: what a driver cannot serve refused
// with its place, every name the walk can open asked of the simulated stack
// (usbsim/AnswerAsking.cpp), and the answers written down.
#include "usbsim/DriverAnswers.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "tests/usbdriver/AnswerFormat.h"
#include "usb/UsbIoctl.h"
#include "usbsim/AnswerAsking.h"
#include "usbsim/UsbSim.h"

namespace qm::sim {

namespace {

struct StatusMapping {
  std::uint32_t error;
  std::uint32_t status;
};

// Each status here is one that Windows's RtlNtStatusToDosError turns into
// the error beside it (and so GetLastError reads it after a failed
// CreateFile or DeviceIoControl).
constexpr StatusMapping kStatuses[] = {
    {1, 0xC0000010},     // STATUS_INVALID_DEVICE_REQUEST -> ERROR_INVALID_FUNCTION
    {2, 0xC0000034},     // STATUS_OBJECT_NAME_NOT_FOUND -> ERROR_FILE_NOT_FOUND
    {3, 0xC000003A},     // STATUS_OBJECT_PATH_NOT_FOUND -> ERROR_PATH_NOT_FOUND
    {5, 0xC0000022},     // STATUS_ACCESS_DENIED -> ERROR_ACCESS_DENIED
    {6, 0xC0000008},     // STATUS_INVALID_HANDLE -> ERROR_INVALID_HANDLE
    {8, 0xC0000017},     // STATUS_NO_MEMORY -> ERROR_NOT_ENOUGH_MEMORY
    {21, 0xC00000A3},    // STATUS_DEVICE_NOT_READY -> ERROR_NOT_READY
    {22, 0xC0000184},    // STATUS_INVALID_DEVICE_STATE -> ERROR_BAD_COMMAND
    {23, 0xC000003F},    // STATUS_CRC_ERROR -> ERROR_CRC
    {31, 0xC0000001},    // STATUS_UNSUCCESSFUL -> ERROR_GEN_FAILURE
    {32, 0xC0000043},    // STATUS_SHARING_VIOLATION -> ERROR_SHARING_VIOLATION
    {50, 0xC00000BB},    // STATUS_NOT_SUPPORTED -> ERROR_NOT_SUPPORTED
    {87, 0xC000000D},    // STATUS_INVALID_PARAMETER -> ERROR_INVALID_PARAMETER
    {121, 0xC00000B5},   // STATUS_IO_TIMEOUT -> ERROR_SEM_TIMEOUT
    {122, 0xC0000023},   // STATUS_BUFFER_TOO_SMALL -> ERROR_INSUFFICIENT_BUFFER
    {995, 0xC0000120},   // STATUS_CANCELLED -> ERROR_OPERATION_ABORTED
    {1117, 0xC0000185},  // STATUS_IO_DEVICE_ERROR -> ERROR_IO_DEVICE
    {1167, 0xC000009D},  // STATUS_DEVICE_NOT_CONNECTED -> ERROR_DEVICE_NOT_CONNECTED
};

[[noreturn]] void Refuse(const std::string& place, const std::string& what) {
  throw std::runtime_error(place + ": " + what);
}

// --- what a driver cannot serve, refused with its place ---

void CheckError(std::uint32_t error, const std::string& place) {
  std::uint32_t status = 0;
  if (error != 0 && !NtStatusOf(error, &status)) {
    Refuse(place, "error " + std::to_string(error) + " is not one the test driver can return (no NTSTATUS maps to it)");
  }
}

// The system opens a name case-insensitively and as UTF-16 in its object
// manager, where a backslash separates directories.
std::string Folded(const std::u16string& name) {
  std::string folded;
  for (char16_t unit : name) folded += static_cast<char>(unit >= u'a' && unit <= u'z' ? unit - 32 : unit);
  return folded;
}

void CheckHubName(const std::u16string& name, const std::string& place, std::map<std::string, std::u16string>* seen) {
  if (name.empty() || name.size() > QM_MAX_NAME_UNITS) {
    Refuse(place, "a hub name the test driver serves has 1 to " + std::to_string(QM_MAX_NAME_UNITS) + " characters");
  }
  for (char16_t unit : name) {
    if (unit < 0x21 || unit > 0x7E || unit == u'\\' || unit == u'/') {
      Refuse(place, "a hub name the test driver serves is printable ASCII without a space, \\ or /");
    }
  }
  const std::string folded = Folded(name);
  const bool controllerName = folded.size() == 4 && folded.compare(0, 3, "HCD") == 0 && folded[3] >= '0' &&
                              folded[3] <= '9';
  if (controllerName || folded == "QMUSBSIMCONTROL") Refuse(place, "the system already has that name");
  auto found = seen->find(folded);
  // The same name twice reaches the first hub, as in the simulated stack;
  // two names that differ only in case are one name to the system.
  if (found != seen->end() && found->second != name) Refuse(place, "differs from another hub's name only in case");
  seen->emplace(folded, name);
}

void CheckHub(const Hub& hub, const std::string& place, std::map<std::string, std::u16string>* names) {
  CheckError(hub.openError, place + ".openError");
  CheckError(hub.nodeInfoError, place + ".nodeInfoError");
  for (std::size_t i = 0; i < hub.ports.size(); ++i) {
    const Port& port = hub.ports[i];
    const std::string at = place + ".ports[" + std::to_string(i) + "]";
    CheckError(port.connectionInfoError, at + ".connectionInfoError");
    if (port.device) CheckError(port.device->descriptorError, at + (port.hub ? ".hub" : "") + ".device.descriptorError");
    if (!port.hub) continue;
    CheckError(port.nameError, at + ".hub.nameError");
    CheckHubName(port.name, at + ".hub.name", names);
    CheckHub(*port.hub, at + ".hub", names);
  }
}

void CheckServable(UsbSimStack& stack) {
  std::map<std::string, std::u16string> names;
  std::size_t interfaces = 0;
  for (std::size_t i = 0; i < stack.Controllers().size(); ++i) {
    const Controller& controller = stack.Controllers()[i];
    const std::string at = "controllers[" + std::to_string(i) + "]";
    if (controller.listedAsInterface && ++interfaces > QM_MAX_INTERFACES) {
      Refuse(at + ".interface", "the test driver lists at most " + std::to_string(QM_MAX_INTERFACES) + " interfaces");
    }
    CheckError(controller.interfaceOpenError, at + ".interfaceOpenError");
    CheckError(controller.driverKeyError, at + ".driverKeyError");
    CheckError(controller.rootHubNameError, at + ".rootHubNameError");
    CheckHubName(controller.rootHubName, at + ".rootHubName", &names);
    CheckHub(*controller.rootHub, at + ".rootHub", &names);
  }
}

// --- writing the file ---

void Put32(std::vector<std::uint8_t>* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutUnits(std::vector<std::uint8_t>* out, const std::u16string& text) {
  for (char16_t unit : text) {
    out->push_back(static_cast<std::uint8_t>(unit));
    out->push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (text.size() % 2 != 0) {
    out->push_back(0);
    out->push_back(0);
  }
}

struct Compiled {
  std::vector<std::pair<QmName, std::u16string>> names;
  std::vector<QmInterface> interfaces;
  std::vector<QmNode> nodes;
  std::vector<QmAnswer> answers;
  std::vector<std::uint8_t> bytes;

  // Opens `path` in the stack; returns the node its answers are under, or
  // QM_ANSWER_ANY when the open fails (with *openStatus).
  std::uint32_t NodeFor(UsbSimStack& stack, const std::string& path, std::uint32_t* openStatus) {
    const Handle handle = stack.Open(path);
    if (handle == kInvalidHandle) {
      *openStatus = StatusOf(stack.LastError());
      return QM_ANSWER_ANY;
    }
    *openStatus = 0;
    std::vector<QmAnswer> found = AnswersOf(stack, handle, &bytes);
    stack.Close(handle);
    nodes.push_back({static_cast<std::uint32_t>(answers.size()), static_cast<std::uint32_t>(found.size())});
    answers.insert(answers.end(), found.begin(), found.end());
    return static_cast<std::uint32_t>(nodes.size() - 1);
  }

  void AddName(UsbSimStack& stack, const std::u16string& name) {
    QmName entry = {};
    entry.node = NodeFor(stack, "\\\\.\\" + std::string(name.begin(), name.end()), &entry.openStatus);
    entry.units = static_cast<std::uint32_t>(name.size());
    names.push_back({entry, name});
  }
};

void AddHubNames(const Hub& hub, std::vector<std::u16string>* names) {
  for (const Port& port : hub.ports) {
    if (!port.hub) continue;
    names->push_back(port.name);
    AddHubNames(*port.hub, names);
  }
}

std::vector<std::uint8_t> Write(const Compiled& compiled, const std::u16string& tracePath) {
  std::vector<std::uint8_t> out;
  Put32(&out, QM_ANSWERS_MAGIC);
  Put32(&out, QM_ANSWERS_VERSION);
  Put32(&out, static_cast<std::uint32_t>(compiled.names.size()));
  Put32(&out, static_cast<std::uint32_t>(compiled.interfaces.size()));
  Put32(&out, static_cast<std::uint32_t>(compiled.nodes.size()));
  Put32(&out, static_cast<std::uint32_t>(compiled.answers.size()));
  const std::size_t bytesOffsetAt = out.size();
  Put32(&out, 0);
  Put32(&out, static_cast<std::uint32_t>(compiled.bytes.size()));
  Put32(&out, static_cast<std::uint32_t>(tracePath.size()));
  PutUnits(&out, tracePath);
  for (const auto& [name, text] : compiled.names) {
    Put32(&out, name.node);
    Put32(&out, name.openStatus);
    Put32(&out, name.units);
    PutUnits(&out, text);
  }
  for (const QmInterface& item : compiled.interfaces) {
    Put32(&out, item.node);
    Put32(&out, item.openStatus);
  }
  for (const QmNode& node : compiled.nodes) {
    Put32(&out, node.firstAnswer);
    Put32(&out, node.answerCount);
  }
  for (const QmAnswer& a : compiled.answers) {
    for (std::uint32_t word : {a.code, a.index, a.valueAt, a.valueMask, a.value, a.minSize, a.status, a.keepMask,
                               a.dataAt, a.length, a.bytesAt}) {
      Put32(&out, word);
    }
  }
  const auto bytesOffset = static_cast<std::uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[bytesOffsetAt + i] = static_cast<std::uint8_t>(bytesOffset >> (8 * i));
  out.insert(out.end(), compiled.bytes.begin(), compiled.bytes.end());
  return out;
}

}  // namespace

bool NtStatusOf(std::uint32_t error, std::uint32_t* status) {
  for (const StatusMapping& mapping : kStatuses) {
    if (mapping.error == error) {
      *status = mapping.status;
      return true;
    }
  }
  return false;
}

std::vector<std::uint32_t> ServableErrors() {
  std::vector<std::uint32_t> errors;
  for (const StatusMapping& mapping : kStatuses) errors.push_back(mapping.error);
  return errors;
}

std::vector<std::uint8_t> CompileDriverAnswers(const std::string& description, const std::u16string& tracePath) {
  UsbSimStack stack = UsbSimStack::FromJson(description);
  CheckServable(stack);
  Compiled compiled;
  for (int number = 0; number <= 9; ++number) {
    const std::string name = "HCD" + std::to_string(number);
    const Handle probe = stack.Open("\\\\.\\" + name);
    if (probe == kInvalidHandle) continue;  // no such name: the system says "not found" as the stack does
    stack.Close(probe);
    compiled.AddName(stack, std::u16string(name.begin(), name.end()));
  }
  std::vector<std::u16string> hubNames;
  for (const Controller& controller : stack.Controllers()) {
    hubNames.push_back(controller.rootHubName);
    AddHubNames(*controller.rootHub, &hubNames);
  }
  std::map<std::u16string, bool> served;
  for (const std::u16string& name : hubNames) {
    if (served.emplace(name, true).second) compiled.AddName(stack, name);
  }
  const Handle list = stack.OpenInterfaceList(kGuidDevinterfaceUsbHostController);
  DeviceInterfaceData data;
  for (std::uint32_t index = 0; stack.InterfaceAt(list, index, &data); ++index) {
    std::string path;
    stack.InterfacePath(list, data, &path);
    QmInterface item = {};
    item.node = compiled.NodeFor(stack, path, &item.openStatus);
    // Wine opens a device interface even when its driver fails the open: an
    // interface that cannot be opened is not listed, which the walk skips
    // alike.
    if (item.openStatus == 0) compiled.interfaces.push_back(item);
  }
  stack.CloseInterfaceList(list);
  return Write(compiled, tracePath);
}

}  // namespace qm::sim
