// Everything the console program writes: the progress line, error lines,
// the usage text and the closing lines. Own texts are ASCII (Vietnamese
// without diacritics); paths and system texts are written as their UTF-8
// bytes, and the console's code page is left alone. In paths and system
// texts, control characters and bytes that are not UTF-8 are written as
// escapes (EscapeControlCharacters), so that no name reaches the terminal as
// a command.
#pragma once

#include "engine/queue_manager.h"
#include "engine/types.h"

#include <string>

namespace quillmere {

// Progress callback. Overwrites the current line on standard output: it
// starts with a carriage return and ends without a line break. The long form
// "[Tong  xx.x%] path  xx.x%  speed MB/s" is used when the report carries a
// queue total, the short form without "[Tong ...]" otherwise. Flushes.
void PrintProgress(const ProgressInfo& info);

// Error callback. Writes one line on standard error naming the path, the
// stage number, the Windows code and the message, set off from any progress
// text by a leading line break. Always answers SKIP.
ErrorAction PrintCopyError(const CopyError& error);

// The usage text, on standard error.
void PrintUsage();

// A line of the error log at logPath could not be opened or not be written,
// for the C library's reason errnoValue: one line "[LOI] File nhat ky loi
// <path> thieu dong (khong mo hoac khong ghi duoc): <reason>" on standard
// error, so that the user knows the log is missing lines.
void PrintErrorLogIncomplete(const char* logPath, int errnoValue);

// After a folder run: succeeded/total and skipped files, on standard output.
void PrintQueueSummary(const QueueStats& stats);

// After a single-file copy: "Hoan tat." or "That bai hoac da bi bo qua.".
void PrintSingleFileResult(bool succeeded);

// A failure that the copy engine did not report itself (an exception): one
// line "[LOI] <task> that bai: <detail>" on standard error. detail may be
// null for an exception that carries no text. Throws nothing, even when no
// memory is left: a detail that cannot be escaped then gives way to the
// text for an exception without one.
void PrintProgramFailure(const char* task, const char* detail);

}  // namespace quillmere
