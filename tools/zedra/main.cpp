// zedra: the engine in a person's hands.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // A file size limit makes a write fail with error 101 instead of ending the tool
  // half-way through it.
  zedra::platform::FailWritesBeyondSizeLimit();
  std::vector<std::string> args(argv + 1, argv + argc);
  return zedra::cli::RunTool(args, std::cout, std::cerr);
}
