// The terminal test of the tool's progress display.
#include <unistd.h>

#include "platform/platform.h"

namespace zedra::platform {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace zedra::platform
