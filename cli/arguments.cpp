#include "cli/arguments.h"

#include "engine/text.h"
#include "platform/win32.h"

#if QUILLMERE_WIDE_COMMAND_LINE
#include <shellapi.h>

#include <memory>
#endif

namespace quillmere {

#if QUILLMERE_WIDE_COMMAND_LINE

namespace {

// CommandLineToArgvW hands out one LocalAlloc block for the whole array.
struct LocalFreeDeleter {
  void operator()(LPWSTR* block) const { LocalFree(block); }
};

// "X:" or "X:name": a drive's own current folder, or a name in it, which
// the standard library's path rules take for a root name and a name with no
// folder between them.
bool IsDriveRelative(const WideString& argument) {
  if (argument.size() < 2 || argument[1] != L':') return false;
  const WCHAR letter = argument[0];
  if (!((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z'))) return false;
  return argument.size() == 2 || (argument[2] != L'\\' && argument[2] != L'/');
}

// The argument as GetFullPathNameW makes it, the way Windows reads it
// itself; as it stands when that fails.
WideString DriveRelativeMadeFull(const WideString& argument) {
  WideString full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(argument.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (length == 0) return argument;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the size asked for, the terminator included
  }
}

}  // namespace

// argv holds the command line in the ANSI code page, which loses letters
// outside it; the UTF-16 command line keeps every letter the user typed.
std::vector<std::string> CommandLineArguments(int, char**, size_t limit) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  if (!wide) return arguments;
  for (int i = 1; i < count && arguments.size() < limit; ++i) {
    WideString argument(wide.get()[i]);
    if (IsDriveRelative(argument)) argument = DriveRelativeMadeFull(argument);
    arguments.push_back(WideToUtf8(argument));
  }
  return arguments;
}

#else

std::vector<std::string> CommandLineArguments(int argc, char** argv, size_t limit) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc && arguments.size() < limit; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

#endif

}  // namespace quillmere
