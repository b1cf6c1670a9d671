// Start-up and shut-down of the engine's layers, in their fixed order.
#include "engine.h"

#include <cstdlib>

#include "base/dates.h"
#include "base/errors.h"
#include "base/files.h"
#include "expr/expr.h"
#include "index/index.h"
#include "memo/memo.h"
#include "table/work_area.h"

namespace zedra {
namespace {

bool started = false;
bool exit_hook_registered = false;

// The foundation: error state and hook tables cleared, date style from the user's
// language with the year window, and the runtime's default open mode 18.
void FoundationStartup() {
  ResetErrorState();
  DateStartup();
  Files() = FileState{};
  Files().FileMode = platform::kModeReadWriteExclusive;
}

}  // namespace

void EngineStartup() {
  if (started) EngineShutdown();
  FoundationStartup();
  // The table layer: shared open mode 66, empty work areas, cleared hook tables.
  TableStartup();
  // The locale step replaces the language's date style with the platform's short-date
  // format. It runs after the table layer and before the expression language.
  SyncDateStyle();
  // The expression language installs its services (ExprHooks).
  ExprStartup();
  // The memo layer fills the eight MemoHooks (after the expression language's services).
  MemoStartup();
  // The index layer installs IndexHooks.
  IndexStartup();
  started = true;
  if (!exit_hook_registered) {
    // The fatal path ends the program with std::exit; the engine still shuts down in order.
    std::atexit([] { EngineShutdown(); });
    exit_hook_registered = true;
  }
}

void EngineShutdown() {
  if (!started) return;
  started = false;
  // Index files close before their tables.
  IndexShutdown();
  // Areas 34 and 35 first, then all others.
  TableShutdown();
  // Compiled expressions go after the areas have released their filters.
  ExprShutdown();
  // The memo hooks serve the closing of the areas above; cleared afterwards.
  MemoShutdown();
}

bool EngineStarted() { return started; }

}  // namespace zedra
