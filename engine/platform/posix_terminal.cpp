// The terminal test of the tool's progress display, and the tool's arguments and streams,
// which are UTF-8 bytes on POSIX already.
#include <unistd.h>

#include "platform/platform.h"

namespace zedra::platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

std::vector<std::string> ToolArguments(int argc, char** argv) {
  if (argc < 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

void PrepareStandardStreams() {}

}  // namespace zedra::platform
