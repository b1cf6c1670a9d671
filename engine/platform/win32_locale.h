// Windows only: the locale of any language, as the system describes it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zedra::platform {

// The short-date pattern and separators of a language identifier (0x0407 German,
// 0x040C French ...) as the system defines them, without the user's own changes; an
// identifier the system does not know gives the defaults of LocaleInfo.
LocaleInfo LocaleInfoOf(uint16_t language_id);

}  // namespace zedra::platform
