// usbsim-answers DESCRIPTION OUT [--trace NT-PATH]: the test USB driver's
// answer file for a description of the simulated stack, written whole or
// not at all. Exit 0, or 1 with one line naming what the driver cannot serve.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/AtomicFile.h"
#include "usbsim/DriverAnswers.h"

int main(int argc, char** argv) {
  if (!(argc == 3 || (argc == 5 && std::string(argv[3]) == "--trace"))) {
    std::cerr << "usage: usbsim-answers DESCRIPTION OUT [--trace NT-PATH]\n";
    return 2;
  }
  const std::string description = argv[1];
  try {
    std::ifstream in(description, std::ios::binary);
    if (!in) throw std::runtime_error("cannot be opened");
    std::ostringstream text;
    text << in.rdbuf();
    std::u16string trace;
    if (argc == 5) trace.assign(argv[4], argv[4] + std::string(argv[4]).size());  // an ASCII path
    const std::vector<std::uint8_t> answers = qm::sim::CompileDriverAnswers(text.str(), trace);
    qm::AtomicFile out(qm::WidePathFromUtf8(argv[2]));
    std::string error;
    if (!out.Create(&error) || !out.Write(answers.data(), answers.size(), &error) || !out.Finish(&error) ||
        !out.Commit(&error)) {
      std::cerr << "usbsim-answers: " << error << "\n";
      return 1;
    }
    if (!out.Warning().empty()) std::cerr << "usbsim-answers: warning: " << out.Warning() << "\n";
  } catch (const std::exception& error) {
    std::cerr << "usbsim-answers: " << description << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
