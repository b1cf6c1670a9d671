// Reading an index file's tag definitions without opening it as the table's index, and
// checking every tag's tree against the table: the structure of the tree, the order of
// its keys, and one key for every record that belongs in it. Nothing in the file is
// trusted before it has been checked against the file's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/index.h"

namespace zedra {

struct TagSummary {
  int number = 0;  // entry in the tag table
  std::string name;
  char key_type = ' ';
  uint16_t key_length = 0;
  uint16_t entry_length = 0;
  uint16_t max_keys = 0;
  bool descending = false;
  bool unique = false;
  uint32_t anchor = 0;
  uint32_t root = 0;
  std::string key;
  std::string for_expr;
  bool for_has_keys = false;
  bool anchor_read = false;  // false: the anchor lies outside the file, the fields above it are 0
};

// The tags of an index file. False with *problem when the file cannot be read as one;
// tags whose anchor lies outside the file are returned with anchor_read false.
bool ReadTagSummaries(const std::string& path, std::vector<TagSummary>* tags,
                      std::string* problem);

struct TagCheck {
  TagSummary tag;
  std::vector<std::string> problems;  // the first ones found, each naming its block
  uint64_t keys = 0;
  uint32_t nodes = 0;
  int depth = 0;
};

struct IndexCheck {
  std::vector<std::string> file_problems;
  std::vector<TagCheck> tags;
  bool Ok() const;
};

// Checks the tags of the index file (only_tag: that one) against the table of the
// current work area. built adds what holds only right after a build: equal keys in
// ascending record order, and a unique tag holding the lowest record of each key.
IndexCheck CheckIndexFile(const std::string& path, const std::string& only_tag, bool built);

}  // namespace zedra
