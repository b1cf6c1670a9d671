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
  // The tool reads and writes UTF-8 on every system, byte for byte the same.
  zedra::platform::PrepareStandardStreams();
  const std::vector<std::string> args = zedra::platform::ToolArguments(argc, argv);
  return zedra::cli::RunTool(args, std::cout, std::cerr);
}
