// Index files of any bytes given to the checker over a small table with a key of each
// type: every tag is walked and checked against the records. Nothing may read out of
// bounds, recurse without end or loop; damage ends in reported problems.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "base/errors.h"
#include "engine.h"
#include "index/index_check.h"
#include "table/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zedra;
  static std::string dir = [] {
    EngineStartup();
    SetAutoReport(false);
    char templ[] = "/tmp/zedra-fuzz-mdx-XXXXXX";
    std::string d = mkdtemp(templ);
    const std::string table = d + "/F.DBF";
    CreateDbf(table, 0x03, {{"NAME", 'C', 8, 0}, {"AMT", 'N', 8, 2}, {"BORN", 'D', 8, 0}});
    Use(table);
    for (int i = 0; i < 5; ++i) {
      AppendBlank();
      SetFieldText(1, std::string(1, char('E' - i)));
      SetFieldNum(2, i * 2.5 - 3);
      SetFieldDate(3, i == 2 ? "" : "2026120" + std::to_string(i + 1));
      Replace();
    }
    CloseAllAreas();
    return d;
  }();
  Errors().ErrorCode = 0;
  {
    std::ofstream mdx(dir + "/F.MDX", std::ios::binary | std::ios::trunc);
    mdx.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  UseOptions options;
  options.read_only = true;
  if (!Use(dir + "/F.DBF", options)) return 0;
  (void)CheckIndexFile(dir + "/F.MDX", "", size % 2 == 0);
  CloseAllAreas();
  Errors().ErrorCode = 0;
  return 0;
}
