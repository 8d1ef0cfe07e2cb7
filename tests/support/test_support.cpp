#include "tests/support/test_support.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace testing_support {
namespace fs = std::filesystem;

namespace {

fs::path TempBase() {
  if (const char* base = std::getenv("QUILLMERE_TEST_TMP")) return fs::path(base);
  return fs::temp_directory_path();
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = TempBase() / ("quillmere-test-" + std::to_string(device()) + "-" +
                                       std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      root = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code error;
  // Tests may leave folders without permissions behind; give them back first.
  for (auto it = fs::recursive_directory_iterator(
           root, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(root, error);
}

std::string TempDir::File(const std::string& name) const { return (root / name).string(); }

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace testing_support
