// The tree builder of one tag (the sorting part of MakeIndex and AddIndexTag).
#pragma once

#include <cstdint>

#include "index/index.h"

namespace zedra::index {

struct BuildResult {
  int32_t root = 0;           // block of the root node
  bool for_has_keys = false;  // a record satisfied the FOR condition
};

// Sorts the keys of every record of the area's table and writes the tag's tree at the
// end of the index file. REQUIRES: the tag's key maker, comparator, lengths and
// expressions are set. False after reporting the failure; the temporary file is gone
// either way.
bool BuildTagTree(TagControl& tag, DbfArea& area, IndexFile& file, BuildResult* result);

}  // namespace zedra::index
