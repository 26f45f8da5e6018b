// The answers the test USB driver serves for one open name, asked of the
// simulated stack (usbsim/AnswerAsking.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "tests/usbdriver/AnswerFormat.h"
#include "usbsim/UsbSim.h"

namespace qm::sim {

// The NTSTATUS the driver returns for the stack's error `error`; a logic
// error for one it cannot return (a description is checked before).
std::uint32_t StatusOf(std::uint32_t error);

// Every question a client can send to the name open under `handle`, most
// specific first, each range of buffer sizes its own answer, and last the
// answer to every other code; their reply bytes are appended to *bytes.
std::vector<QmAnswer> AnswersOf(UsbSimStack& stack, Handle handle, std::vector<std::uint8_t>* bytes);

}  // namespace qm::sim
