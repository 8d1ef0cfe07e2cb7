// Paths that name a whole volume or disk instead of a file.
#pragma once

#include <string>

namespace quillmere {

// Whether path, read as a Windows path, names a device of the system's
// device namespace itself rather than a file on it: "\\.\" or "\\?\" (or
// "\??\") followed by a single name (C:, PhysicalDrive1, Volume{...}), or
// "\\?\GLOBALROOT\Device\" followed by a device (HarddiskVolume1,
// Harddisk0\Partition0). Either separator counts; case does not. A file
// below such a device ("\\?\C:\x", "\\?\GLOBALROOT\Device\HarddiskVolume1\x")
// and a volume's root folder are no device.
bool NamesRawDevice(const std::string& path);

}  // namespace quillmere
