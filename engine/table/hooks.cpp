// The hook tables of the table layer and the line machinery of memo text streams.
#include "table/hooks.h"

#include <algorithm>

#include "platform/platform.h"

namespace zedra {
namespace {

constexpr int kStreamNotOpen = 103;

MemoHooks memo_hooks;
IndexHooks index_hooks;
ExprHooks expr_hooks;
VirtualFileHandler virtual_handler;

bool DefaultPump(uint32_t max_ms) {
  // No window system to serve: sleep in short slices so that a wait ends on time.
  platform::SleepMs(std::min<uint32_t>(max_ms, 20));
  return true;
}
WaitPump wait_pump = DefaultPump;

int OpenAs(MemoTextStream& s, StreamMode mode) {
  if (!s.open) return kStreamNotOpen;
  s.mode = mode;
  s.buffer.clear();
  s.buffer_pos = 0;
  int r = s.open(s);
  if (r != 0) s.mode = StreamMode::Closed;
  return r;
}

// Input: makes sure a character is waiting unless the text is at its end.
int Fill(MemoTextStream& s) {
  if (s.buffer_pos < s.buffer.size()) return 0;
  s.buffer.clear();
  s.buffer_pos = 0;
  if (!s.transfer) return kStreamNotOpen;
  return s.transfer(s);
}

int Drain(MemoTextStream& s) {
  if (!s.transfer) return kStreamNotOpen;
  int r = s.transfer(s);
  s.buffer.clear();
  s.buffer_pos = 0;
  return r;
}

}  // namespace

MemoHooks& MemoHookTable() { return memo_hooks; }
IndexHooks& IndexHookTable() { return index_hooks; }
ExprHooks& ExprHookTable() { return expr_hooks; }
VirtualFileHandler& VirtualHandler() { return virtual_handler; }

void SetWaitPump(WaitPump pump) { wait_pump = pump ? std::move(pump) : WaitPump(DefaultPump); }
WaitPump& CurrentWaitPump() { return wait_pump; }

int StreamReset(MemoTextStream& s) { return OpenAs(s, StreamMode::Input); }
int StreamRewrite(MemoTextStream& s) { return OpenAs(s, StreamMode::Output); }
int StreamAppend(MemoTextStream& s) { return OpenAs(s, StreamMode::Append); }

bool StreamEof(MemoTextStream& s) {
  if (s.mode != StreamMode::Input) return true;
  if (Fill(s) != 0) return true;
  return s.buffer_pos >= s.buffer.size();
}

int StreamReadLine(MemoTextStream& s, std::string* line) {
  line->clear();
  if (s.mode != StreamMode::Input) return kStreamNotOpen;
  for (;;) {
    if (int r = Fill(s); r != 0) return r;
    if (s.buffer_pos >= s.buffer.size()) return 0;  // end of the text
    char c = s.buffer[s.buffer_pos++];
    if (c == '\n') return 0;
    if (c == '\r') {
      if (int r = Fill(s); r != 0) return r;
      if (s.buffer_pos < s.buffer.size() && s.buffer[s.buffer_pos] == '\n') ++s.buffer_pos;
      return 0;
    }
    line->push_back(c);
  }
}

int StreamWrite(MemoTextStream& s, std::string_view text) {
  if (s.mode != StreamMode::Output) return kStreamNotOpen;
  for (char c : text) {
    s.buffer.push_back(c);
    if (s.buffer.size() >= MemoTextStream::kBufferSize) {
      if (int r = Drain(s); r != 0) return r;
    }
  }
  if (s.flush) {
    int r = s.flush(s);
    s.buffer.clear();
    s.buffer_pos = 0;
    return r;
  }
  return 0;
}

int StreamWriteLine(MemoTextStream& s, std::string_view text) {
  std::string line(text);
  line += "\r\n";
  return StreamWrite(s, line);
}

int StreamClose(MemoTextStream& s) {
  int r = 0;
  if (s.mode == StreamMode::Output && !s.buffer.empty()) r = Drain(s);
  if (s.mode != StreamMode::Closed && s.close) {
    int c = s.close(s);
    if (r == 0) r = c;
  }
  s.mode = StreamMode::Closed;
  s.buffer.clear();
  s.buffer_pos = 0;
  return r;
}

}  // namespace zedra
