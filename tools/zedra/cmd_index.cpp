// zedra index, tags and check: building index files, listing their tags and checking
// their trees against the table.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "base/errors.h"
#include "base/files.h"
#include "cli.h"
#include "index/index.h"
#include "index/semaphore.h"
#include "index/index_check.h"
#include "platform/platform.h"
#include "table/code_pages.h"
#include "table/commands.h"

namespace zedra::cli {
namespace {

// The index file a command works on: --file, or the table's production index.
std::string IndexPathOf(const Args& args) {
  return platform::ResolveCase(IndexFileName(args.Value("--file")));
}

bool SameTagName(const std::string& a, const std::string& b) { return UpperText(a) == UpperText(b); }

bool Wanted(const std::vector<TagInfo>& wanted, const std::string& name) {
  return std::any_of(wanted.begin(), wanted.end(), [&](const TagInfo& t) { return SameTagName(t.name, name); });
}

// A tag's name, or its entry number in the tag table when the entry has no name.
std::string TagLabel(const TagSummary& t) {
  return t.name.empty() ? "(entry " + std::to_string(t.number) + ", no name)" : t.name;
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

// A bar for the builds of the current table when standard error is a terminal (else
// none); the caller ends the progress reports with SetIndexProgress(nullptr, 0).
std::unique_ptr<ProgressBar> StartProgressBar() {
  if (!platform::StandardErrorIsTerminal()) return nullptr;
  auto bar = std::make_unique<ProgressBar>(uint32_t(std::max(RecCount(), 0)));
  ProgressBar* drawn = bar.get();
  SetIndexProgress([drawn](uint32_t tick, uint32_t ticks) { drawn->Draw(tick, ticks); }, 100);
  return bar;
}

// The index file a build replaces, moved aside under a name of its own until the build
// has succeeded: a failed build (a key that does not compile, a full disk) puts it back,
// so that the file's tags are never lost to a failed rebuild. Moving needs no disk space.
class KeptIndex {
 public:
  explicit KeptIndex(std::string path) : path_(std::move(path)) {}
  ~KeptIndex() { PutBack(); }
  KeptIndex(const KeptIndex&) = delete;
  KeptIndex& operator=(const KeptIndex&) = delete;

  // 0, or the error code of the move.
  uint32_t MoveAside() {
    if (!FilePresent(path_)) return 0;
    std::string aside = path_ + "~";
    for (int n = 2; FilePresent(aside); ++n) aside = path_ + "~" + std::to_string(n);
    if (uint32_t error = platform::RenameFile(path_, aside); error != 0) return error;
    aside_ = aside;
    return 0;
  }
  // Replaces what the failed build left with the old file.
  void PutBack() {
    if (!aside_.empty() && platform::RenameFile(aside_, path_) == 0) aside_.clear();
  }
  void Drop() {
    if (!aside_.empty()) platform::RemoveFile(aside_);
    aside_.clear();
  }

 private:
  std::string path_;
  std::string aside_;
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
  UseOptions alone = OpenOptions();
  alone.production_index = false;  // the file is rebuilt, not used
  if (!Use(args.positional[0], alone)) return FailAndClose(err);
  for (TagInfo& t : wanted)
    if (!TableTextOf(command, t.key, "--key", &t.key, err) ||
        !TableTextOf(command, t.for_expr, "--for", &t.for_expr, err)) {
      CloseAllAreas();
      return 1;
    }
  // The file's other tags are rebuilt from their own definitions.
  std::vector<TagInfo> tags;
  const std::string path = IndexPathOf(args);
  if (FilePresent(path)) {
    std::vector<TagSummary> existing;
    std::string problem;
    if (ReadTagSummaries(path, &existing, &problem)) {
      for (const TagSummary& s : existing) {
        if (s.anchor_read && !s.key.empty())
          tags.push_back(TagInfo{s.name, s.key, s.for_expr, uint8_t(s.descending), uint8_t(s.unique)});
        else if (!Wanted(wanted, s.name))
          err << "zedra index: warning: tag " << TagLabel(s) << " of " << path
              << " has no readable definition and is not rebuilt\n";
      }
    } else {
      err << "zedra index: warning: " << path << ": " << problem << "; its tags are not rebuilt\n";
    }
  }
  for (const TagInfo& t : wanted) {
    bool replaced = false;
    for (TagInfo& old : tags)
      if (SameTagName(old.name, t.name)) {
        old = t;
        replaced = true;
      }
    if (!replaced) tags.push_back(t);
  }
  const std::unique_ptr<ProgressBar> bar = StartProgressBar();
  KeptIndex kept(path);
  if (uint32_t error = kept.MoveAside(); error != 0) {
    err << "zedra index: " << path << " cannot be moved aside for the build: "
        << ErrorText(uint16_t(error)) << "\n";
    CloseAllAreas();
    return 1;
  }
  const bool ok = MakeIndex(tags, args.Value("--file"));
  SetIndexProgress(nullptr, 0);
  if (!ok) {
    kept.PutBack();
    return FailAndClose(err);
  }
  kept.Drop();
  out << "Built " << tags.size() << (tags.size() == 1 ? " tag" : " tags") << " into "
      << IndexFileName(args.Value("--file")) << "\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdReindex(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("reindex");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options;
  options.exclusive = true;
  options.production_index = false;  // the file to rebuild is opened below
  if (!Use(args.positional[0], options)) return FailAndClose(err);
  const std::string path = IndexPathOf(args);
  if (!SetIndexTo(path)) return FailAndClose(err);
  SetIndexCache(kToolIndexCacheBytes);
  const size_t tags = IndexTagNames().size();
  // As for index: the old file comes back when the rebuild fails.
  KeptIndex kept(path);
  if (uint32_t error = kept.MoveAside(); error != 0) {
    err << "zedra reindex: " << path << " cannot be moved aside for the build: "
        << ErrorText(uint16_t(error)) << "\n";
    CloseAllAreas();
    return 1;
  }
  const std::unique_ptr<ProgressBar> bar = StartProgressBar();
  try {
    Reindex();
  } catch (const EZedraError&) {
  }
  SetIndexProgress(nullptr, 0);
  if (ErrorCode() != 0) {
    CloseIndexes();
    kept.PutBack();
    return FailAndClose(err);
  }
  kept.Drop();
  out << "Rebuilt " << tags << (tags == 1 ? " tag" : " tags") << " of " << path << "\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

bool OpenProductionIndexForChange(std::ostream& err) {
  if (IndexActive()) return true;
  const DbfArea& area = *CurrentArea();
  if (area.header[kHdrProductionIndex] == 0) return true;
  if (!platform::FileExists(platform::ResolveCase(IndexFileName("")))) return true;
  if (SetIndexTo("")) return true;
  FailAndClose(err);
  return false;
}

int CmdTags(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("tags");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options = OpenOptions();
  options.read_only = true;
  options.production_index = false;  // the file is read on its own
  if (!Use(args.positional[0], options)) return FailAndClose(err);
  std::vector<TagSummary> tags;
  std::string problem;
  const std::string path = IndexPathOf(args);
  const bool read = ReadTagSummaries(path, &tags, &problem);
  // The expressions are kept in the table's own letters; they are shown as UTF-8.
  for (TagSummary& t : tags) {
    t.key = TextToUtf8(*CurrentArea(), t.key);
    t.for_expr = TextToUtf8(*CurrentArea(), t.for_expr);
  }
  CloseAllAreas();
  if (!read) {
    err << "zedra tags: " << path << ": " << problem << "\n";
    return 1;
  }
  int status = 0;
  for (const TagSummary& t : tags) {
    if (!t.anchor_read) {
      out << TagLabel(t) << ": anchor block " << t.anchor << " lies outside the file\n";
      status = 1;
      continue;
    }
    char head[64];
    std::snprintf(head, sizeof head, "%-10s type=%c keylen=%u entry=%u maxkeys=%u", TagLabel(t).c_str(),
                  t.key_type, unsigned(t.key_length), unsigned(t.entry_length), unsigned(t.max_keys));
    out << head << " desc=" << int(t.descending) << " unique=" << int(t.unique) << " anchor=" << t.anchor
        << " root=" << t.root << " key=[" << t.key << "] for=[" << t.for_expr << "]\n";
  }
  return status;
}

int CmdCheck(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("check");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options = OpenOptions();
  options.read_only = true;
  options.production_index = false;  // the file is read on its own
  if (!Use(args.positional[0], options)) return FailAndClose(err);
  const std::string path = IndexPathOf(args);
  // The check reads the index as one more reader of the table: other programs' changes
  // wait until it is done, so that it never sees one half made.
  try {
    HandleSemafore(kLogin);
    SetReadSemaphoreProc(true);
  } catch (const EZedraError& e) {
    err << e.what() << "\n";
    try {
      HandleSemafore(kLogout);
    } catch (const EZedraError&) {
    }
    CloseAllAreas();
    return 1;
  }
  const IndexCheck check = CheckIndexFile(path, args.Value("--tag"), args.Has("--built"));
  try {
    SetReadSemaphoreProc(false);
    HandleSemafore(kLogout);
  } catch (const EZedraError& e) {
    err << e.what() << "\n";
  }
  CloseAllAreas();
  for (const std::string& p : check.file_problems) out << path << ": " << p << "\n";
  for (const TagCheck& t : check.tags) {
    if (t.problems.empty()) {
      out << TagLabel(t.tag) << ": OK (" << t.keys << " keys, " << t.nodes << (t.nodes == 1 ? " node, " : " nodes, ") << t.depth
          << (t.depth == 1 ? " level)\n" : " levels)\n");
      continue;
    }
    out << TagLabel(t.tag) << ": " << t.problems.size() << (t.problems.size() == 1 ? " problem" : " problems")
        << (t.problems.size() >= 20 ? " (the first 20)" : "") << "\n";
    for (const std::string& p : t.problems) out << "  " << p << "\n";
  }
  return check.Ok() ? ReportEngineFailure(err) : 1;
}

}  // namespace zedra::cli
