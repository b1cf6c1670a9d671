// The engine's error codes, texts and reporting, and its memory operations.
#include "base/errors.h"

#include <algorithm>

#include <cstdlib>
#include <iostream>
#include <new>

namespace zedra {
namespace {

struct CodeText {
  uint16_t code;
  const char* text;
};

// Codes 1-36 and 50-60 follow the operating system's file errors, 100-106, 150-162 and
// 200-209 the runtime's input/output and run-time errors; 210 and above are the engine's.
// The blanks at the end of 227, 228 and 1103 belong to the texts.
constexpr CodeText kTexts[] = {
    {1, "Invalid DOS function code"},
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {6, "Invalid file handle"},
    {8, "Not enough memory"},
    {9, "Memory block address invalid"},
    {10, "Environment invalid"},
    {11, "Format invalid"},
    {12, "Invalid file access code"},
    {13, "Data invalid"},
    {14, "Unknown unit"},
    {15, "Invalid drive number"},
    {16, "Cannot remove current directory"},
    {17, "Cannot rename across drives"},
    {18, "Too many open files"},
    {19, "Disk write-protected"},
    {20, "Unknown unit"},
    {21, "Drive not ready"},
    {22, "Unknown command"},
    {23, "CRC error in data"},
    {24, "Bad drive request structure length"},
    {25, "Disk seek error"},
    {26, "Unknown media type"},
    {27, "Disk sector not found"},
    {28, "Printer out of paper"},
    {29, "Device write fault"},
    {30, "Device read fault"},
    {31, "General failure"},
    {32, "File sharing violation"},
    {33, "File lock violation"},
    {34, "Disk change invalid"},
    {35, "File Control Block unavailable"},
    {36, "File sharing buffer overflow"},
    {50, "Unsupported network request"},
    {51, "Remote machine not listening"},
    {52, "Duplicate name on network"},
    {53, "Network name not found"},
    {54, "Network busy"},
    {55, "Device no longer exists on network"},
    {56, "Net-Bios command limit exceeded"},
    {57, "Error in network adapter hardware"},
    {58, "Incorrect response from network"},
    {59, "Unexpected network error"},
    {60, "Remote adapter incompatible"},
    {100, "Disk read error"},
    {101, "Disk write error (probable cause: Disk Full)."},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid numeric format"},
    {150, "Disk write-protected"},
    {151, "Unknown unit"},
    {152, "Drive not ready"},
    {153, "Unknown command"},
    {154, "CRC error in data"},
    {155, "Bad drive request structure length"},
    {156, "Disk seek error"},
    {157, "Unknown media type"},
    {158, "Disk sector not found"},
    {159, "Printer out of paper"},
    {160, "Device write fault"},
    {161, "Device read fault"},
    {162, "File sharing violation"},
    {200, "Division by zero error"},
    {201, "Range check error"},
    {202, "Stack overflow error"},
    {203, "Heap overflow error"},
    {204, "Invalid pointer operation"},
    {205, "Floating point overflow"},
    {206, "Floating point underflow"},
    {207, "Invalid floating point operation"},
    {208, "Overlay-manager not installed"},
    {209, "Overlay file read error"},
    {210, "Not a dBASE data file"},
    {211, "Invalid database field type encountered"},
    {212, "Request beyond range"},
    {213, "End of file found unexpectedly"},
    {214, "File already in use"},
    {215, "No database in use"},
    {216, "GP Fault"},
    {217, "Insufficient memory"},
    {218, "Invalid pointer specified"},
    {219, "Cannot duplicate file handle"},
    {220, "Invalid parameter"},
    {221, "Index file not open"},
    {222, "Corrupted index file"},
    {223, "Index version mismatch"},
    {224, "Cyclical relationship detected"},
    {225, "Exclusive Use() required"},
    {226, "BROWSE not active"},
    {227, "Insufficient disk space "},
    {228, "Unbalanced Push/Pop operation "},
    {229, "dBASE IV memo files not supported"},
    {230, "No dBASE memory variables loaded"},
    {231, "Screen library not open"},
    {239, "Missing colon in time"},
    {240, "Non-numeric character in time"},
    {241, "Invalid time specified"},
    {242, "Negative time specified"},
    {243, "TimeDiff result negative"},
    {254, "Zedra internal error"},
    {266, "Invalid size"},
    {1003, "Invalid memo address"},
    {1004, "Disk full"},
    {1005, "Memo file write error"},
    {1007, "Memo file is already open"},
    {1012, "Insufficient disk space to pack memo file"},
    {1017, "Cannot lock memo file"},
    {1018, "Cannot unlock memo file"},
    {1019, "Invalid memo operation: database not open or no memo field in database"},
    {1100, "Not a valid operation on Linked List"},
    {1101, "Virtual File Manager Unit not Linked in"},
    {1102, "Virtual File Memory Management Error"},
    {1103, "Invalid Operation "},
    {1200, "Record not locked"},
    {1201, "File not locked"},
    {1202,
     "Semaphore file error. Possible solutions: log into network or load SHARE.EXE before "
     "running Windows"},
    {1300, "File format not supported"},
};

// The longest text the fatal message box shows.
constexpr size_t kMaxReportLength = 255;

FatalSink& Sink() {
  static FatalSink sink;
  return sink;
}

FatalExit& Exit() {
  static FatalExit exit;
  return exit;
}

}  // namespace

ErrorState& Errors() {
  static ErrorState state;
  return state;
}

void ResetErrorState() {
  ErrorState& e = Errors();
  e.ErrorCode = 0;
  e.LastError = 0;
  e.PendingMessage.clear();
  e.AutoReport = true;
  e.Halted = false;
  // ErrorHook and RaiseOnReport belong to the embedding program; start-up keeps them.
}

std::string ErrorCodeText(uint16_t code) {
  if (code == 0) return "";
  if (code >= 1203 && code <= 1299) return "Network Error";
  for (const CodeText& t : kTexts)
    if (t.code == code) return t.text;
  return "Undefined error";
}

std::string ErrorText(uint16_t code) {
  if (code == 0) return "";
  return "Error # " + std::to_string(code) + " (" + ErrorCodeText(code) + ")";
}

void SetError(uint16_t code, const std::string& message) {
  ErrorState& e = Errors();
  e.ErrorCode = code;
  e.LastError = code;
  e.PendingMessage = message;
  if (e.AutoReport) ReportError();
}

void ReportError() {
  ErrorState& e = Errors();
  if (e.Halted) return;
  e.LastError = e.ErrorCode;
  if (e.ErrorHook) {
    e.ErrorHook();
    return;
  }
  if (e.ErrorCode == 0) return;
  std::string text = ErrorText(e.ErrorCode) + "\r\n" + TakeErrorMessage();
  if (e.RaiseOnReport) throw EZedraError(text);
  if (text.size() > kMaxReportLength) text.resize(kMaxReportLength);
  if (Sink()) {
    Sink()(kHaltCaption, text);
  } else {
    std::cerr << kHaltCaption << "\n" << text << std::endl;
  }
  e.Halted = true;
  int code = e.ErrorCode;
  if (Exit()) {
    Exit()(code);
  } else {
    std::exit(code);  // runs the engine's shut-down registered at start-up
  }
}

bool SetAutoReport(bool on) {
  bool previous = Errors().AutoReport;
  Errors().AutoReport = on;
  return previous;
}

std::string TakeErrorMessage() {
  ErrorState& e = Errors();
  std::string message = std::move(e.PendingMessage);
  e.PendingMessage.clear();
  e.LastError = 0;
  return message;
}

HeldError HoldErrors(const std::function<void()>& step) {
  AutoReportScope quiet(false);
  Errors().ErrorCode = 0;
  step();
  HeldError held;
  held.code = ErrorCode();
  if (held.code != 0) held.message = TakeErrorMessage();
  return held;
}

std::string GetErrorText() {
  uint16_t code = Errors().LastError;
  if (code == 0) return "";
  std::string text = ErrorText(code);
  return text + "\r\n" + TakeErrorMessage();
}

void RaiseError(uint16_t code, const std::string& message) {
  SetError(code, message);
  if (!Errors().AutoReport) throw EZedraError(GetErrorText());
}

void RaiseEngineError(const std::string& text) { throw EZedraError(text); }

void SetFatalSink(FatalSink sink) { Sink() = std::move(sink); }
void SetFatalExit(FatalExit exit) { Exit() = std::move(exit); }

void* EngineGetMem(uint16_t size) {
  // Running out of memory is the runtime's failure (std::bad_alloc), not an engine error.
  return ::operator new(size == 0 ? 1 : size);
}

void EngineFreeMem(void*& block, uint16_t /*size*/) {
  if (block) {
    ::operator delete(block);
  } else {
    SetError(9, "Attempt to free NIL pointer [FreeMem()]");
  }
  block = nullptr;
}

namespace {
int64_t memory_budget = -1;  // none
int64_t memory_held = 0;
}  // namespace

int32_t LargestFreeBlock() {
  if (memory_budget < 0) return 2147483647;
  return int32_t(std::clamp<int64_t>(memory_budget - memory_held, 0, 2147483647));
}

void SetMemoryBudget(int64_t bytes) { memory_budget = bytes < 0 ? -1 : bytes; }
int64_t MemoryBudget() { return memory_budget; }

void MemoryHold::Hold(int64_t bytes) {
  bytes_ += bytes;
  memory_held += bytes;
}

void MemoryHold::Release() {
  memory_held -= bytes_;
  bytes_ = 0;
}

}  // namespace zedra
