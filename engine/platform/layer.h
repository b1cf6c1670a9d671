// What the files of this layer share among themselves: the calling thread's last error,
// the fault hook's question before every change and the test's locale. Not for the
// layers above.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace zedra::platform::layer {

// The calling thread's last error, as LastError() reports it.
uint32_t& LastErrorSlot();

// Records a failure's code as the last error and returns it.
inline uint32_t Failed(uint32_t code) { return LastErrorSlot() = code; }

// Asks the fault hook about a change; 0 to go on, or the error the call fails with. A
// write's hook may lower *size to the bytes it lets through.
uint32_t Inject(FileChange change, size_t* size = nullptr);

// Whether every open lets others read the file (LetOthersReadOpenFiles).
bool OthersMayRead();

// The locale a test has put in place, if any.
const std::optional<LocaleInfo>& CurrentLocaleOverride();

// The first character of a Windows date pattern that is no date letter ('/' when there
// is none).
char DateSeparatorOf(const std::string& pattern);

}  // namespace zedra::platform::layer
