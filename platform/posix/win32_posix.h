// POSIX stand-in for the Windows API subset that Quillmere calls.
//
// Types and constants carry the Windows names and values. Functions are
// written from what the program expects of each call; see the notes at each
// declaration for how it maps onto POSIX. Include platform/win32.h, not this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Basic types -----------------------------------------------------------
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef int BOOL;
typedef BOOL* LPBOOL;
typedef unsigned char BYTE;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef const CHAR* LPCSTR;
typedef CHAR* LPSTR;
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef int32_t HRESULT;
typedef LONG NTSTATUS;

#define TRUE 1
#define FALSE 0

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0, GetFileExMaxInfoLevel };

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE (static_cast<DWORD>(0xFFFFFFFF))
#define MAX_PATH 260

// ---- CreateFileW values ----------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

// ---- GetFinalPathNameByHandleW values --------------------------------------
#define FILE_NAME_NORMALIZED 0x0u
#define VOLUME_NAME_DOS 0x0u

// ---- GetFileType values ----------------------------------------------------
#define FILE_TYPE_UNKNOWN 0x0000u
#define FILE_TYPE_DISK 0x0001u
#define FILE_TYPE_CHAR 0x0002u
#define FILE_TYPE_PIPE 0x0003u

// ---- Error codes (the ones the stand-in produces) --------------------------
#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_BAD_UNIT 20u
#define ERROR_WRITE_FAULT 29u
#define ERROR_READ_FAULT 30u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_LOCK_VIOLATION 33u
#define ERROR_HANDLE_EOF 38u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_UNEXP_NET_ERR 59u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_SEEK_ON_DEVICE 132u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_LOCK_FAILED 167u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_NO_DATA 232u
#define ERROR_ARITHMETIC_OVERFLOW 534u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_NOACCESS 998u
#define ERROR_FILE_INVALID 1006u
#define ERROR_NO_MEDIA_IN_DRIVE 1112u
#define ERROR_NO_UNICODE_TRANSLATION 1113u
#define ERROR_IO_DEVICE 1117u
#define ERROR_POSSIBLE_DEADLOCK 1131u
#define ERROR_TOO_MANY_LINKS 1142u
#define ERROR_DISK_QUOTA_EXCEEDED 1295u
#define ERROR_FILE_CORRUPT 1392u
#define ERROR_TIMEOUT 1460u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

// ---- FormatMessageW values -------------------------------------------------
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define MAKELANGID(primary, sub) ((static_cast<WORD>(sub) << 10) | static_cast<WORD>(primary))

// ---- Text conversion values ------------------------------------------------
#define CP_UTF8 65001u

// ---- Errors: errors.cpp ----------------------------------------------------
// The calling thread's last Windows error code (thread-local, like Windows).
DWORD GetLastError();
void SetLastError(DWORD code);
// Win32ErrorFromErrno (errno -> Windows code) comes from
// platform/errno_to_win32.h, shared with the Windows build.
// FORMAT_MESSAGE_FROM_SYSTEM | ALLOCATE_BUFFER only: the platform's own text
// (strerror_r) for the errno behind the code, with a trailing CR LF as
// Windows ends its texts; 0 for a code it does not know. The buffer is
// released with LocalFree.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD size, void* arguments);
HLOCAL LocalFree(HLOCAL memory);

// ---- Files: file_api.cpp ---------------------------------------------------
// Paths are taken either as UTF-16 (converted to UTF-8 for the system) or as
// native bytes, which pass through unchanged. A folder opens only with
// FILE_FLAG_BACKUP_SEMANTICS (else 5, as on Windows). An existing file
// opened with neither read nor write access is opened for queries only
// (O_PATH): no permission on it is needed, and nothing is read or written.
// A file CreateFileW creates takes, for group and others, no more than templateFile's permission bits
// (a file handle, or null for the usual 0666), minus the umask. A link to
// nowhere is not created through: the open fails with
// ERROR_CANT_RESOLVE_FILENAME.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileW(const char* nativePath, DWORD access, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                      DWORD moveMethod);
BOOL SetEndOfFile(HANDLE handle);
// The size of the open file (fstat).
BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size);
// FILE_TYPE_DISK for a regular file; FILE_TYPE_CHAR for a character or block
// device (a raw device is not a file a copy may read or overwrite);
// FILE_TYPE_PIPE for a FIFO or socket; FILE_TYPE_UNKNOWN, with the last
// error set, when the handle cannot be examined.
DWORD GetFileType(HANDLE handle);
// From the open file's status (fstat): the volume serial number is st_dev
// folded to 32 bits, the file index st_ino, the links st_nlink, the times
// the status's times in 100 ns units since 1601. A folder has
// FILE_ATTRIBUTE_DIRECTORY, anything else FILE_ATTRIBUTE_NORMAL.
BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info);
// Not a Windows call: the volume serial number and file index that
// GetFileInformationByHandle gives, from the status taken at the open, so
// that a file's identity costs no further call.
BOOL GetFileIdentityByHandle(HANDLE handle, DWORD& volumeSerial, ULONGLONG& fileIndex);
// Not a Windows call: what GetFileInformationByHandle gave from the status
// the open itself took, so that a file's facts as it was opened cost no
// further call.
BOOL GetFileInformationAtOpen(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info);
// The path the open file is reached by now (its descriptor's link in
// /proc/self/fd): absolute, with links resolved; flags must be 0. Windows'
// buffer rule: the length without the terminator when it fits in length
// units, else the units needed with the terminator; 0 with the last error
// on failure. The UTF-16 form as on Windows; the native form gives the
// path's bytes unchanged, as CreateFileW takes them.
DWORD GetFinalPathNameByHandleW(HANDLE handle, LPWSTR path, DWORD length, DWORD flags);
DWORD GetFinalPathNameByHandleW(HANDLE handle, char* nativePath, DWORD length, DWORD flags);
// Creates one folder whose permission bits are the template folder's for
// group and others (no more than 0777 minus the umask) and rwx for the
// owner, so that the copy of a folder its owner may not write can still be
// filled. ERROR_ALREADY_EXISTS when the name is taken; the code for what
// went wrong with the template when it cannot be examined.
BOOL CreateDirectoryExW(LPCWSTR templateFolder, LPCWSTR newFolder,
                        LPSECURITY_ATTRIBUTES security);
BOOL CreateDirectoryExW(const char* templateNative, const char* newNative,
                        LPSECURITY_ATTRIBUTES security);
BOOL GetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL GetFileAttributesExW(const char* nativePath, GET_FILEEX_INFO_LEVELS level, LPVOID info);
BOOL GetVolumePathNameW(LPCWSTR path, LPWSTR volumePath, DWORD length);
BOOL GetVolumePathNameW(const char* nativePath, LPWSTR volumePath, DWORD length);
BOOL GetDiskFreeSpaceW(LPCWSTR rootPath, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                       LPDWORD freeClusters, LPDWORD totalClusters);

// ---- Text: text_api.cpp ----------------------------------------------------
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR out,
                        int outLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textLength, LPSTR out,
                        int outLength, LPCSTR defaultChar, LPBOOL usedDefaultChar);

// ---- CNG hashing on libcrypto: bcrypt_api.cpp ------------------------------
typedef void* BCRYPT_ALG_HANDLE;
typedef void* BCRYPT_HASH_HANDLE;
typedef void* BCRYPT_HANDLE;
#define BCRYPT_SHA256_ALGORITHM u"SHA256"
#define BCRYPT_OBJECT_LENGTH u"ObjectLength"
#define BCRYPT_HASH_LENGTH u"HashDigestLength"
#define NT_SUCCESS(status) (static_cast<NTSTATUS>(status) >= 0)
#define STATUS_SUCCESS static_cast<NTSTATUS>(0)
#define STATUS_UNSUCCESSFUL static_cast<NTSTATUS>(0xC0000001u)
#define STATUS_INVALID_PARAMETER static_cast<NTSTATUS>(0xC000000Du)
#define STATUS_NOT_FOUND static_cast<NTSTATUS>(0xC0000225u)
#define STATUS_BUFFER_TOO_SMALL static_cast<NTSTATUS>(0xC0000023u)
#define STATUS_INVALID_HANDLE static_cast<NTSTATUS>(0xC0000008u)

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                     LPCWSTR implementation, ULONG flags);
NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG outputLength, ULONG* resultLength, ULONG flags);
NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectLength, PUCHAR secret,
                          ULONG secretLength, ULONG flags);
NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength, ULONG flags);
NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength,
                          ULONG flags);
NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);

// ---- Known folders: shell_api.cpp ------------------------------------------
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID KNOWNFOLDERID;
typedef const GUID& REFKNOWNFOLDERID;
typedef const GUID& REFGUID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;
typedef GUID IID;
typedef GUID CLSID;
inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
extern const KNOWNFOLDERID FOLDERID_LocalAppData;
// FOLDERID_LocalAppData is $XDG_DATA_HOME, else $HOME/.local/share; the
// result is allocated for CoTaskMemFree. Fails when neither can be had.
HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path);
// COM task memory: what CoTaskMemAlloc gives (null when out of memory) is
// released with CoTaskMemFree; CoTaskMemFree(nullptr) does nothing.
LPVOID CoTaskMemAlloc(size_t size);
void CoTaskMemFree(LPVOID memory);

// ---- COM and the file-open dialog: com_dialog.h ----------------------------
#include "platform/posix/com_dialog.h"

// ---- Fonts: font_file.cpp --------------------------------------------------
// Not a Windows call: the font file that stands for a Windows font path
// ("C:\Windows\Fonts\segoeui.ttf") on this system. The file name picks a
// family ("segoeui.ttf" is "Segoe UI"), and the result is the file that
// fontconfig matches for that family, as the desktop would substitute it
// (DejaVu Sans on a plain Debian system). A name it does not know, or a
// family fontconfig matches with no file (a configuration without fonts),
// gives the path back unchanged, so opening it fails and the caller's
// fallback applies. Any thread; fontconfig serialises its own state.
std::string LocalFontFile(const std::string& windowsFontPath);
