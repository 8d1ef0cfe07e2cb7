// The pickers on the common item dialog (the file-open dialog) over COM.
//
// Every COM reference lives in a ComRef and the name in a task-memory owner,
// declared in the order they are obtained, so that they are released in the
// reverse order on every way out: the name, its item, the item array, the
// dialog, and COM's initialisation last.
#include "gui/pickers.h"

#include "engine/text.h"
#include "platform/win32.h"

#include <cstdint>
#include <memory>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#if QUILLMERE_NATIVE_WINDOW_X11
// GLFW's native-access header would pull in the Xlib and XRandR headers
// (and Xlib's macros) for this one call. An X11 window id is an XID, an
// unsigned long.
extern "C" unsigned long glfwGetX11Window(GLFWwindow* window);
#else
#define GLFW_EXPOSE_NATIVE_WIN32
#include <GLFW/glfw3native.h>
#endif

namespace quillmere {
namespace {

// The window that owns the dialog: the GLFW window's native handle, or no
// owner without a window.
HWND OwnerOf(GLFWwindow* window) {
  if (window == nullptr) return nullptr;
#if QUILLMERE_NATIVE_WINDOW_X11
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(glfwGetX11Window(window)));
#else
  return glfwGetWin32Window(window);
#endif
}

// COM initialised as a single-threaded apartment for the life of one call.
// Any success counts, also "already initialised" (S_FALSE), since it too
// must be matched by CoUninitialize; a failure (another apartment mode
// already set) is left alone and not undone.
class ComApartment {
 public:
  ComApartment()
      : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (initialised_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_;
};

struct TaskMemoryFree {
  void operator()(WCHAR* text) const { CoTaskMemFree(text); }
};
using TaskMemoryText = std::unique_ptr<WCHAR, TaskMemoryFree>;

// The item's file-system path as UTF-8, or nothing when the item has none.
// A null name or a failed conversion gives "".
bool FileSystemPathOf(IShellItem& item, std::string& path) {
  PWSTR raw = nullptr;
  if (FAILED(item.GetDisplayName(SIGDN_FILESYSPATH, &raw))) return false;
  TaskMemoryText name(raw);
  path = name ? WideToUtf8(WideString(name.get())) : std::string();
  return true;
}

// Appends the paths of the items in array order, leaving out every item
// that cannot be had or has no name.
void AppendPaths(IShellItemArray& items, std::vector<std::string>& paths) {
  DWORD count = 0;
  items.GetCount(&count);  // on failure count stays 0: nothing to read
  for (DWORD i = 0; i < count; ++i) {
    ComRef<IShellItem> item;
    if (FAILED(items.GetItemAt(i, item.put())) || !item) continue;
    std::string path;
    if (FileSystemPathOf(*item.get(), path)) paths.push_back(std::move(path));
  }
}

}  // namespace

ComRef<IFileOpenDialog> CreateOpenDialog(bool pickFolders, bool allowMultiple) {
  ComRef<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(dialog.put()))) ||
      !dialog) {
    return ComRef<IFileOpenDialog>();
  }
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);  // on failure the options stay 0
  options |= FOS_FORCEFILESYSTEM;
  if (pickFolders) options |= FOS_PICKFOLDERS;
  if (allowMultiple) options |= FOS_ALLOWMULTISELECT;
  dialog->SetOptions(options);
  return dialog;
}

std::vector<std::string> PickPaths(GLFWwindow* window, bool pickFolders) {
  ComApartment apartment;
  std::vector<std::string> paths;
  ComRef<IFileOpenDialog> dialog = CreateOpenDialog(pickFolders, true);
  if (!dialog) return paths;
  if (FAILED(dialog->Show(OwnerOf(window)))) return paths;  // a cancel too
  ComRef<IShellItemArray> items;
  if (FAILED(dialog->GetResults(items.put())) || !items) return paths;
  AppendPaths(*items.get(), paths);
  return paths;
}

std::vector<std::string> PickFiles(GLFWwindow* window) { return PickPaths(window, false); }

std::vector<std::string> PickFolders(GLFWwindow* window) { return PickPaths(window, true); }

std::string PickFolder(GLFWwindow* window) {
  ComApartment apartment;
  std::string path;
  ComRef<IFileOpenDialog> dialog = CreateOpenDialog(true, false);
  if (!dialog) return path;
  if (FAILED(dialog->Show(OwnerOf(window)))) return path;  // a cancel too
  ComRef<IShellItem> item;
  if (FAILED(dialog->GetResult(item.put())) || !item) return path;
  FileSystemPathOf(*item.get(), path);  // leaves path empty when it fails
  return path;
}

}  // namespace quillmere
