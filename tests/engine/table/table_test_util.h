// Helpers of the table layer's tests: a clean engine per test and DBF images built byte
// by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "platform/platform.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra::testing {

// Starts every test from a freshly started engine that leaves error handling to the test.
class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tests read the files the engine holds, also on Windows.
    platform::LetOthersReadOpenFiles(true);
    EngineStartup();
    SetAutoReport(false);
  }
  void TearDown() override {
    {
      AutoReportScope quiet(false);
      CloseAllAreas();
    }
    EngineShutdown();
    platform::LetOthersReadOpenFiles(false);
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // The last error as "code: message", then cleared.
  std::string TakeError() {
    std::string text = std::to_string(ErrorCode()) + ": " + Errors().PendingMessage;
    Errors().ErrorCode = 0;
    GetErrorText();
    return text;
  }

  TempDir dir_;
};

// The engine of a separate program (support/programs.h) for the time of its entry point,
// started and stopped as TableTest does for a test.
struct ProgramEngine {
  ProgramEngine() {
    EngineStartup();
    SetAutoReport(false);
  }
  ~ProgramEngine() {
    {
      AutoReportScope quiet(false);
      CloseAllAreas();
    }
    EngineShutdown();
  }
  ProgramEngine(const ProgramEngine&) = delete;
  ProgramEngine& operator=(const ProgramEngine&) = delete;
};

// For the bodies of other programs: tells a failed check on standard error and counts it.
inline int Check(bool condition, const std::string& what) {
  if (condition) return 0;
  std::fprintf(stderr, "program: %s (error %u: %s)\n", what.c_str(), unsigned(Errors().ErrorCode),
               Errors().PendingMessage.c_str());
  return 1;
}

inline UseOptions Exclusive() {
  UseOptions o;
  o.exclusive = true;
  return o;
}

struct RawField {
  std::string name;
  char type;
  uint8_t length;
  uint8_t decimals = 0;
};

// A table file image in the dBASE III PLUS layout.
inline std::string MakeDbf(uint8_t version, const std::vector<RawField>& fields,
                           const std::vector<std::string>& records, bool eof_marker = true) {
  uint16_t record_length = 1;
  for (const RawField& f : fields) record_length += f.length;
  const uint16_t header_length = uint16_t(32 + 32 * fields.size() + 1);
  std::string h(header_length, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  p[0] = version;
  p[1] = 124;
  p[2] = 5;
  p[3] = 17;
  PutLE32(p + 4, uint32_t(records.size()));
  PutLE16(p + 8, header_length);
  PutLE16(p + 10, record_length);
  size_t pos = 32;
  for (const RawField& f : fields) {
    h.replace(pos, f.name.size(), f.name);
    p[pos + 11] = uint8_t(f.type);
    p[pos + 16] = f.length;
    p[pos + 17] = f.decimals;
    pos += 32;
  }
  p[pos] = 0x0D;
  std::string out = h;
  for (const std::string& r : records) {
    std::string rec = r;
    rec.resize(record_length, ' ');
    out += rec;
  }
  if (eof_marker) out += '\x1A';
  return out;
}

}  // namespace zedra::testing
