#include "tests/engine/queue/readdir_fault.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

namespace readdir_fault {
namespace {

std::mutex guard;
std::string armedFolder;  // canonical path; empty when disarmed
unsigned allowedEntries = 0;
unsigned handedOut = 0;
unsigned injected = 0;

// The folder a DIR stream reads, from its descriptor.
std::string FolderOf(DIR* dir) {
  const std::string link = "/proc/self/fd/" + std::to_string(dirfd(dir));
  char target[PATH_MAX];
  const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return std::string();
  return std::string(target, static_cast<size_t>(length));
}

bool IsDotName(const dirent* entry) {
  return std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0;
}

}  // namespace

void FailListing(const std::filesystem::path& folder, unsigned entriesBefore) {
  const std::string canonical = std::filesystem::canonical(folder).string();
  std::lock_guard<std::mutex> lock(guard);
  armedFolder = canonical;
  allowedEntries = entriesBefore;
  handedOut = 0;
}

unsigned FailuresInjected() {
  std::lock_guard<std::mutex> lock(guard);
  return injected;
}

void Reset() {
  std::lock_guard<std::mutex> lock(guard);
  armedFolder.clear();
  handedOut = 0;
  injected = 0;
}

}  // namespace readdir_fault

extern "C" struct dirent* readdir(DIR* dir) {
  using Readdir = struct dirent* (*)(DIR*);
  static const Readdir next = reinterpret_cast<Readdir>(dlsym(RTLD_NEXT, "readdir"));
  using namespace readdir_fault;
  {
    std::lock_guard<std::mutex> lock(guard);
    if (!armedFolder.empty() && handedOut >= allowedEntries && FolderOf(dir) == armedFolder) {
      ++injected;
      errno = EIO;
      return nullptr;
    }
  }
  struct dirent* entry = next(dir);
  if (entry != nullptr && !IsDotName(entry)) {
    std::lock_guard<std::mutex> lock(guard);
    if (!armedFolder.empty() && FolderOf(dir) == armedFolder) ++handedOut;
  }
  return entry;
}
