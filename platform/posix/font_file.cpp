// Windows font paths on a fontconfig desktop: the family a Windows font file
// holds is asked of fontconfig, which answers with the installed font it
// would draw that family with.
#include "platform/win32.h"

#include <fontconfig/fontconfig.h>

#include <cctype>
#include <memory>
#include <string>

namespace {

struct PatternDestroy {
  void operator()(FcPattern* pattern) const { FcPatternDestroy(pattern); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDestroy>;

std::string LowerCaseFileName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The family of the Windows font files the programs ask for; empty for any
// other file.
std::string FamilyOfWindowsFontFile(const std::string& fileName) {
  if (fileName == "segoeui.ttf") return "Segoe UI";
  return std::string();
}

// The file of fontconfig's best match for family, empty when the match
// names no file (no fonts configured at all).
std::string MatchedFontFile(const std::string& family) {
  Pattern wanted(FcPatternCreate());
  if (!wanted || !FcPatternAddString(wanted.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()))) {
    return std::string();
  }
  FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern);
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  Pattern match(FcFontMatch(nullptr, wanted.get(), &result));
  FcChar8* file = nullptr;
  if (!match || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch || file == nullptr) {
    return std::string();
  }
  return reinterpret_cast<const char*>(file);
}

}  // namespace

std::string LocalFontFile(const std::string& windowsFontPath) {
  const std::string family = FamilyOfWindowsFontFile(LowerCaseFileName(windowsFontPath));
  if (family.empty()) return windowsFontPath;
  const std::string file = MatchedFontFile(family);
  return file.empty() ? windowsFontPath : file;
}
