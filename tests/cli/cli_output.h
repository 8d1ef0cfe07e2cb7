// Reading back what quillmere_cli writes: progress lines, error lines and
// the closing texts, checked against their fixed layouts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli_test {

// One self-overwriting progress line, "\r" already taken off.
struct ProgressLine {
  bool longForm = false;     // begins with "[Tong"
  double totalPercent = 0;   // long form only
  std::string pathField;     // the path as written, padded to 35 bytes
  std::string path;          // pathField without the padding
  double filePercent = 0;
  double speed = 0;          // MB/s
};

struct ParsedOutput {
  std::vector<ProgressLine> progress;  // in the order written
  std::string tail;  // what follows the last progress line (or all of it)
};

// Splits standard output into its progress lines and the closing text.
// Each progress line must begin with "\r", carry no line break and have its
// fields in their fixed widths; a line that does not is a test failure.
ParsedOutput ParseStandardOutput(const std::string& out);

// One "\n[LOI] path (giai doan=S, ma loi=C): message\n" line.
struct ErrorLine {
  std::string path;
  int stage = -1;
  long code = 0;
  std::string message;
};

// Parses standard error, which must consist of nothing but error lines of
// the core engine; anything else is a test failure.
std::vector<ErrorLine> ParseErrorLines(const std::string& err);

// A path as the progress line writes it: left-aligned, padded to 35 bytes.
std::string PathField(const std::string& path);

// The folder road's closing text, "\nHoan tat hang doi: ...\n".
std::string QueueSummary(uint64_t succeeded, uint64_t total, uint64_t skipped);

extern const char kUsageText[];
extern const char kSingleFileDone[];    // "\nHoan tat.\n"
extern const char kSingleFileFailed[];  // "\nThat bai hoac da bi bo qua.\n"

// Lines of a text file, without their line feeds.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace cli_test
