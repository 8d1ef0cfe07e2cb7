// The program's command-line arguments as UTF-8 text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillmere {

// The arguments after the program's name, at most the first `limit` of them,
// each as the UTF-8 text the user typed. Where the system hands the program
// UTF-16 text, that command line is split and converted with WideToUtf8 and
// argv is not used, and a drive-relative argument ("X:" or "X:name", with no
// separator after the colon) is first made a full path as GetFullPathNameW
// makes it, against that drive's current folder; elsewhere argv's bytes pass
// unchanged. Every other argument stands as typed, so messages show it so.
// Later arguments are never converted.
std::vector<std::string> CommandLineArguments(int argc, char** argv, size_t limit);

}  // namespace quillmere
