// The parts of the locale that do not depend on the system: the test's override, POSIX
// locale names as Windows language identifiers and strftime formats as Windows patterns.
#include <utility>

#include "platform/layer.h"

namespace zedra::platform {
namespace {

std::optional<LocaleInfo>& LocaleOverride() {
  static std::optional<LocaleInfo> value;
  return value;
}

}  // namespace

namespace layer {

const std::optional<LocaleInfo>& CurrentLocaleOverride() { return LocaleOverride(); }

char DateSeparatorOf(const std::string& pattern) {
  for (char c : pattern)
    if (c != 'd' && c != 'M' && c != 'y') return c;
  return '/';
}

}  // namespace layer

void SetLocaleOverride(std::optional<LocaleInfo> locale) { LocaleOverride() = std::move(locale); }

uint16_t LanguageIdFromLocaleName(const std::string& name) {
  std::string lang = name.substr(0, name.find_first_of(".@"));
  std::string primary = lang.substr(0, lang.find('_'));
  std::string region = lang.find('_') == std::string::npos ? "" : lang.substr(lang.find('_') + 1);
  if (primary == "en") return region == "US" || region.empty() ? 0x0409 : 0x0809;
  if (primary == "de") return 0x0407;
  if (primary == "fr") return region == "CA" ? 0x0C0C : 0x040C;
  if (primary == "es") return 0x0C0A;
  if (primary == "it") return 0x0410;
  if (primary == "ru") return 0x0419;
  return 0x0409;
}

std::string WindowsDatePattern(const std::string& format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    char c = format[++i];
    if (c == 'E' || c == 'O' || c == '-') {  // modifiers: take the conversion after them
      if (i + 1 >= format.size()) break;
      c = format[++i];
    }
    switch (c) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "MM"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'b': case 'h': out += "MMM"; break;
      case 'B': out += "MMMM"; break;
      case 'D': out += "MM/dd/yy"; break;
      case 'F': out += "yyyy-MM-dd"; break;
      case '%': out += '%'; break;
      default: break;
    }
  }
  return out;
}

}  // namespace zedra::platform
