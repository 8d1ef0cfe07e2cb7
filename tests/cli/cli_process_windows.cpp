// Windows: the program is started with CreateProcessW on a UTF-16 command
// line, as a shell would start it, so its arguments arrive as UTF-16.

#include "tests/cli/cli_process.h"

#include "engine/text.h"
#include "platform/win32.h"

#include <stdexcept>
#include <thread>

namespace cli_test {
namespace fs = std::filesystem;

namespace {

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes are doubled only where a quote follows them.
WideString QuoteArgument(const WideString& argument) {
  WideString quoted = QUILLMERE_WIDE("\"");
  size_t backslashes = 0;
  for (WCHAR c : argument) {
    if (c == QUILLMERE_WIDE('\\')) {
      ++backslashes;
      continue;
    }
    quoted.append(c == QUILLMERE_WIDE('"') ? backslashes * 2 + 1 : backslashes,
                  QUILLMERE_WIDE('\\'));
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, QUILLMERE_WIDE('\\'));
  return quoted + QUILLMERE_WIDE("\"");
}

struct OwnedHandle {
  HANDLE handle = nullptr;
  ~OwnedHandle() { Close(); }
  void Close() {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
  }
};

// A pipe whose write end the child inherits and whose read end it does not.
void MakePipe(OwnedHandle& read, OwnedHandle& write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&read.handle, &write.handle, &inherit, 0) ||
      !SetHandleInformation(read.handle, HANDLE_FLAG_INHERIT, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
}

void ReadAll(HANDLE pipe, std::string& sink) {
  char buffer[65536];
  DWORD count = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    sink.append(buffer, count);
  }
}

// The C runtime writes "\n" to a pipe in text mode as "\r\n"; the tests
// compare the program's texts as written.
std::string WithoutTextModeLineEnds(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
  }
  return plain;
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& arguments, const fs::path& workingFolder,
              const std::vector<std::string>& extraEnvironment) {
  if (!extraEnvironment.empty()) throw std::logic_error("check CanSetEnvironment first");
  WideString commandLine = QuoteArgument(quillmere::Utf8ToWide(QUILLMERE_CLI_PATH));
  for (const std::string& argument : arguments) {
    commandLine += QUILLMERE_WIDE(" ") + QuoteArgument(quillmere::Utf8ToWide(argument));
  }
  OwnedHandle outRead, outWrite, errRead, errWrite;
  MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = outWrite.handle;
  startup.hStdError = errWrite.handle;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      workingFolder.c_str(), &startup, &process)) {
    throw std::runtime_error("CreateProcessW failed: error " + std::to_string(GetLastError()));
  }
  OwnedHandle child{process.hProcess};
  OwnedHandle thread{process.hThread};
  outWrite.Close();
  errWrite.Close();

  CliRun run;
  std::thread errReader(ReadAll, errRead.handle, std::ref(run.err));
  ReadAll(outRead.handle, run.out);
  errReader.join();
  WaitForSingleObject(child.handle, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(child.handle, &exitCode);
  run.exitCode = static_cast<int>(exitCode);
  run.out = WithoutTextModeLineEnds(run.out);
  run.err = WithoutTextModeLineEnds(run.err);
  return run;
}

bool CanSetEnvironment() { return false; }

bool CanRunUnprivileged() { return false; }

CliRun RunCliUnprivileged(const std::vector<std::string>&, const fs::path&, const fs::path&) {
  throw std::logic_error("no unprivileged runs here; check CanRunUnprivileged first");
}

}  // namespace cli_test
