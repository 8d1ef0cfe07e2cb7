#include "cli/console_output.h"

#include <cstdio>
#include <string>
#include <system_error>

namespace quillmere {

namespace {

// part * 100 / whole, with the multiplication first; a whole of 0 counts as
// complete.
double Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 100.0;
  return static_cast<double>(part) * 100.0 / static_cast<double>(whole);
}

}  // namespace

void PrintProgress(const ProgressInfo& info) {
  const double filePercent = Percent(info.fileCopied, info.fileSize);
  if (info.totalBytes != 0) {
    std::printf("\r[Tong %5.1f%%] %-35s %5.1f%%  %7.1f MB/s",
                Percent(info.totalCopied, info.totalBytes), info.currentFile.c_str(),
                filePercent, info.speed);
  } else {
    std::printf("\r%-35s %5.1f%%  %7.1f MB/s", info.currentFile.c_str(), filePercent,
                info.speed);
  }
  std::fflush(stdout);
}

ErrorAction PrintCopyError(const CopyError& error) {
  std::fprintf(stderr, "\n[LOI] %s (giai doan=%d, ma loi=%ld): %s\n", error.path.c_str(),
               static_cast<int>(error.stage), static_cast<long>(error.code),
               error.message.c_str());
  return SKIP;
}

void PrintUsage() {
  std::fputs(
      "Cach dung: quillmere_cli <nguon> <dich>\n"
      "  - Neu <nguon> la thu muc: sao chep de quy toan bo cay thu muc (Queue Manager).\n"
      "  - Neu <nguon> la file: sao chep 1 file don (Core Engine).\n",
      stderr);
}

void PrintErrorLogUnavailable(const char* logPath, int errnoValue) {
  const std::string reason = std::generic_category().message(errnoValue);
  std::fprintf(stderr, "\n[LOI] Khong the mo file nhat ky loi %s: %s\n", logPath, reason.c_str());
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
  std::fprintf(stderr, "\n[LOI] %s that bai: %s\n", task,
               detail != nullptr ? detail : "ngoai le khong ro");
  std::fflush(stderr);
}

}  // namespace quillmere
