#include "cli/console_output.h"

#include "engine/text.h"
#include "engine/text_escape.h"

#include <cstdio>
#include <new>
#include <string>
#include <system_error>

namespace quillmere {

namespace {

// The progress line's path column: shorter paths are padded with blanks.
constexpr size_t kShownPathWidth = 35;

// part * 100 / whole, with the multiplication first; a whole of 0 counts as
// complete.
double Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 100.0;
  return static_cast<double>(part) * 100.0 / static_cast<double>(whole);
}

// A path or a message as the terminal is shown it: control characters and
// malformed UTF-8 escaped, so that a file's name can neither break a line
// nor send the terminal a command (a title, a cleared screen).
std::string Shown(const std::string& text) {
  return EscapeControlCharacters(text, InvalidUtf8::Escaped);
}

}  // namespace

// "\r[Tong %5.1f%%] %-35s %5.1f%%  %7.1f MB/s" with the queue total, the same
// without "[Tong ...] " otherwise; put together by hand, since printf's
// number formatting costs more than a small file's copy should.
void PrintProgress(const ProgressInfo& info) {
  const std::string file = Shown(info.currentFile);
  std::string line = "\r";
  line.reserve(file.size() + 64);
  if (info.totalBytes != 0) {
    line += "[Tong ";
    AppendFixed(line, Percent(info.totalCopied, info.totalBytes), 5, 1);
    line += "%] ";
  }
  line += file;
  if (file.size() < kShownPathWidth) line.append(kShownPathWidth - file.size(), ' ');
  line += ' ';
  AppendFixed(line, Percent(info.fileCopied, info.fileSize), 5, 1);
  line += "%  ";
  AppendFixed(line, info.speed, 7, 1);
  line += " MB/s";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

ErrorAction PrintCopyError(const CopyError& error) {
  std::fprintf(stderr, "\n[LOI] %s (giai doan=%d, ma loi=%ld): %s\n", Shown(error.path).c_str(),
               static_cast<int>(error.stage), static_cast<long>(error.code),
               Shown(error.message).c_str());
  return SKIP;
}

void PrintUsage() {
  std::fputs(
      "Cach dung: quillmere_cli <nguon> <dich>\n"
      "  - Neu <nguon> la thu muc: sao chep de quy toan bo cay thu muc (Queue Manager).\n"
      "  - Neu <nguon> la file: sao chep 1 file don (Core Engine).\n",
      stderr);
}

void PrintErrorLogIncomplete(const char* logPath, int errnoValue) {
  const std::string reason = Shown(std::generic_category().message(errnoValue));
  std::fprintf(stderr,
               "\n[LOI] File nhat ky loi %s thieu dong (khong mo hoac khong ghi duoc): %s\n",
               logPath, reason.c_str());
  std::fflush(stderr);
}

void PrintQueueSummary(const QueueStats& stats) {
  std::printf(
      "\nHoan tat hang doi: %llu/%llu file thanh cong, %llu file bi bo qua "
      "(xem quillmere_errors.log neu co loi).\n",
      static_cast<unsigned long long>(stats.succeededFiles),
      static_cast<unsigned long long>(stats.totalFiles),
      static_cast<unsigned long long>(stats.skippedFiles));
}

void PrintSingleFileResult(bool succeeded) {
  std::printf("\n%s\n", succeeded ? "Hoan tat." : "That bai hoac da bi bo qua.");
}

void PrintProgramFailure(const char* task, const char* detail) {
  // An exception's text may quote a path (a file-system error does), so it
  // is escaped. That needs memory, which may be what ran out: this line must
  // not throw, so the detail is then left out.
  const char* shown = "ngoai le khong ro";
  std::string escaped;
  if (detail != nullptr) {
    try {
      escaped = Shown(detail);
      shown = escaped.c_str();
    } catch (const std::bad_alloc&) {
    }
  }
  std::fprintf(stderr, "\n[LOI] %s that bai: %s\n", task, shown);
  std::fflush(stderr);
}

}  // namespace quillmere
