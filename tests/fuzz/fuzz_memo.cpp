// Memo files of any bytes, in each of the three layouts: every memo of a small table read
// raw and as lines, through a stream, then the file packed. Nothing may read out of
// bounds or loop; damage ends in the engine's own errors.
//
// An input is one byte that picks the layout (0x83, 0x8B, 0xF5 by its value mod 3), three
// signed bytes that become the records' memo references, and the memo file. The seeds in
// corpus/fuzz_memo/ are memo files the engine wrote, one of each layout.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "base/errors.h"
#include "engine.h"
#include "memo/memo.h"
#include "table/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zedra;
  static std::string dir = [] {
    EngineStartup();
    SetAutoReport(false);
    char templ[] = "/tmp/zedra-fuzz-memo-XXXXXX";
    return std::string(mkdtemp(templ));
  }();
  if (size < 4) return 0;
  static const uint8_t kKinds[] = {0x83, 0x8B, 0xF5};
  const uint8_t kind = kKinds[data[0] % 3];
  const std::string table = dir + "/F.DBF";
  Errors().ErrorCode = 0;
  if (!CreateDbf(table, kind, {{"NOTES", 'M', 10, 0}})) return 0;
  {
    std::ofstream memo(dir + (kind == 0xF5 ? "/F.FPT" : "/F.DBT"), std::ios::binary | std::ios::trunc);
    memo.write(reinterpret_cast<const char*>(data + 4), std::streamsize(size - 4));
  }
  UseOptions exclusive;
  exclusive.exclusive = true;
  if (!Use(table, exclusive)) return 0;
  // Three records whose references come from the input: small, negative or beyond the file.
  for (int i = 1; i <= 3; ++i) {
    int32_t ref = int8_t(data[i]);
    std::string text = std::to_string(ref);
    SetFieldRaw(1, std::string(10 - text.size(), ' ') + text);
    AppendRecord();
  }
  for (int32_t n = 1; n <= 3; ++n) {
    Errors().ErrorCode = 0;
    Dbf4Go(n);
    (void)GetMemoText(1);
    Errors().ErrorCode = 0;
    int32_t block = int32_t(std::strtol(FieldRaw(1).c_str(), nullptr, 10));
    MemoTextStream stream;
    if (AssignMemo(stream, &block) == 0 && StreamReset(stream) == 0) {
      std::string line;
      for (int lines = 0; lines < 2000 && !StreamEof(stream); ++lines)
        if (StreamReadLine(stream, &line) != 0) break;
      StreamClose(stream);
    }
  }
  Errors().ErrorCode = 0;
  PackMemofile();
  Errors().ErrorCode = 0;
  CloseAllAreas();
  return 0;
}
