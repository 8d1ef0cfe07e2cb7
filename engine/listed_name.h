// The names a folder listing hands out, and whether each one names an entry
// of its folder once joined to it.
//
// The standard library gives a listed entry only as its folder joined with
// its name by the path-append rule, and that rule lets a name with a drive
// or a root replace the folder: on Windows a name "z:.." or "c:outside"
// (which another system can put on a disk) would lead the walk out of the
// tree. Names are therefore taken back out of the joined path and checked
// before anything is done with them.
#pragma once

#include <filesystem>

namespace quillmere {

// The name under which the listing of `folder` gave `entry`: what follows
// the folder's text (and the separator the join puts after it where
// `separated`), or the whole entry where the join replaced the folder.
// `separated` is whether the folder has a filename, so that the join adds a
// separator (not for "src/", "C:\" or a bare drive "C:").
std::filesystem::path::string_type ListedName(const std::filesystem::path::string_type& entry,
                                              const std::filesystem::path::string_type& folder,
                                              bool separated);

// Whether name, joined to its folder by the platform's path rules, names an
// entry of that folder: exactly one element, no drive, no root, no
// separator, neither "." nor "..". On POSIX only "/" makes a name more than
// one element, so "c:d" or "q\r" are plain names there.
bool IsPlainName(const std::filesystem::path& name);

}  // namespace quillmere
