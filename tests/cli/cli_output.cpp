#include "tests/cli/cli_output.h"

#include <gtest/gtest.h>

#include <regex>

namespace cli_test {

const char kUsageText[] =
    "Cach dung: quillmere_cli <nguon> <dich>\n"
    "  - Neu <nguon> la thu muc: sao chep de quy toan bo cay thu muc (Queue Manager).\n"
    "  - Neu <nguon> la file: sao chep 1 file don (Core Engine).\n";
const char kSingleFileDone[] = "\nHoan tat.\n";
const char kSingleFileFailed[] = "\nThat bai hoac da bi bo qua.\n";

namespace {

// "%5.1f": at least 5 characters, right-aligned, one decimal.
bool IsFixedWidthNumber(const std::string& field, size_t width) {
  static const std::regex number(R"(^ *\d+\.\d$)");
  if (!std::regex_match(field, number)) return false;
  return field.size() == width || (field.size() > width && field[0] != ' ');
}

std::string TrimPadding(const std::string& field) {
  size_t end = field.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : field.substr(0, end + 1);
}

bool ParseProgressLine(const std::string& text, ProgressLine& line) {
  static const std::regex longForm(
      R"(^\[Tong ([ 0-9.]{5,})%\] (.*) ([ 0-9.]{5,})%  ([ 0-9.]{7,}) MB/s$)");
  static const std::regex shortForm(R"(^(.*) ([ 0-9.]{5,})%  ([ 0-9.]{7,}) MB/s$)");
  std::smatch match;
  std::string total;
  if (std::regex_match(text, match, longForm)) {
    line.longForm = true;
    total = match[1];
    if (!IsFixedWidthNumber(total, 5)) return false;
    line.totalPercent = std::stod(total);
  } else if (text.rfind("[Tong", 0) != 0 && std::regex_match(text, match, shortForm)) {
    line.longForm = false;
  } else {
    return false;
  }
  const size_t first = line.longForm ? 2 : 1;
  line.pathField = match[first];
  const std::string file = match[first + 1];
  const std::string speed = match[first + 2];
  if (line.pathField.size() < 35 || !IsFixedWidthNumber(file, 5) ||
      !IsFixedWidthNumber(speed, 7)) {
    return false;
  }
  line.path = TrimPadding(line.pathField);
  line.filePercent = std::stod(file);
  line.speed = std::stod(speed);
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
  static const std::regex errorLine(
      R"(^\[LOI\] (.*) \(giai doan=(-?\d+), ma loi=(-?\d+)\): (.*)$)");
  std::vector<ErrorLine> lines;
  std::string rebuilt;
  for (const std::string& text : SplitLines(err)) {
    if (text.empty()) continue;
    std::smatch match;
    if (!std::regex_match(text, match, errorLine)) {
      ADD_FAILURE() << "not an error line: [" << text << "]";
      continue;
    }
    lines.push_back({match[1], std::stoi(match[2]), std::stol(match[3]), match[4]});
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
