// COM initialisation and the file-open dialog on the desktop's file chooser.
//
// Show runs `zenity --file-selection` as a child process (no shell, so any
// byte of a path is safe), with --multiple and --directory as the options
// ask, and reads the chosen paths from its standard output. zenity exits 0
// after a choice and 1 after a cancel; anything else is a failure.
#include "platform/win32.h"
#include "platform/posix/posix_internal.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

const CLSID CLSID_FileOpenDialog = {0xDC1C5A9C, 0xE88A, 0x4DDE,
                                    {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
const IID IID_IFileOpenDialog = {0xD57C7288, 0xD4AD, 0x4768,
                                 {0xBE, 0x02, 0x9D, 0x96, 0x95, 0x32, 0xD9, 0x60}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// ---- COM state ---------------------------------------------------------------

struct ThreadApartment {
  unsigned initCount = 0;
  bool multithreaded = false;
};
thread_local ThreadApartment currentApartment;

#if QUILLMERE_FAULT_SEAM
// The test seam's COM part (com_dialog.h).
std::atomic<long> liveObjects{0};
std::atomic<HRESULT> createFault{S_OK};
#else
// Without the seam objects are not counted: the counting is dropped.
constexpr posix_standin::NoCount liveObjects;
#endif

// zenity prints the paths of a multiple selection joined by this separator.
// A control character that file names practically never hold.
constexpr char kSeparator = '\x1f';

// ---- Reference counting ------------------------------------------------------

// The IUnknown part of every object here. Derived is the final class; an
// object is created with one reference and destroys itself on the last
// Release, as COM objects do.
template <typename Derived, typename Interface>
class ComObject : public Interface {
 public:
  explicit ComObject(const IID& ownIid) : ownIid_(ownIid) { ++liveObjects; }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != ownIid_) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 protected:
  ~ComObject() { --liveObjects; }

 private:
  const IID& ownIid_;
  std::atomic<ULONG> references_{1};
};


// ---- Shell items ---------------------------------------------------------------

class ShellItem final : public ComObject<ShellItem, IShellItem> {
 public:
  explicit ShellItem(std::string path) : ComObject(IID_IUnknown), path_(std::move(path)) {}

  HRESULT GetDisplayName(SIGDN form, PWSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    // Only a full path names a file-system item; anything else the chooser
    // printed is an item without one.
    if (form != SIGDN_FILESYSPATH || path_.empty() || path_[0] != '/') return E_INVALIDARG;
    *name = posix_standin::TaskMemoryWideCopy(path_);
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::string path_;
};

class ShellItemArray final : public ComObject<ShellItemArray, IShellItemArray> {
 public:
  explicit ShellItemArray(std::vector<std::string> paths)
      : ComObject(IID_IUnknown), paths_(std::move(paths)) {}

  HRESULT GetCount(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<DWORD>(paths_.size());
    return S_OK;
  }
  HRESULT GetItemAt(DWORD index, IShellItem** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (index >= paths_.size()) return E_INVALIDARG;
    *item = new (std::nothrow) ShellItem(paths_[index]);
    return *item != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::vector<std::string> paths_;
};

// ---- The file chooser as a child process -------------------------------------

// A descriptor closed when the owner goes away.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// A program without a console may start with descriptors 0 to 2 closed, so
// a new pipe can land on them; the child's stdio set-up would then close
// or clobber it. Moves such a descriptor above 2 (close-on-exec kept).
bool MoveAboveStdio(Descriptor& fd) {
  if (fd.get() > 2) return true;
  const int moved = fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
  if (moved < 0) return false;
  fd.Reset(moved);
  return true;
}

struct ChildOutput {
  int spawnError = 0;  // errno of a start that failed, else 0
  int exitStatus = -1; // the exit code, -1 when killed by a signal
  std::string text;
};

// Reads the pipe to its end. A read error ends the text where it stands.
std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got > 0) {
      text.append(chunk, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return text;
    }
  }
}

int WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts argv[0] found on PATH with stdin and stderr on /dev/null (GTK's
// warnings are of no use to anyone here) and stdout into the pipe whose
// write end is writeEnd.
int SpawnWithOutputPipe(std::vector<char*>& argv, int writeEnd, pid_t* pid) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, writeEnd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int error = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

ChildOutput RunAndCollect(const std::vector<std::string>& args) {
  ChildOutput result;
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    result.spawnError = errno;
    return result;
  }
  Descriptor readEnd(ends[0]);
  Descriptor writeEnd(ends[1]);
  if (!MoveAboveStdio(readEnd) || !MoveAboveStdio(writeEnd)) {
    result.spawnError = errno;
    return result;
  }
  pid_t pid = 0;
  result.spawnError = SpawnWithOutputPipe(argv, writeEnd.get(), &pid);
  writeEnd.Reset();  // the child holds the only write end now: EOF when it exits
  if (result.spawnError != 0) return result;
  result.text = ReadAll(readEnd.get());
  result.exitStatus = WaitForExit(pid);
  return result;
}

std::vector<std::string> ChooserArguments(FILEOPENDIALOGOPTIONS options, HWND owner) {
  std::vector<std::string> args = {"zenity", "--file-selection"};
  if ((options & FOS_ALLOWMULTISELECT) != 0) {
    args.push_back("--multiple");
    args.push_back(std::string("--separator=") + kSeparator);
  }
  if ((options & FOS_PICKFOLDERS) != 0) args.push_back("--directory");
  if (owner != nullptr) {
    args.push_back("--attach=" + std::to_string(reinterpret_cast<uintptr_t>(owner)));
  }
  return args;
}

// The chooser's output: the paths and one closing line break.
std::vector<std::string> SplitChoice(std::string text, bool multiple) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  std::vector<std::string> paths;
  if (text.empty()) return paths;
  if (!multiple) {
    paths.push_back(std::move(text));
    return paths;
  }
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(kSeparator, start);
    paths.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return paths;
    start = end + 1;
  }
}

// ---- The dialog ----------------------------------------------------------------

class FileOpenDialog final : public ComObject<FileOpenDialog, IFileOpenDialog> {
 public:
  FileOpenDialog() : ComObject(IID_IFileOpenDialog) {}

  HRESULT Show(HWND owner) override {
    chosen_.clear();
    const ChildOutput run = RunAndCollect(ChooserArguments(options_, owner));
    if (run.spawnError != 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(run.spawnError));
    if (run.exitStatus == 1) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    if (run.exitStatus != 0) return E_FAIL;
    chosen_ = SplitChoice(run.text, (options_ & FOS_ALLOWMULTISELECT) != 0);
    return chosen_.empty() ? E_FAIL : S_OK;
  }
  HRESULT GetOptions(FILEOPENDIALOGOPTIONS* options) override {
    if (options == nullptr) return E_POINTER;
    *options = options_;
    return S_OK;
  }
  HRESULT SetOptions(FILEOPENDIALOGOPTIONS options) override {
    options_ = options;
    return S_OK;
  }
  HRESULT GetResult(IShellItem** item) override {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (chosen_.size() != 1) return E_UNEXPECTED;
    *item = new (std::nothrow) ShellItem(chosen_.front());
    return *item != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetResults(IShellItemArray** items) override {
    if (items == nullptr) return E_POINTER;
    *items = nullptr;
    if (chosen_.empty()) return E_UNEXPECTED;
    *items = new (std::nothrow) ShellItemArray(chosen_);
    return *items != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  FILEOPENDIALOGOPTIONS options_ = FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST | FOS_NOCHANGEDIR;
  std::vector<std::string> chosen_;
};

}  // namespace

// ---- COM calls -------------------------------------------------------------------

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (reserved != nullptr) return E_INVALIDARG;
  const bool multithreaded = (coInit & COINIT_APARTMENTTHREADED) == 0;
  ThreadApartment& apartment = currentApartment;
  if (apartment.initCount == 0) {
    apartment.multithreaded = multithreaded;
    apartment.initCount = 1;
    return S_OK;
  }
  if (apartment.multithreaded != multithreaded) return RPC_E_CHANGED_MODE;
  ++apartment.initCount;
  return S_FALSE;
}

void CoUninitialize() {
  if (currentApartment.initCount > 0) --currentApartment.initCount;
}

HRESULT CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD /*context*/, REFIID iid,
                         LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (currentApartment.initCount == 0) return CO_E_NOTINITIALIZED;
#if QUILLMERE_FAULT_SEAM
  const HRESULT fault = createFault.load();
  if (fault != S_OK) return fault;
#endif
  if (classId != CLSID_FileOpenDialog) return REGDB_E_CLASSNOTREG;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if (iid != IID_IFileOpenDialog && iid != IID_IUnknown) return E_NOINTERFACE;
  IFileOpenDialog* dialog = new (std::nothrow) FileOpenDialog();
  if (dialog == nullptr) return E_OUTOFMEMORY;
  *object = dialog;
  return S_OK;
}

#if QUILLMERE_FAULT_SEAM
namespace fault_injection {

void FailCoCreateInstance(HRESULT result) { createFault = result; }
long LiveComObjects() { return liveObjects.load(); }
void ResetComFaults() { createFault = S_OK; }

}  // namespace fault_injection
#endif
