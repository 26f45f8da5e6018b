// Asks the simulated stack every question the walk can put to a driver and
// writes the answers down for the test USB driver.
#include "usbsim/DriverAnswers.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "tests/usbdriver/AnswerFormat.h"
#include "usb/UsbIoctl.h"
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

// --- asking the stack ---

// Room for the longest reply: a descriptor request's header and 65535 bytes.
constexpr std::uint32_t kFullSize = usb::kDescriptorData + 65535;
constexpr std::uint32_t kUnknownCode = 0x00220000;  // FILE_DEVICE_USB, function 0: no request of the stack

// What picks one answer of a request from another: the buffer's first word
// (a port, a user request's code) and a masked word at `valueAt`.
struct Key {
  std::uint32_t index = QM_ANSWER_ANY;
  std::uint32_t valueAt = 0;
  std::uint32_t valueMask = 0;
  std::uint32_t value = QM_ANSWER_ANY;
};

struct Question {
  std::uint32_t code;
  Key key;
};

struct Reply {
  std::uint32_t status = 0;
  std::vector<std::uint8_t> bytes;  // the whole reply from the buffer's start
  bool operator==(const Reply& other) const { return status == other.status && bytes == other.bytes; }
};

std::uint32_t StatusOf(std::uint32_t error) {
  std::uint32_t status = 0;
  if (!NtStatusOf(error, &status)) throw std::logic_error("the simulated stack failed with error " + std::to_string(error));
  return status;
}

// The caller's bytes that a reply leaves as they were: its inputs.
std::uint32_t KeptBytes(const Question& q) {
  switch (q.code) {
    case usb::kIoctlGetDescriptorFromNodeConnection: return 0xFFF;  // index and setup packet
    case usb::kIoctlGetNodeConnectionInformationExV2: return 0xFF;  // index and Length
    case usb::kIoctlUsbUserRequest:
      // The request's code and RequestBufferLength; a power state map's SystemState.
      return q.key.index == usb::kUserGetPowerStateMap ? 0xF0F0F : 0xF0F;
    case usb::kIoctlGetNodeConnectionInformation:
    case usb::kIoctlGetNodeConnectionInformationEx:
    case usb::kIoctlGetNodeConnectionName:
    case usb::kIoctlGetNodeConnectionDriverkeyName:
    case usb::kIoctlGetPortConnectorProperties:
      return 0xF;  // the connection index
    default:
      return 0;
  }
}

// The reply a smaller buffer gets when the stack answers it as the whole
// one, cut at the buffer's end.
Reply Cut(const Reply& whole, std::uint32_t size) {
  Reply cut = whole;
  if (cut.status == 0 && cut.bytes.size() > size) cut.bytes.resize(size);
  return cut;
}

class Asker {
 public:
  Asker(UsbSimStack& stack, Handle handle) : stack_(stack), handle_(handle), buffer_(kFullSize) {}

  // Asks in a buffer of `size` bytes whose bytes the question does not set
  // are `fill`.
  Reply Ask(const Question& q, std::uint32_t size, std::uint8_t fill = 0) {
    std::fill(buffer_.begin(), buffer_.begin() + size, fill);
    std::uint8_t sent[32] = {};
    // The inputs: what the question sets, and every byte the reply keeps.
    const std::uint32_t inputs = Compose(q, sent) | KeptBytes(q);
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(32, size); ++i) {
      if ((inputs >> i) & 1) buffer_[i] = sent[i];
    }
    Reply reply;
    if (stack_.Request(handle_, q.code, buffer_.data(), size)) {
      const std::uint32_t filled = std::min(stack_.LastInformation(), size);
      reply.bytes.assign(buffer_.begin(), buffer_.begin() + filled);
    } else {
      reply.status = StatusOf(stack_.LastError());
    }
    return reply;
  }

  // The whole reply, checked: whatever the caller's other bytes were, the
  // stack writes every byte of its reply that is not an input.
  Reply Whole(const Question& q) {
    Reply zeros = Ask(q, kFullSize, 0x00);
    const Reply ones = Ask(q, kFullSize, 0xFF);
    bool same = zeros.status == ones.status && zeros.bytes.size() == ones.bytes.size();
    const std::uint32_t kept = KeptBytes(q);
    for (std::size_t i = 0; same && i < zeros.bytes.size(); ++i) {
      same = (i < 32 && ((kept >> i) & 1)) || zeros.bytes[i] == ones.bytes[i];
    }
    if (!same) throw std::logic_error("the simulated stack leaves part of a reply to " + std::to_string(q.code) +
                                      " as the caller's buffer had it");
    return zeros;
  }

  // The answers to `q`, one for each range of buffer sizes that the stack
  // answers alike (the largest first), each found by halving: within a
  // range every buffer gets the range's largest reply, cut to its size.
  void Answers(const Question& q, std::vector<QmAnswer>* answers, std::vector<std::uint8_t>* bytes) {
    std::uint32_t size = kFullSize;
    Reply reply = Whole(q);
    for (;;) {
      std::uint32_t low = 0, high = size;
      while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (Ask(q, middle) == Cut(reply, middle)) {
          high = middle;
        } else {
          low = middle + 1;
        }
      }
      answers->push_back(AnswerOf(q, reply, low, bytes));
      if (low == 0) return;
      size = low - 1;
      reply = Ask(q, size);
    }
  }

 private:
  // What a caller sets for the question in the buffer's first 32 bytes:
  // the index, and the value where the request reads it (a descriptor's
  // setup packet asks for all of it). Returns a mask of the bytes set.
  static std::uint32_t Compose(const Question& q, std::uint8_t* sent) {
    std::uint32_t set = 0;
    if (q.key.index != QM_ANSWER_ANY) {
      usb::Write32(sent, q.key.index);
      set |= 0xF;
    }
    const std::uint32_t value = q.key.value == QM_ANSWER_ANY ? 0 : q.key.value;
    if (q.code == usb::kIoctlGetDescriptorFromNodeConnection) {
      sent[usb::kSetupRequestType] = usb::kRequestTypeDeviceToHost;
      sent[usb::kSetupRequest] = usb::kRequestGetDescriptor;
      usb::Write16(sent + usb::kSetupValue, static_cast<std::uint16_t>(value));
      usb::Write16(sent + usb::kSetupIndex, (value & 0xFF) != 0 ? 1033 : 0);
      usb::Write16(sent + usb::kSetupLength, 0xFFFF);  // the whole descriptor; the driver cuts it
      set |= 0xFF0;
    } else if (q.key.valueMask != 0 && q.key.valueAt + 4 <= 32) {
      usb::Write32(sent + q.key.valueAt, value);
      set |= 0xFu << q.key.valueAt;
    }
    if (q.code == usb::kIoctlGetNodeConnectionInformationExV2) {
      usb::Write32(sent + usb::kConnectionV2Length, usb::kConnectionV2Size);
      set |= 0xF0;
    }
    return set;
  }

  QmAnswer AnswerOf(const Question& q, const Reply& reply, std::uint32_t minSize, std::vector<std::uint8_t>* bytes) {
    QmAnswer answer = {};
    answer.code = q.code;
    answer.index = q.key.index;
    answer.valueAt = q.key.valueAt;
    answer.valueMask = q.key.valueMask;
    answer.value = q.key.value;
    answer.minSize = minSize;
    answer.status = reply.status;
    answer.keepMask = KeptBytes(q);
    answer.dataAt = q.code == usb::kIoctlGetDescriptorFromNodeConnection ? usb::kDescriptorData : 0;
    answer.length = static_cast<std::uint32_t>(reply.bytes.size());
    answer.bytesAt = static_cast<std::uint32_t>(bytes->size());
    bytes->insert(bytes->end(), reply.bytes.begin(), reply.bytes.end());
    while (bytes->size() % 4 != 0) bytes->push_back(0);
    return answer;
  }

  UsbSimStack& stack_;
  Handle handle_;
  std::vector<std::uint8_t> buffer_;
};

// How the answers of one request code are keyed: by index (ports, user
// request codes), and for each index by values of a word of the buffer.
struct Plan {
  std::uint32_t code;
  std::vector<std::uint32_t> indices;  // none: the request has no index
  std::uint32_t valueAt = 0, valueMask = 0;
  std::vector<std::uint32_t> (*valuesFor)(std::uint32_t index) = nullptr;
};

std::vector<std::uint32_t> DescriptorValues(std::uint32_t) {
  std::vector<std::uint32_t> values{0x0100, usb::kConfigurationDescriptorValue, usb::kQualifierDescriptorValue,
                                    usb::kBosDescriptorValue};
  for (std::uint32_t string = 0; string <= 0xFF; ++string) values.push_back(usb::kStringDescriptorValue | string);
  return values;
}

std::vector<std::uint32_t> AskingForUsb3(std::uint32_t) { return {usb::kProtocolUsb300}; }

std::vector<std::uint32_t> PowerStates(std::uint32_t request) {
  if (request != usb::kUserGetPowerStateMap) return {};
  return {101, 102, 103, 104, 105, 106};  // WdmUsbPowerSystemWorking to ...Shutdown
}

std::vector<std::uint32_t> Range(std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint32_t> numbers;
  for (std::uint32_t n = first; n <= last; ++n) numbers.push_back(n);
  return numbers;
}

std::vector<Plan> PlansFor(std::uint32_t ports) {
  const std::vector<std::uint32_t> all = Range(1, ports);
  return {
      {usb::kIoctlGetHcdDriverkeyName, {}},
      {usb::kIoctlGetRootHubName, {}},  // a hub's node information shares the code
      {usb::kIoctlGetHubInformationEx, {}},
      {usb::kIoctlGetHubCapabilities, {}},
      {usb::kIoctlGetHubCapabilitiesEx, {}},
      {usb::kIoctlUsbUserRequest,
       {usb::kUserGetControllerInfo0, usb::kUserGetControllerDriverKey, usb::kUserGetPowerStateMap,
        usb::kUserGetRootHubSymbolicName},
       usb::kUserHeaderSize, 0xFFFFFFFF, PowerStates},
      {usb::kIoctlGetNodeConnectionInformation, all},
      {usb::kIoctlGetNodeConnectionInformationEx, all},
      {usb::kIoctlGetNodeConnectionInformationExV2, all, usb::kConnectionV2Protocols, usb::kProtocolUsb300,
       AskingForUsb3},
      {usb::kIoctlGetNodeConnectionName, all},
      {usb::kIoctlGetNodeConnectionDriverkeyName, all},
      {usb::kIoctlGetPortConnectorProperties, all},
      {usb::kIoctlGetDescriptorFromNodeConnection, all, usb::kSetupValue, 0xFFFF, DescriptorValues},
  };
}

// Every question a client can send to one open name, most specific first
// (a specific question answered as its fallback is left out), and last the
// answer to every other code.
std::vector<QmAnswer> AnswersOf(UsbSimStack& stack, Handle handle, std::vector<std::uint8_t>* bytes) {
  Asker asker(stack, handle);
  std::vector<QmAnswer> answers;
  // A hub's ports, even those of a hub that does not answer about itself.
  const Hub* hub = stack.HubOf(handle);
  for (const Plan& plan : PlansFor(hub != nullptr ? static_cast<std::uint32_t>(hub->numberOfPorts) : 0)) {
    // The fallbacks ask with no such index (0) and no such value (0).
    const Key none{plan.indices.empty() ? QM_ANSWER_ANY : 0, plan.valueAt, plan.valueMask,
                   plan.valueMask != 0 ? 0 : QM_ANSWER_ANY};
    const Question fallback{plan.code, none};
    const Reply codeReply = asker.Whole(fallback);
    for (std::uint32_t index : plan.indices) {
      const Question indexFallback{plan.code, {index, plan.valueAt, plan.valueMask, none.value}};
      const Reply indexReply = asker.Whole(indexFallback);
      const std::vector<std::uint32_t> values = plan.valuesFor != nullptr ? plan.valuesFor(index)
                                                                          : std::vector<std::uint32_t>();
      for (std::uint32_t value : values) {
        const Question q{plan.code, {index, plan.valueAt, plan.valueMask, value}};
        if (!(asker.Whole(q) == indexReply)) asker.Answers(q, &answers, bytes);
      }
      if (!(indexReply == codeReply)) asker.Answers({plan.code, {index, 0, 0, QM_ANSWER_ANY}}, &answers, bytes);
    }
    asker.Answers({plan.code, {QM_ANSWER_ANY, 0, 0, QM_ANSWER_ANY}}, &answers, bytes);
  }
  const std::size_t first = answers.size();
  asker.Answers({kUnknownCode, {}}, &answers, bytes);
  for (std::size_t i = first; i < answers.size(); ++i) answers[i].code = QM_ANSWER_ANY;
  return answers;
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
