// zedra: the engine in a person's hands.
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return zedra::cli::RunTool(args, std::cout, std::cerr);
}
