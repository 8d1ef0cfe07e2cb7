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

}  // namespace

// argv holds the command line in the ANSI code page, which loses letters
// outside it; the UTF-16 command line keeps every letter the user typed.
std::vector<std::string> CommandLineArguments(int, char**, size_t limit) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  if (!wide) return arguments;
  for (int i = 1; i < count && arguments.size() < limit; ++i) {
    arguments.push_back(WideToUtf8(WideString(wide.get()[i])));
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
