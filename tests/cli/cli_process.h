// Runs the built quillmere_cli as a user would: its own process, a chosen
// current folder, standard output and standard error captured apart.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cli_test {

struct CliRun {
  int exitCode = -1;  // the exit status; -signal when a signal ended it
  std::string out;    // everything written to standard output
  std::string err;    // everything written to standard error
};

// Runs quillmere_cli with arguments (program name not included) in
// workingFolder and waits for it. extraEnvironment ("NAME=value" each) is
// added to the inherited environment; only where CanSetEnvironment().
CliRun RunCli(const std::vector<std::string>& arguments,
              const std::filesystem::path& workingFolder,
              const std::vector<std::string>& extraEnvironment = {});

bool CanSetEnvironment();

// Where the program's standard output or standard error goes.
enum class OutputSink {
  Captured,    // a pipe read to its end into CliRun
  ClosedPipe,  // a pipe whose read end was closed before the program started
  DeviceFull,  // /dev/full: every write fails for want of space
};

// As RunCli, with each stream sent where given; a stream not captured reads
// back empty. POSIX hosts only (cli_process_posix.cpp).
CliRun RunCliWithOutputs(const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingFolder, OutputSink out,
                         OutputSink err);

// Whether RunCliUnprivileged is possible: where file modes are POSIX modes.
bool CanRunUnprivileged();

// As RunCli, but bound by file modes: as an unprivileged user (nobody,
// 65534, with no supplementary groups) when the tests run as root, else as
// ourselves. A copy of the program is placed in binFolder, which must be
// readable by that user, since the build folder may not be.
CliRun RunCliUnprivileged(const std::vector<std::string>& arguments,
                          const std::filesystem::path& workingFolder,
                          const std::filesystem::path& binFolder);

}  // namespace cli_test
