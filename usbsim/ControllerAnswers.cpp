// A host controller's answers: its driver key and root hub names, and the
// user-mode requests of IOCTL_USB_USER_REQUEST.
#include <cstring>

#include "usb/UsbIoctl.h"
#include "usbsim/Answers.h"

namespace qm::sim {

namespace {

using win::kErrorInvalidFunction;
using win::kErrorInvalidParameter;

// WDMUSB_POWER_STATE values.
constexpr std::uint32_t kSystemWorking = 101, kSystemSleeping3 = 104, kSystemShutdown = 106;
constexpr std::uint32_t kDeviceD0 = 201, kDeviceD2 = 203, kDeviceD3 = 204;

void PutHeader(std::uint8_t* buffer, std::uint32_t status, std::uint32_t actual) {
  usb::Write32(buffer + usb::kUserStatusCode, status);
  usb::Write32(buffer + usb::kUserActualBufferLength, actual);
}

// The header alone, when the request's own part does not fit or is refused.
Outcome HeaderOnly(std::uint8_t* buffer, std::uint32_t status, std::uint32_t actual) {
  PutHeader(buffer, status, actual);
  return {0, usb::kUserHeaderSize};
}

Outcome ControllerInfo(const Controller& controller, std::uint8_t* buffer, std::uint32_t size) {
  const std::uint32_t needed = usb::kUserHeaderSize + usb::kControllerInfo0Size;
  if (size < needed) return HeaderOnly(buffer, usb::kUserBufferTooSmall, needed);
  const std::uint32_t values[] = {controller.pciVendorId, controller.pciDeviceId, controller.pciRevision,
                                  static_cast<std::uint32_t>(controller.rootHub->numberOfPorts), controller.flavor,
                                  controller.featureFlags};
  for (std::uint32_t i = 0; i < 6; ++i) usb::Write32(buffer + usb::kUserHeaderSize + 4 * i, values[i]);
  PutHeader(buffer, usb::kUserSuccess, needed);
  return {0, needed};
}

// USB_UNICODE_NAME: the name's length in bytes with its zero, then the name.
Outcome UnicodeName(const std::u16string& name, std::uint8_t* buffer, std::uint32_t size) {
  const auto length = static_cast<std::uint32_t>(2 * (name.size() + 1));
  const std::uint32_t needed = usb::kUserHeaderSize + 4 + length;
  if (size < needed) return HeaderOnly(buffer, usb::kUserBufferTooSmall, needed);
  usb::Write32(buffer + usb::kUserHeaderSize, length);
  std::uint32_t at = usb::kUserHeaderSize + 4;
  for (char16_t unit : name) {
    usb::Write16(buffer + at, unit);
    at += 2;
  }
  usb::Write16(buffer + at, 0);
  PutHeader(buffer, usb::kUserSuccess, needed);
  return {0, needed};
}

// How the controller and its root hub sleep in each system state: working
// at S0, D2 in S1 and S2, D3 from S3 on, able to wake the system up to S3.
Outcome PowerStateMap(std::uint8_t* buffer, std::uint32_t size) {
  const std::uint32_t needed = usb::kUserHeaderSize + usb::kPowerInfoSize;
  if (size < needed) return HeaderOnly(buffer, usb::kUserBufferTooSmall, needed);
  std::uint8_t* info = buffer + usb::kUserHeaderSize;
  const std::uint32_t state = usb::Read32(info);  // SystemState, the request's one input
  if (state < kSystemWorking || state > kSystemShutdown) return HeaderOnly(buffer, usb::kUserInvalidParameter, needed);
  const std::uint32_t device = state == kSystemWorking ? kDeviceD0 : state < kSystemSleeping3 ? kDeviceD2 : kDeviceD3;
  const std::uint32_t words[] = {device, kDeviceD2, kSystemSleeping3, device, kDeviceD2, kSystemSleeping3,
                                 kSystemSleeping3};
  for (std::uint32_t i = 0; i < 7; ++i) usb::Write32(info + 4 + 4 * i, words[i]);
  info[32] = state > kSystemWorking && state <= kSystemSleeping3 ? 1 : 0;  // CanWakeup
  info[33] = state <= kSystemSleeping3 ? 1 : 0;                            // IsPowered
  PutHeader(buffer, usb::kUserSuccess, needed);
  return {0, needed};
}

Outcome UserRequest(const Controller& controller, std::uint8_t* buffer, std::uint32_t size) {
  if (size < usb::kUserHeaderSize) return {kErrorInvalidParameter, 0};
  switch (usb::Read32(buffer + usb::kUserRequestCode)) {
    case usb::kUserGetControllerInfo0:
      return ControllerInfo(controller, buffer, size);
    case usb::kUserGetControllerDriverKey:
      if (controller.driverKeyError != 0) return {controller.driverKeyError, 0};
      return UnicodeName(controller.driverKeyName, buffer, size);
    case usb::kUserGetPowerStateMap:
      return PowerStateMap(buffer, size);
    case usb::kUserGetRootHubSymbolicName:
      if (controller.rootHubNameError != 0) return {controller.rootHubNameError, 0};
      return UnicodeName(controller.rootHubName, buffer, size);
    default:
      return HeaderOnly(buffer, usb::kUserInvalidRequestCode, usb::kUserHeaderSize);
  }
}

}  // namespace

std::uint32_t WriteName(std::uint8_t* buffer, std::uint32_t size, std::uint32_t lengthAt, std::uint32_t textAt,
                        const std::u16string& name) {
  const std::uint32_t actual = textAt + 2 * static_cast<std::uint32_t>(name.size() + 1);
  if (lengthAt + 4 > size) return 0;
  usb::Write32(buffer + lengthAt, actual);
  // The name and its zero, cut at the buffer's end like every reply here.
  std::uint32_t at = textAt;
  for (std::size_t i = 0; i <= name.size() && at < size; ++i) {
    const char16_t unit = i < name.size() ? name[i] : u'\0';
    buffer[at++] = static_cast<std::uint8_t>(unit);
    if (at < size) buffer[at++] = static_cast<std::uint8_t>(unit >> 8);
  }
  return at;
}

Outcome AnswerControllerRequest(const Controller& controller, std::uint32_t code, std::uint8_t* buffer,
                                std::uint32_t size) {
  if (code == usb::kIoctlUsbUserRequest) return UserRequest(controller, buffer, size);
  if (code != usb::kIoctlGetHcdDriverkeyName && code != usb::kIoctlGetRootHubName) {
    return {kErrorInvalidFunction, 0};  // hub requests mean nothing to a controller
  }
  // USB_HCD_DRIVERKEY_NAME and USB_ROOT_HUB_NAME: a ULONG and one WCHAR.
  if (size < usb::kNameStructSize) return {kErrorInvalidParameter, 0};
  const bool driverKey = code == usb::kIoctlGetHcdDriverkeyName;
  const std::uint32_t error = driverKey ? controller.driverKeyError : controller.rootHubNameError;
  if (error != 0) return {error, 0};
  return {0, WriteName(buffer, size, usb::kNameActualLength, usb::kNameText,
                       driverKey ? controller.driverKeyName : controller.rootHubName)};
}

}  // namespace qm::sim
