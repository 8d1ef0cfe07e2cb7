// A stand-in `zenity` put first on PATH for the life of the object: it
// records the arguments of each call and answers as zenity would, with
// prepared paths joined by the --separator it was given, or with a cancel
// (exit 1) when nothing is prepared. Child processes started meanwhile
// (the windowed program) inherit it through PATH.
#pragma once

#include "tests/support/test_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace quillmere {

class FakeZenity {
 public:
  FakeZenity() {
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    testing_support::WriteText(dir_.path() / "zenity", kScript);
    chmod((dir_.path() / "zenity").c_str(), 0755);
    setenv("PATH", (dir_.path().string() + ":" + savedPath_).c_str(), 1);
  }
  ~FakeZenity() { setenv("PATH", savedPath_.c_str(), 1); }
  FakeZenity(const FakeZenity&) = delete;
  FakeZenity& operator=(const FakeZenity&) = delete;

  // The answer to a call with --multiple (several) or without it (single).
  void AnswerMultiple(const std::vector<std::string>& paths) { Prepare("answer-multiple", paths); }
  void AnswerSingle(const std::string& path) { Prepare("answer-single", {path}); }
  // From now on every call is cancelled.
  void CancelAll() {
    std::filesystem::remove(dir_.path() / "answer-multiple");
    std::filesystem::remove(dir_.path() / "answer-single");
  }

  // The arguments of the last call, one per element; empty before any call.
  std::vector<std::string> LastArguments() const {
    std::vector<std::string> args;
    if (!std::filesystem::exists(dir_.path() / "args")) return args;
    std::string text = testing_support::ReadText(dir_.path() / "args");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      args.push_back(text.substr(start, end - start));
    }
    return args;
  }
  int Calls() const {
    if (!std::filesystem::exists(dir_.path() / "calls")) return 0;
    return std::atoi(testing_support::ReadText(dir_.path() / "calls").c_str());
  }

 private:
  void Prepare(const char* name, const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) text += path + "\n";
    testing_support::WriteText(dir_.path() / name, text);
  }

  static constexpr const char* kScript = R"(#!/bin/sh
here=$(dirname "$0")
calls=$(cat "$here/calls" 2>/dev/null || echo 0)
echo $((calls + 1)) > "$here/calls"
printf '%s\n' "$@" > "$here/args"
multiple=0
separator='|'
for arg in "$@"; do
  case "$arg" in
    --multiple) multiple=1 ;;
    --separator=*) separator=${arg#--separator=} ;;
  esac
done
answer="$here/answer-single"
[ "$multiple" = 1 ] && answer="$here/answer-multiple"
[ -f "$answer" ] || exit 1
first=1
while IFS= read -r path; do
  [ "$first" = 1 ] || printf '%s' "$separator"
  printf '%s' "$path"
  first=0
done < "$answer"
printf '\n'
)";

  testing_support::TempDir dir_;
  std::string savedPath_;
};

}  // namespace quillmere
