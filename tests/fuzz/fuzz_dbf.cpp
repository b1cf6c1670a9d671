// Table files of any bytes: opened (shared or exclusive by the first input byte), every
// record visited both ways with every field read, Peek through its cache, and, when
// exclusive, a record appended, changed and the table packed. Nothing may read out of
// bounds or loop; a damaged file ends in the engine's own errors.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "base/errors.h"
#include "engine.h"
#include "table/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zedra;
  static std::string dir = [] {
    EngineStartup();
    SetAutoReport(false);
    char templ[] = "/tmp/zedra-fuzz-dbf-XXXXXX";
    return std::string(mkdtemp(templ));
  }();
  if (size < 1) return 0;
  const std::string table = dir + "/F.DBF";
  {
    std::ofstream out(table, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
  }
  MemoHookTable() = MemoHooks{};  // the table alone; memo files have their own target
  Errors().ErrorCode = 0;
  UseOptions options;
  options.exclusive = data[0] & 1;
  options.oem = (data[0] & 2) != 0;
  Tables().PeekCacheSize = (data[0] & 4) ? 700 : 0;
  if (!Use(table, options)) return 0;
  const int fields = FieldCount();
  int visited = 0;
  for (GoTop(); !Eof() && ErrorCode() == 0 && visited < 5000; Skip(1), ++visited) {
    for (int k = 0; k <= fields + 1; ++k) {
      (void)FieldText(k);
      (void)FieldNum(k);
      (void)FieldDate(k);
      (void)FieldLogical(k);
      (void)Peek(k, RecNo());
    }
  }
  Errors().ErrorCode = 0;
  for (GoBottom(); !Bof() && !Eof() && ErrorCode() == 0 && visited < 10000; Skip(-1), ++visited) {
  }
  Errors().ErrorCode = 0;
  if (options.exclusive && AppendBlank()) {
    for (int k = 1; k <= fields; ++k) SetFieldText(k, "1");
    Replace();
    DeleteRec();
    Errors().ErrorCode = 0;
    Pack();
  }
  Errors().ErrorCode = 0;
  CloseAllAreas();
  Errors().ErrorCode = 0;
  return 0;
}
