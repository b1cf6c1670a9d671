// Start-up and shut-down of the whole engine. The layers initialise in their fixed
// order: foundation, tables, the locale step, expressions, memos, indexes; they finalise
// in reverse, the table layer closing work areas 34 and 35 before the others.
#pragma once

namespace zedra {

// Runs every layer's initialisation. Safe to call again after EngineShutdown (tests start
// each case from a clean engine this way).
void EngineStartup();
// Runs the finalisations; does nothing when the engine is not started.
void EngineShutdown();
bool EngineStarted();

}  // namespace zedra
