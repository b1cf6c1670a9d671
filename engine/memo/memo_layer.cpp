// The memo layer's state and its start-up: the eight MemoHooks through which the table
// layer reaches memo files.
#include "base/errors.h"
#include "memo/memo.h"
#include "memo/memo_format.h"

namespace zedra {

namespace {
MemoState state;
}  // namespace

MemoState& Memos() { return state; }

void MemoStartup() {
  state = MemoState{};
  // The engine's memo write buffer is one unit of 512 bytes.
  state.WriteUnit = 512;
  MemoHooks& hooks = MemoHookTable();
  hooks.AssignMemo = [](MemoTextStream& stream, int32_t* block_var) {
    return AssignMemo(stream, block_var);
  };
  hooks.OpenMemofile = [](const std::string& name) { OpenMemofile(name); };
  hooks.CloseMemofile = [] { CloseMemofile(); };
  hooks.PackMemofile = [] { PackMemofile(); };
  hooks.AddMemo = [](const std::string& text) { return AddMemo(text); };
  hooks.CopyMemo = [](uint8_t area, int32_t block) { return CopyMemo(area, block, false); };
  hooks.CopyMemoKeepNumber = [](uint8_t area, int32_t block) {
    return CopyMemo(area, block, true);
  };
  hooks.RecreateMemofile = [](const std::string& name) { RecreateMemofile(name); };
  hooks.CreateMemofile = [](const std::string& table_name, uint8_t kind) {
    CreateMemoFile(table_name, kind, state.DefaultBlockSize, "CreateDbf");
  };
  hooks.CheckMemo = [](int32_t block) { return CheckMemo(block); };
  hooks.StartMemoRewrite = [](const std::string& path) { return StartMemoRewrite(path); };
}

void MemoShutdown() {
  MemoHookTable() = MemoHooks{};
  state = MemoState{};
}

}  // namespace zedra
