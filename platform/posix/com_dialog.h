// COM initialisation and the common file-open dialog, run on the desktop's
// file chooser. Included through platform/win32.h.
//
// The pickers call COM as they would on Windows: initialise the thread,
// create the file-open dialog, set its options, show it, read its results
// as shell items and release every reference. Here the dialog is the
// desktop's file chooser, `zenity --file-selection`, run as a child process
// whose standard output carries the chosen paths.
//
// COM interfaces are the platform's, not the program's: like Windows, the
// stand-in gives them virtual methods, so the calling code is the same on
// both. Objects count their references and destroy themselves when the last
// one is released.
#pragma once

#include "platform/posix/win32_posix.h"

// ---- Values ----------------------------------------------------------------
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define CLSCTX_INPROC_SERVER 0x1

#define E_NOINTERFACE static_cast<HRESULT>(0x80004002u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFFu)
#define RPC_E_CHANGED_MODE static_cast<HRESULT>(0x80010106u)
#define CO_E_NOTINITIALIZED static_cast<HRESULT>(0x800401F0u)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154u)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110u)

#define ERROR_CANCELLED 1223u
#define FACILITY_WIN32 7

// A Windows error code as an HRESULT (0 stays S_OK).
inline HRESULT HRESULT_FROM_WIN32(DWORD code) {
  return code == 0 ? S_OK
                   : static_cast<HRESULT>((code & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

// Options of the file-open dialog (FILEOPENDIALOGOPTIONS).
typedef DWORD FILEOPENDIALOGOPTIONS;
#define FOS_OVERWRITEPROMPT 0x2u
#define FOS_STRICTFILETYPES 0x4u
#define FOS_NOCHANGEDIR 0x8u
#define FOS_PICKFOLDERS 0x20u
#define FOS_FORCEFILESYSTEM 0x40u
#define FOS_NOVALIDATE 0x100u
#define FOS_ALLOWMULTISELECT 0x200u
#define FOS_PATHMUSTEXIST 0x800u
#define FOS_FILEMUSTEXIST 0x1000u

// The form of a shell item's name. Only the file-system path is provided.
enum SIGDN : int32_t {
  SIGDN_FILESYSPATH = static_cast<int32_t>(0x80058000u),
};

// An owner window. The stand-in carries the X11 window id of the owner in
// it (0 for none); the file chooser is then made transient for that window.
struct HWND__;
typedef HWND__* HWND;

// {DC1C5A9C-E88A-4DDE-A5A1-60F82A20AEF7}
extern const CLSID CLSID_FileOpenDialog;
// {D57C7288-D4AD-4768-BE02-9D969532D960}
extern const IID IID_IFileOpenDialog;
// {00000000-0000-0000-C000-000000000046}
extern const IID IID_IUnknown;

// ---- Interfaces ------------------------------------------------------------
// Objects are destroyed by their last Release, never by delete through these.
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

// One item the user chose.
struct IShellItem : IUnknown {
  // SIGDN_FILESYSPATH only: the item's full path as UTF-16 in COM task
  // memory (release with CoTaskMemFree). E_INVALIDARG for any other form and
  // for an item that has no file-system path (not absolute, or empty); the
  // name is then null.
  virtual HRESULT GetDisplayName(SIGDN form, PWSTR* name) = 0;

 protected:
  ~IShellItem() = default;
};

// The items of a multiple selection, in the order the chooser gave them.
struct IShellItemArray : IUnknown {
  virtual HRESULT GetCount(DWORD* count) = 0;
  // A new item holding one reference; E_INVALIDARG past the end.
  virtual HRESULT GetItemAt(DWORD index, IShellItem** item) = 0;

 protected:
  ~IShellItemArray() = default;
};

struct IModalWindow : IUnknown {
  // Runs the file chooser and waits for it to close. S_OK when the user
  // confirmed a choice; HRESULT_FROM_WIN32(ERROR_CANCELLED) when the user
  // cancelled; another failure when the chooser cannot be run (missing
  // zenity: HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), failed or chose
  // nothing. owner, when not null, carries the owner's X11 window id.
  virtual HRESULT Show(HWND owner) = 0;

 protected:
  ~IModalWindow() = default;
};

struct IFileDialog : IModalWindow {
  // A new dialog's options are FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST |
  // FOS_NOCHANGEDIR. FOS_ALLOWMULTISELECT and FOS_PICKFOLDERS decide how the
  // chooser runs; file-system paths are all it can give.
  virtual HRESULT GetOptions(FILEOPENDIALOGOPTIONS* options) = 0;
  virtual HRESULT SetOptions(FILEOPENDIALOGOPTIONS options) = 0;
  // The chosen item after a successful Show that chose exactly one;
  // E_UNEXPECTED otherwise.
  virtual HRESULT GetResult(IShellItem** item) = 0;

 protected:
  ~IFileDialog() = default;
};

struct IFileOpenDialog : IFileDialog {
  // Every chosen item after a successful Show; E_UNEXPECTED otherwise.
  virtual HRESULT GetResults(IShellItemArray** items) = 0;

 protected:
  ~IFileOpenDialog() = default;
};

// ---- COM calls -------------------------------------------------------------
// Per thread, like Windows: the first call initialises the thread in the
// mode asked for (COINIT_APARTMENTTHREADED, else multithreaded) and returns
// S_OK; a later call in the same mode returns S_FALSE and must be matched by
// CoUninitialize too; a call in the other mode returns RPC_E_CHANGED_MODE
// and changes nothing. reserved must be null (E_INVALIDARG).
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
// Undoes one successful CoInitializeEx of this thread; nothing when none.
void CoUninitialize();
// CLSID_FileOpenDialog only (REGDB_E_CLASSNOTREG for others), asked for as
// IID_IFileOpenDialog or IID_IUnknown (E_NOINTERFACE), without an outer
// object (CLASS_E_NOAGGREGATION), on an initialised thread
// (CO_E_NOTINITIALIZED). The new dialog holds one reference.
HRESULT CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID* object);

// ---- Test seam: defined in the test variant of the stand-in only -----------
namespace fault_injection {
// CoCreateInstance fails with result while it is not S_OK.
void FailCoCreateInstance(HRESULT result);
// Dialogs, item arrays and items alive now (created and not yet released).
long LiveComObjects();
void ResetComFaults();
}  // namespace fault_injection
