// The simulated stack's answers for the test USB driver: every name a
// client can open and every request it can send there, asked of the
// simulated stack and written down in the driver's answer file
// (tests/usbdriver/AnswerFormat.h). The rules of the stack stay in one
// place, the simulated stack; the driver only looks answers up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::sim {

// The NTSTATUS that Windows turns into the system error `error`; false
// when no status the driver may return maps to it.
bool NtStatusOf(std::uint32_t error, std::uint32_t* status);

// Every error the driver can return, in increasing order.
std::vector<std::uint32_t> ServableErrors();

// The answer file for the machine a description (docs/usb-sim-format.md)
// describes, with `tracePath` (an NT path, or empty) for the driver to
// append every request to. Throws std::runtime_error with one line naming
// the place of what a driver cannot serve, or of a malformed description.
std::vector<std::uint8_t> CompileDriverAnswers(const std::string& description, const std::u16string& tracePath);

}  // namespace qm::sim
