// Several programs on one table for a while, as scripts use it: four `zedra append` loops
// writing records with memos, a `zedra list` loop reading and a `zedra pack` loop, all
// at once. Afterwards every record a writer reported is there exactly once with its
// memo, the file is well formed and a peer implementation reads all of it.
//
// The run lasts ZEDRA_SHARED_SECONDS seconds (default kDefaultSeconds).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "memo/memo.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

constexpr int kDefaultSeconds = 30;
constexpr int kWriters = 4;

int RunSeconds() {
  const char* text = std::getenv("ZEDRA_SHARED_SECONDS");
  int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : kDefaultSeconds;
}

pid_t StartShell(const std::string& script) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

class SharedWritersTest : public TableTest {};

TEST_F(SharedWritersTest, AppendersReaderAndPackerLoseNothing) {
  const std::string zedra = ZEDRA_TOOL_PATH;
  const std::string table = File("SHARED.DBF");
  std::string out;
  ASSERT_EQ(RunCommand(zedra + " create " + table +
                           " --version 0x8B --field NAME:C:16 --field NOTES:M", &out), 0) << out;

  // Each loop runs until the deadline; a writer reports the names it appended, and every
  // failure goes to a file of its own with the tool's message.
  const long end = long(time(nullptr)) + RunSeconds();
  const std::string until = "while [ $(date +%s) -lt " + std::to_string(end) + " ]; do ";
  std::vector<pid_t> loops;
  for (int w = 1; w <= kWriters; ++w) {
    const std::string id = std::to_string(w);
    loops.push_back(StartShell(
        "i=0; " + until + "i=$((i+1)); n=w" + id + "-$i; " + zedra + " append --wait 30 " + table +
        " NAME=$n \"NOTES=memo of $n, with a longer text so that memos take several blocks at "
        "times $(printf '%0*d' $((i % 9 * 60 + 1)) 0)\" >/dev/null 2>>" + File("fail" + id) +
        " && echo $n >>" + File("wrote" + id) + "; done"));
  }
  loops.push_back(StartShell(until + zedra + " list --wait 30 " + table + " >/dev/null 2>>" +
                             File("fail-list") + "; done"));
  // Pack needs the table to itself: while the others hold it, it waits and then gives up
  // with the sharing violation, which is all it may do besides packing.
  loops.push_back(StartShell(until + zedra + " pack --wait 1 " + table + " >/dev/null 2>>" +
                             File("pack-err") + "; sleep 1; done"));
  for (pid_t pid : loops) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
  }

  for (const char* name : {"fail1", "fail2", "fail3", "fail4", "fail-list"})
    EXPECT_EQ(ReadFileBytes(File(name)), "") << name;
  for (const std::string& line : Lines(File("pack-err")))
    EXPECT_TRUE(line.rfind("Error # 32 ", 0) == 0 || line.rfind("Unable to open", 0) == 0) << line;

  std::map<std::string, std::string> expected;  // name -> memo text
  for (int w = 1; w <= kWriters; ++w) {
    std::vector<std::string> names = Lines(File("wrote" + std::to_string(w)));
    EXPECT_GT(names.size(), 0u) << "writer " << w << " appended nothing";
    for (const std::string& n : names) {
      const int i = std::atoi(n.substr(n.find('-') + 1).c_str());
      expected[n] = "memo of " + n + ", with a longer text so that memos take several blocks at times " +
                    std::string(size_t(i % 9 * 60 + 1), '0');
    }
  }

  // The file itself: a count that matches the records, only blank or "*" as flags.
  const std::string bytes = ReadFileBytes(table);
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t header_count = GetLE32(b + 4);
  const uint16_t header_length = GetLE16(b + 8), record_length = GetLE16(b + 10);
  const size_t in_file = (bytes.size() - header_length) / record_length;
  EXPECT_EQ(header_count, in_file);
  for (size_t r = 0; r < in_file; ++r) {
    const char flag = bytes[header_length + r * record_length];
    EXPECT_TRUE(flag == ' ' || flag == '*') << "record " << r + 1 << " flag " << int(flag);
  }

  // Every reported record exactly once, with its own memo.
  ASSERT_TRUE(Use(table)) << TakeError();
  std::map<std::string, int> seen;
  std::vector<std::string> memos_in_order;
  for (GoTop(); !Eof(); Skip(1)) {
    const std::string name = FieldText(1);
    const std::string memo = GetMemoText(2);
    ASSERT_EQ(ErrorCode(), 0) << TakeError();
    memos_in_order.push_back(Hex(memo));
    if (++seen[name] == 1 && expected.count(name)) {
      EXPECT_EQ(memo, expected[name]) << name;
    }
  }
  EXPECT_EQ(RecCount(), int32_t(in_file));
  CloseArea();
  for (const auto& [name, memo] : expected) EXPECT_EQ(seen[name], 1) << name;

  // A peer implementation reads every record and every memo alike.
  ASSERT_EQ(RunCommand("/usr/bin/python3 " ZEDRA_MEMO_PEER_READ " " + table + " NOTES", &out), 0) << out;
  std::vector<std::string> peer;
  std::stringstream lines(out);
  for (std::string line; std::getline(lines, line);) peer.push_back(line);
  ASSERT_EQ(peer.size(), memos_in_order.size());
  // The peer reads a dBASE IV memo by its stored length, which counts the padding too.
  for (size_t r = 0; r < peer.size(); ++r)
    EXPECT_EQ(peer[r].substr(0, memos_in_order[r].size()), memos_in_order[r]) << "record " << r + 1;
}

}  // namespace
}  // namespace zedra::testing
