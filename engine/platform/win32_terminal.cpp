// The terminal test of the tool's progress display, and the tool's UTF-8 arguments and
// streams on Windows.
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace zedra::platform {
namespace {

std::string Utf8Of(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

UINT console_output_page = 0;

void RestoreConsole() {
  if (console_output_page != 0) ::SetConsoleOutputCP(console_output_page);
}

}  // namespace

bool StandardErrorIsTerminal() {
  // A console answers GetConsoleMode; a pipe, a file and NUL do not (_isatty would call
  // NUL a terminal, as it is a character device).
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::vector<std::string> ToolArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  if (!wide) {
    if (argc > 1) args.assign(argv + 1, argv + argc);
    return args;
  }
  for (int i = 1; i < count; ++i) args.push_back(Utf8Of(wide[i]));
  ::LocalFree(wide);
  return args;
}

void PrepareStandardStreams() {
  // Bytes go out as the tool writes them: no CR before each LF.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A console shows the tool's UTF-8 as text; the console's own page comes back at exit.
  DWORD mode = 0;
  if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
      ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) {
    const UINT page = ::GetConsoleOutputCP();
    if (page != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
      console_output_page = page;
      std::atexit(RestoreConsole);
    }
  }
}

}  // namespace zedra::platform
