// Helpers shared by the test programs: a temporary folder per test on a real
// file system, and whole-file reads and writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder (or $QUILLMERE_TEST_TMP),
// removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return root; }
  // root / name as a UTF-8 (native byte) string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path root;
};

// Deterministic bytes: the same seed and size give the same content.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed = 1);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);

}  // namespace testing_support
