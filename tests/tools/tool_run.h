// Runs the zedra tool in-process, as a user runs it, and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

namespace zedra::cli {

struct ToolRun {
  int status;
  std::string out, err;
};

inline ToolRun Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = RunTool(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace zedra::cli
