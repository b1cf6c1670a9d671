// The parts of the layer that do not depend on the system: the last error, the fault
// hook, the tests' read sharing and the Windows wildcard match.
#include "platform/layer.h"

#include <cctype>
#include <utility>

namespace zedra::platform {
namespace {

thread_local uint32_t last_error = 0;

FaultHook fault_hook;

bool others_may_read = false;

}  // namespace

namespace layer {

uint32_t& LastErrorSlot() { return last_error; }

uint32_t Inject(FileChange change, size_t* size) {
  if (!fault_hook) return 0;
  size_t ignored = 0;
  uint32_t error = fault_hook(change, size ? size : &ignored);
  if (error != 0) last_error = error;
  return error;
}

bool OthersMayRead() { return others_may_read; }

}  // namespace layer

uint32_t LastError() { return last_error; }

void LetOthersReadOpenFiles(bool on) { others_may_read = on; }

void SetFaultHook(FaultHook hook) { fault_hook = std::move(hook); }

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // Iterative match with one backtrack point for the last "*".
  size_t p = 0, n = 0, star = std::string::npos, mark = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  // "*.*" matches names without a dot too, as on Windows.
  if (p + 1 == pattern.size() && pattern[p] == '.') ++p;
  if (p + 2 == pattern.size() && pattern[p] == '.' && pattern[p + 1] == '*') p += 2;
  return p == pattern.size();
}

}  // namespace zedra::platform
