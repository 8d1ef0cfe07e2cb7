#include "tests/cli/cli_output.h"

#include <gtest/gtest.h>

#include <cctype>

namespace cli_test {

const char kUsageText[] =
    "Cach dung: quillmere_cli <nguon> <dich>\n"
    "  - Neu <nguon> la thu muc: sao chep de quy toan bo cay thu muc (Queue Manager).\n"
    "  - Neu <nguon> la file: sao chep 1 file don (Core Engine).\n";
const char kSingleFileDone[] = "\nHoan tat.\n";
const char kSingleFileFailed[] = "\nThat bai hoac da bi bo qua.\n";

namespace {

// "%5.1f" and "%7.1f": right-aligned in at least `width` characters, digits,
// a point and one decimal.
bool IsFixedWidthNumber(const std::string& field, size_t width) {
  const size_t digits = field.find_first_not_of(' ');
  if (digits == std::string::npos || field.size() < width) return false;
  if (field.size() > width && digits != 0) return false;
  const size_t point = field.size() - 2;
  if (field[point] != '.' || point == digits) return false;
  for (size_t i = digits; i < field.size(); ++i) {
    if (i != point && !std::isdigit(static_cast<unsigned char>(field[i]))) return false;
  }
  return true;
}

std::string TrimPadding(const std::string& field) {
  size_t end = field.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "[Tong ttt.t%] " is taken off the front of a long-form line.
bool TakeTotal(std::string& text, ProgressLine& line) {
  line.longForm = StartsWith(text, "[Tong ");
  if (!line.longForm) return true;
  const size_t close = text.find("%] ");
  if (close == std::string::npos) return false;
  const std::string total = text.substr(6, close - 6);
  if (!IsFixedWidthNumber(total, 5)) return false;
  line.totalPercent = std::stod(total);
  text.erase(0, close + 3);
  return true;
}

// What remains: "<path padded to 35> fff.f%  sssss.s MB/s".
bool ParseFileFields(const std::string& text, ProgressLine& line) {
  if (!EndsWith(text, " MB/s")) return false;
  const size_t gap = text.rfind("%  ");
  if (gap == std::string::npos || gap < 6) return false;
  const std::string speed = text.substr(gap + 3, text.size() - 5 - (gap + 3));
  const std::string file = text.substr(gap - 5, 5);
  if (text[gap - 6] != ' ' || !IsFixedWidthNumber(file, 5) || !IsFixedWidthNumber(speed, 7)) {
    return false;
  }
  line.pathField = text.substr(0, gap - 6);
  line.path = TrimPadding(line.pathField);
  line.filePercent = std::stod(file);
  line.speed = std::stod(speed);
  return line.pathField.size() >= 35;
}

bool ParseProgressLine(std::string text, ProgressLine& line) {
  return TakeTotal(text, line) && ParseFileFields(text, line);
}

// "[LOI] path (giai doan=S, ma loi=C): message"
bool ParseErrorLine(const std::string& text, ErrorLine& line) {
  static const std::string stageMark = " (giai doan=";
  static const std::string codeMark = ", ma loi=";
  static const std::string messageMark = "): ";
  if (!StartsWith(text, "[LOI] ")) return false;
  const size_t stage = text.find(stageMark, 6);
  const size_t code = text.find(codeMark, stage == std::string::npos ? 0 : stage);
  const size_t message = text.find(messageMark, code == std::string::npos ? 0 : code);
  if (stage == std::string::npos || code == std::string::npos || message == std::string::npos) {
    return false;
  }
  const std::string stageText = text.substr(stage + stageMark.size(), code - stage - stageMark.size());
  const std::string codeText = text.substr(code + codeMark.size(), message - code - codeMark.size());
  size_t used = 0;
  line.path = text.substr(6, stage - 6);
  line.stage = std::stoi(stageText, &used);
  if (used != stageText.size()) return false;
  line.code = std::stol(codeText, &used);
  if (used != codeText.size()) return false;
  line.message = text.substr(message + messageMark.size());
  return true;
}

}  // namespace

ParsedOutput ParseStandardOutput(const std::string& out) {
  ParsedOutput parsed;
  size_t start = out.find('\r');
  if (start != 0) {
    parsed.tail = out;
    EXPECT_EQ(start, std::string::npos) << "text before the first progress line: " << out;
    return parsed;
  }
  while (start != std::string::npos) {
    size_t next = out.find('\r', start + 1);
    std::string text = out.substr(start + 1, next == std::string::npos ? next : next - start - 1);
    if (next == std::string::npos) {
      size_t lineBreak = text.find('\n');
      if (lineBreak != std::string::npos) {
        parsed.tail = text.substr(lineBreak);
        text.resize(lineBreak);
      }
    }
    ProgressLine line;
    EXPECT_TRUE(ParseProgressLine(text, line)) << "malformed progress line: [" << text << "]";
    parsed.progress.push_back(line);
    start = next;
  }
  return parsed;
}

std::vector<ErrorLine> ParseErrorLines(const std::string& err) {
  std::vector<ErrorLine> lines;
  std::string rebuilt;
  for (const std::string& text : SplitLines(err)) {
    if (text.empty()) continue;
    ErrorLine line;
    if (!ParseErrorLine(text, line)) {
      ADD_FAILURE() << "not an error line: [" << text << "]";
      continue;
    }
    lines.push_back(line);
    rebuilt += "\n" + text + "\n";
  }
  EXPECT_EQ(err, rebuilt) << "each error line must stand alone between two line breaks";
  return lines;
}

std::string PathField(const std::string& path) {
  return path.size() >= 35 ? path : path + std::string(35 - path.size(), ' ');
}

std::string QueueSummary(uint64_t succeeded, uint64_t total, uint64_t skipped) {
  return "\nHoan tat hang doi: " + std::to_string(succeeded) + "/" + std::to_string(total) +
         " file thanh cong, " + std::to_string(skipped) +
         " file bi bo qua (xem quillmere_errors.log neu co loi).\n";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace cli_test
