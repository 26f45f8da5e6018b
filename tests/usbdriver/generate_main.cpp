// usbsim-generate SEED [MAX-DEPTH]: prints a machine drawn from SEED by the
// structure-aware generator the fuzzers use (usbsim/MachineGenerator.h),
// one the description reader accepts and the test USB driver serves. The
// randomized runs of the shipped launcher take their machines from it.
#include <iostream>
#include <string>

#include "usbsim/MachineGenerator.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: usbsim-generate SEED [MAX-DEPTH]\n";
    return 2;
  }
  try {
    qm::sim::MachineShape shape;
    shape.servable = true;
    shape.maxDepth = argc == 3 ? std::stoi(argv[2]) : 4;
    if (shape.maxDepth < 0 || shape.maxDepth > 16) throw std::out_of_range("depth");
    std::cout << qm::sim::GenerateMachine(static_cast<std::uint32_t>(std::stoul(argv[1])), shape) << "\n";
  } catch (const std::exception&) {
    std::cerr << "usbsim-generate: SEED is a number, MAX-DEPTH one from 0 to 16\n";
    return 2;
  }
  return 0;
}
