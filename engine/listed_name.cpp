#include "engine/listed_name.h"

#include <iterator>

namespace fs = std::filesystem;

namespace quillmere {

fs::path::string_type ListedName(const fs::path::string_type& entry,
                                 const fs::path::string_type& folder, bool separated) {
  const size_t start = folder.size() + (separated ? 1 : 0);
  const bool joined = entry.size() > start && entry.compare(0, folder.size(), folder) == 0 &&
                      (!separated || entry[folder.size()] == fs::path::preferred_separator);
  return joined ? entry.substr(start) : entry;
}

bool IsPlainName(const fs::path& name) {
  if (name.empty() || name.has_root_path()) return false;
  const fs::path::iterator element = name.begin();
  if (std::next(element) != name.end()) return false;
  return *element != fs::path(".") && *element != fs::path("..");
}

}  // namespace quillmere
