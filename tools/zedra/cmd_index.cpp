// zedra index, tags and check: building index files, listing their tags and checking
// their trees against the table.
#include <cstdio>
#include <iostream>
#include <ostream>

#include "base/errors.h"
#include "base/files.h"
#include "cli.h"
#include "index/index.h"
#include "index/index_check.h"
#include "platform/platform.h"
#include "table/commands.h"

namespace zedra::cli {
namespace {

int Fail(std::ostream& err) {
  int status = ReportEngineFailure(err);
  CloseAllAreas();
  return status ? status : 1;
}

// The index file a command works on: --file, or the table's production index.
std::string IndexPathOf(const Args& args) {
  return platform::ResolveCase(IndexFileName(args.Value("--file")));
}

// Draws, for the tag being built, "[####......]  45%  450000/1000000 records  120000 rec/s  0:03 left" on standard
// error, one redraw per progress tick.
class ProgressBar {
 public:
  explicit ProgressBar(uint32_t records) : records_(records), start_(platform::TickCount()) {}
  // Each tag of the file is built in turn; its first tick starts the clock again.
  void Draw(uint32_t tick, uint32_t ticks) {
    if (tick == 1) start_ = platform::TickCount();
    const double part = ticks ? double(tick) / ticks : 1.0;
    const uint32_t done = uint32_t(part * records_);
    const double seconds = (platform::TickCount() - start_) / 1000.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    const double left = part > 0 ? seconds * (1 - part) / part : 0;
    const int width = 30;
    std::string bar(size_t(part * width), '#');
    bar.resize(width, '.');
    char text[160];
    std::snprintf(text, sizeof text, "\r[%s] %3d%%  %u/%u records  %.0f rec/s  %d:%02d left ",
                  bar.c_str(), int(part * 100), done, records_, rate, int(left) / 60, int(left) % 60);
    std::cerr << text << (tick == ticks ? "\n" : "") << std::flush;
  }

 private:
  uint32_t records_;
  uint32_t start_;
};

}  // namespace

int CmdIndex(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("index");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  std::vector<TagInfo> wanted;
  for (const auto& [option, value] : args.sequence) {
    if (option == "--file") continue;
    if (option == "--tag") {
      if (value.empty() || value.size() > 10)
        return UsageError(command, "a tag name has 1 to 10 characters", err);
      wanted.push_back(TagInfo{value, "", "", 0, 0});
      continue;
    }
    if (wanted.empty()) return UsageError(command, option + " must follow a --tag", err);
    TagInfo& t = wanted.back();
    if (option == "--key") t.key = value;
    if (option == "--for") t.for_expr = value;
    if (option == "--unique") t.unique = 1;
    if (option == "--descending") t.descending = 1;
  }
  if (wanted.empty()) return UsageError(command, "at least one --tag is needed", err);
  for (const TagInfo& t : wanted)
    if (t.key.empty()) return UsageError(command, "tag " + t.name + " has no --key", err);
  if (!Use(args.positional[0])) return Fail(err);
  // The file's other tags are rebuilt from their own definitions.
  std::vector<TagInfo> tags;
  const std::string path = IndexPathOf(args);
  if (FilePresent(path)) {
    std::vector<TagSummary> existing;
    std::string problem;
    if (ReadTagSummaries(path, &existing, &problem)) {
      for (const TagSummary& s : existing)
        if (!s.key.empty())
          tags.push_back(TagInfo{s.name, s.key, s.for_expr, uint8_t(s.descending), uint8_t(s.unique)});
    }
  }
  for (const TagInfo& t : wanted) {
    bool replaced = false;
    for (TagInfo& old : tags)
      if (UpperText(old.name) == UpperText(t.name)) {
        old = t;
        replaced = true;
      }
    if (!replaced) tags.push_back(t);
  }
  std::unique_ptr<ProgressBar> bar;
  if (platform::StandardErrorIsTerminal()) {
    bar = std::make_unique<ProgressBar>(uint32_t(std::max(RecCount(), 0)));
    SetIndexProgress([&](uint32_t tick, uint32_t ticks) { bar->Draw(tick, ticks); }, 100);
  }
  const bool ok = MakeIndex(tags, args.Value("--file"));
  SetIndexProgress(nullptr, 0);
  if (!ok) return Fail(err);
  out << "Built " << tags.size() << (tags.size() == 1 ? " tag" : " tags") << " into "
      << IndexFileName(args.Value("--file")) << "\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdTags(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("tags");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options;
  options.read_only = true;
  if (!Use(args.positional[0], options)) return Fail(err);
  std::vector<TagSummary> tags;
  std::string problem;
  const std::string path = IndexPathOf(args);
  CloseAllAreas();
  if (!ReadTagSummaries(path, &tags, &problem)) {
    err << "zedra tags: " << path << ": " << problem << "\n";
    return 1;
  }
  for (const TagSummary& t : tags) {
    char head[64];
    std::snprintf(head, sizeof head, "%-10s type=%c keylen=%u entry=%u maxkeys=%u", t.name.c_str(),
                  t.key_type, unsigned(t.key_length), unsigned(t.entry_length), unsigned(t.max_keys));
    out << head << " desc=" << int(t.descending) << " unique=" << int(t.unique) << " anchor=" << t.anchor
        << " root=" << t.root << " key=[" << t.key << "] for=[" << t.for_expr << "]\n";
  }
  return 0;
}

int CmdCheck(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("check");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options;
  options.read_only = true;
  if (!Use(args.positional[0], options)) return Fail(err);
  const std::string path = IndexPathOf(args);
  const IndexCheck check = CheckIndexFile(path, args.Value("--tag"), args.Has("--built"));
  CloseAllAreas();
  for (const std::string& p : check.file_problems) out << path << ": " << p << "\n";
  for (const TagCheck& t : check.tags) {
    if (t.problems.empty()) {
      out << t.tag.name << ": OK (" << t.keys << " keys, " << t.nodes << " nodes, " << t.depth
          << (t.depth == 1 ? " level)\n" : " levels)\n");
      continue;
    }
    out << t.tag.name << ": " << t.problems.size() << (t.problems.size() == 1 ? " problem" : " problems")
        << (t.problems.size() >= 20 ? " (the first 20)" : "") << "\n";
    for (const std::string& p : t.problems) out << "  " << p << "\n";
  }
  return check.Ok() ? ReportEngineFailure(err) : 1;
}

}  // namespace zedra::cli
