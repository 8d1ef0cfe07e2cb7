// The file and folder pickers: the system's file-open dialog, shown modally
// over the program's window.
//
// Main thread only, inside the frame loop: each call blocks until the user
// closes the dialog. Each call initialises COM for itself (and undoes that
// on every way out, an exception included), creates its own dialog and
// releases everything before it returns. Nothing is reported on failure:
// a cancel and every failure shrink the result, down to empty.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct GLFWwindow;
struct IFileOpenDialog;

namespace quillmere {

// Several files / several folders, as full file-system paths (UTF-8) in the
// dialog's order; empty when nothing was chosen. window owns the dialog and
// may be null (no owner).
std::vector<std::string> PickFiles(GLFWwindow* window);
std::vector<std::string> PickFolders(GLFWwindow* window);

// One folder's full path (UTF-8); empty when nothing was chosen.
std::string PickFolder(GLFWwindow* window);

// PickFiles (pickFolders false) and PickFolders (true). An item whose name
// cannot be had is left out; a name that cannot be converted gives "".
std::vector<std::string> PickPaths(GLFWwindow* window, bool pickFolders);

// Holds one reference to a COM object and releases it when it goes away.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(Interface* object) : object_(object) {}
  ~ComRef() {
    if (object_ != nullptr) object_->Release();
  }
  ComRef(ComRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    Interface* previous = std::exchange(object_, std::exchange(other.object_, nullptr));
    if (previous != nullptr) previous->Release();
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // For a call that hands out a new reference; must be empty before.
  Interface** put() { return &object_; }

 private:
  Interface* object_ = nullptr;
};

// A new file-open dialog (one reference) with FOS_FORCEFILESYSTEM, and
// FOS_PICKFOLDERS / FOS_ALLOWMULTISELECT as asked, added to its default
// options; nothing else is set. Empty when it cannot be created. COM must be
// initialised on the calling thread.
ComRef<IFileOpenDialog> CreateOpenDialog(bool pickFolders, bool allowMultiple);

}  // namespace quillmere
