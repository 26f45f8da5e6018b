// Asking the simulated stack every question a client can put to one open
// name, and the answers the test USB driver serves from them.
#include "usbsim/AnswerAsking.h"

#include <algorithm>
#include <stdexcept>

#include "usb/UsbIoctl.h"
#include "usbsim/DriverAnswers.h"

namespace qm::sim {

std::uint32_t StatusOf(std::uint32_t error) {
  std::uint32_t status = 0;
  if (!NtStatusOf(error, &status)) throw std::logic_error("the simulated stack failed with error " + std::to_string(error));
  return status;
}

namespace {

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
    // A hub that zeroes an empty port's reply does not echo its index.
    if ((answer.keepMask & 0xF) != 0 && q.key.index != QM_ANSWER_ANY && reply.bytes.size() >= 4 &&
        usb::Read32(reply.bytes.data()) != q.key.index) {
      answer.keepMask &= ~0xFu;
    }
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
                                    usb::kOtherSpeedDescriptorValue, usb::kBosDescriptorValue};
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

}  // namespace

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

}  // namespace qm::sim
