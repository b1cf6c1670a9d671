// Engine errors: the numbered codes and their texts, the engine-wide error state, the
// operations that record, report, collect and raise errors, and the engine's memory
// operations that report through them.
//
// An operation that fails records one code and a message ending in its own name in
// square brackets ("Error requesting unique file name [UniqueFilename]"). With AutoReport
// on (the default) the first error ends the program through the fatal sink; callers that
// handle failures themselves switch AutoReport off around the call and test ErrorCode.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace zedra {

// The engine's exception; carries only its message.
class EZedraError : public std::exception {
 public:
  explicit EZedraError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

struct ErrorState {
  uint16_t ErrorCode = 0;       // current code, 0 = none; the fatal path's exit code
  uint16_t LastError = 0;       // the code GetErrorText describes
  std::string PendingMessage;   // operation message of the last SetError
  bool AutoReport = true;       // report at once in SetError
  std::function<void()> ErrorHook;  // when set, ReportError calls it instead of reporting
  bool RaiseOnReport = false;   // ReportError raises EZedraError instead of halting
  bool Halted = false;          // the fatal path has run; later reports are ignored
};

// The one error state of the engine.
ErrorState& Errors();
// Shorthand for Errors().ErrorCode.
inline uint16_t ErrorCode() { return Errors().ErrorCode; }

// Fixed text of a code ("Undefined error" for codes without one, empty for 0).
std::string ErrorCodeText(uint16_t code);
// "Error # " + code + " (" + text + ")", or empty for 0.
std::string ErrorText(uint16_t code);

void SetError(uint16_t code, const std::string& message);
void ReportError();
// Returns the previous value.
bool SetAutoReport(bool on);
std::string TakeErrorMessage();
std::string GetErrorText();
// SetError; then, with AutoReport off, throws EZedraError with GetErrorText.
void RaiseError(uint16_t code, const std::string& message);
[[noreturn]] void RaiseEngineError(const std::string& text);

// Restores AutoReport when it goes out of scope; for callers that handle errors.
class AutoReportScope {
 public:
  explicit AutoReportScope(bool on) : previous_(SetAutoReport(on)) {}
  ~AutoReportScope() { SetAutoReport(previous_); }
  AutoReportScope(const AutoReportScope&) = delete;
  AutoReportScope& operator=(const AutoReportScope&) = delete;

 private:
  bool previous_;
};

// An error recorded while AutoReport was off, held back from reporting.
struct HeldError {
  uint16_t code = 0;
  std::string message;
};
// Runs `step` with AutoReport off and takes the error it recorded (code 0: none), so that
// the caller can undo what the step began before the error is reported with SetError.
HeldError HoldErrors(const std::function<void()>& step);

// The fatal path. The sink shows the text (cut to 255 characters) under the caption
// "Program halted."; the exit then ends the program with the code. The defaults print
// to standard error and call std::exit (which runs the engine's shut-down). Embedding
// programs and tests install their own; passing nullptr restores the default.
inline constexpr const char* kHaltCaption = "Program halted.";
using FatalSink = std::function<void(const std::string& caption, const std::string& text)>;
using FatalExit = std::function<void(int code)>;
void SetFatalSink(FatalSink sink);
void SetFatalExit(FatalExit exit);

// Memory: sizes are unsigned 16-bit, so one block is at most 65535 bytes.
void* EngineGetMem(uint16_t size);
void EngineFreeMem(void*& block, uint16_t size);
// The largest block the engine may ask for: 2147483647 unless a memory budget is set,
// then the budget less what the engine holds against it (never below 0).
int32_t LargestFreeBlock();
// Sets the engine's memory budget in bytes; a negative value removes it (the default).
// Planned buffers (the index builder's) are held against it with MemoryHold.
void SetMemoryBudget(int64_t bytes);
int64_t MemoryBudget();

// Holds bytes against the memory budget for its lifetime (nothing is allocated here).
class MemoryHold {
 public:
  MemoryHold() = default;
  explicit MemoryHold(int64_t bytes) { Hold(bytes); }
  ~MemoryHold() { Release(); }
  MemoryHold(const MemoryHold&) = delete;
  MemoryHold& operator=(const MemoryHold&) = delete;
  void Hold(int64_t bytes);
  void Release();
  int64_t bytes() const { return bytes_; }

 private:
  int64_t bytes_ = 0;
};

// Clears the error state (start-up, and tests that start from a clean engine).
void ResetErrorState();

}  // namespace zedra
