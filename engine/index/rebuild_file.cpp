// Rebuilding an index file without ever being without it: the tags are built into a
// temporary file beside it, which is renamed over the old file only when it is complete.
// A failure, or a program killed during the build, leaves the old file with every tag.
#include "base/errors.h"
#include "base/files.h"
#include "index/index.h"
#include "index/index_internal.h"
#include "platform/platform.h"

namespace zedra {

bool RebuildIndexFile(const std::vector<TagInfo>& tags, const std::string& file_name) {
  const std::string temp = ForceExtension(file_name, "$$I");
  bool built;
  uint16_t code = 0;
  std::string message;
  {
    AutoReportScope quiet(false);
    built = MakeIndex(tags, temp);
    if (built) {
      if (uint32_t error = platform::RenameFile(temp, file_name); error != 0) {
        SetError(uint16_t(error), "Cannot rename " + temp + " to " + file_name + " [Reindex]");
        built = false;
      }
    }
    if (!built) {
      code = ErrorCode();
      message = Errors().PendingMessage;
      platform::RemoveFile(temp);
      // The old file, as it was, is opened again.
      SetIndexTo(file_name);
    }
  }
  if (!built) {
    SetError(code != 0 ? code : index::kErrInternal, message);
    return false;
  }
  return SetIndexTo(file_name);
}

}  // namespace zedra
