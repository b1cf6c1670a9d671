// Rewriting a table crash-safely: Pack, Zap and PackMemofile build the new table file and
// the new memo file completely beside the old ones, then commit them with a journal.
//
// Files beside TABLE.DBF while a rewrite runs (all in the table's directory):
//   TABLE.$$D  the new table file
//   TABLE.$$$  the new memo file (the memo packer's temporary, as other programs know it)
//   TABLE.$$J  the journal: written and flushed before the first rename, removed after
//              the last; while it exists the new files are the table
// A process killed at any point leaves either the old files, or the journal and what is
// left of the renames; the next Use finishes the renames (roll forward) or, without a
// valid journal, removes the temporaries (roll back).
//
// Journal layout, little-endian:
//   OFFSET | SIZE | MEANING
//        0 |    8 | "ZDRJRNL1"
//        8 |    1 | number of renames (1 or 2)
//        9 |    - | per rename: 1 byte length, the temporary's name; 1 byte length, the
//          |      | final name (names without directory, in the table's directory)
//      end |    4 | FNV-1a hash of every byte before it
#pragma once

#include <cstdint>
#include <string>

#include "table/work_area.h"

namespace zedra {

struct RewriteOptions {
  bool drop_deleted = false;  // Pack: records flagged "*" are not copied
  bool drop_all = false;      // Zap: no record is copied; the memo file starts empty
  bool pack_memos = false;    // the memos the records refer to are copied to a new file
  bool force = false;         // memos that cannot be read are dropped instead of stopping
  std::string operation;      // named in messages
};

// Rewrites the area's table file (and memo file). REQUIRES: the area is exclusive.
// Every check that can fail runs before anything changes: free space on the volume, the
// temporaries can be created, and every memo can be read. A memo that cannot be read
// stops the rewrite (its error code, the records named) unless force is set; then its
// reference becomes blank and *dropped counts it. After the commit the area's files are
// open again; the record buffer and position are left to the caller.
bool RewriteTable(DbfArea& area, const RewriteOptions& options, int32_t* dropped = nullptr);

// Finishes or undoes a rewrite that a killed process left behind for the table file
// `path`. Runs before the table is opened. False with the error recorded when a journal
// exists that cannot be carried out.
bool FinishInterruptedRewrite(const std::string& path);

}  // namespace zedra
