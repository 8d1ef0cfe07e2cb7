// Known folders and COM task memory.
//
// SHGetKnownFolderPath knows one folder, FOLDERID_LocalAppData, which on a
// POSIX desktop is the user's data folder: $XDG_DATA_HOME when it holds an
// absolute path, else $HOME/.local/share. The folder is not checked or
// created; the caller creates what it needs below it. The text comes back as
// UTF-16 in COM task memory, for the caller to release with CoTaskMemFree.
#include "platform/win32.h"
#include "platform/posix/posix_internal.h"

#include <cstdlib>
#include <new>
#include <string>

// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
const KNOWNFOLDERID FOLDERID_LocalAppData = {
    0xF1B32785u, 0x6FBAu, 0x4FCFu, {0x9Du, 0x55u, 0x7Bu, 0x8Eu, 0x7Fu, 0x15u, 0x70u, 0x91u}};

LPVOID CoTaskMemAlloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(LPVOID memory) { std::free(memory); }

PWSTR posix_standin::TaskMemoryWideCopy(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  auto* out = static_cast<PWSTR>(CoTaskMemAlloc(static_cast<size_t>(length) * sizeof(WCHAR)));
  if (out == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out, length) != length) {
    CoTaskMemFree(out);
    return nullptr;
  }
  return out;
}

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The local application-data folder, or empty when it cannot be had. A
// relative $XDG_DATA_HOME is ignored, as the XDG base-directory rules ask:
// it would move with the current folder.
std::string LocalAppDataFolder() {
  std::string folder = Environment("XDG_DATA_HOME");
  if (folder.empty() || folder[0] != '/') {
    const std::string home = Environment("HOME");
    if (home.empty()) return std::string();
    folder = home + "/.local/share";
  }
  // Windows hands out known folders without a trailing separator.
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// True when text is valid UTF-8, so that UTF-16 can carry it unchanged.
bool IsValidUtf8(const std::string& text) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (wideLength <= 0) return false;
  WideString wide(static_cast<size_t>(wideLength), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], wideLength);
  const int backLength =
      WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (backLength <= 0) return false;
  std::string back(static_cast<size_t>(backLength), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &back[0], backLength, nullptr, nullptr);
  back.pop_back();  // the converted terminator
  return back == text;
}


}  // namespace

// flags and token are not used: there is one user and nothing to create.
HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD /*flags*/, HANDLE /*token*/,
                             PWSTR* path) {
  if (path == nullptr) return E_INVALIDARG;
  *path = nullptr;
  if (folderId != FOLDERID_LocalAppData) return E_FAIL;
  try {
    const std::string folder = LocalAppDataFolder();
    // A folder name that UTF-16 cannot carry would come back altered and
    // lead the caller somewhere else; better to say there is no such folder.
    if (folder.empty() || !IsValidUtf8(folder)) return E_FAIL;
    *path = posix_standin::TaskMemoryWideCopy(folder);
  } catch (const std::bad_alloc&) {
    // A C interface: report, never throw.
  }
  return *path == nullptr ? E_OUTOFMEMORY : S_OK;
}
