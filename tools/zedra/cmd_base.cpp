// Commands of the engine foundation: error texts and date styles.
#include <ostream>

#include "base/dates.h"
#include "base/errors.h"
#include "cli.h"
#include "platform/platform.h"

namespace zedra::cli {

int CmdErrors(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& self = *FindCommand("errors");
  long long code = 0;
  if (args.positional.size() != 1 || !ParseInt(args.positional[0], &code) || code < 0 ||
      code > 65535)
    return UsageError(self, "CODE must be a number from 0 to 65535", err);
  out << ErrorText(static_cast<uint16_t>(code)) << "\n";
  return 0;
}

namespace {

// Day and month names are stored as OEM bytes; the terminal wants UTF-8 without the
// field's padding.
std::string NameForTerminal(const std::string& oem, int style) {
  std::string text = StyleUsesCp866(style) ? platform::Cp866ToUtf8(oem)
                                           : platform::Cp850ToUtf8(oem);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

int CmdDate(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& self = *FindCommand("date");
  if (args.positional.size() != 1) return UsageError(self, "give one date text", err);
  long long style = 0;
  if (args.Has("--style") &&
      (!ParseInt(args.Value("--style"), &style) || style < 0 || style > 8))
    return UsageError(self, "--style takes a number from 0 to 8", err);
  Dates().CenturyOn = args.Has("--century");
  SetDateStyle(static_cast<int>(style));
  const std::string& date = args.positional[0];
  out << "canonical\t" << DateToCanonical(date) << "\n"
      << "DOW\t" << DOW(date) << "\n"
      << "CDOW\t" << NameForTerminal(CDOW(date), static_cast<int>(style)) << "\n"
      << "CMONTH\t" << NameForTerminal(CMONTH(date), static_cast<int>(style)) << "\n";
  return 0;
}

}  // namespace zedra::cli
