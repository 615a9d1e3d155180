// Linux side of the platform contract (platform/platform.h states it). Declares the
// Win32, COM and OLE automation subset under the Windows names; libzqplatform.so
// implements the functions.
#ifndef ZQBLOG_PLATFORM_POSIX_PLATFORM_POSIX_H_
#define ZQBLOG_PLATFORM_POSIX_PLATFORM_POSIX_H_

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#define ZQPLATFORM_API __attribute__((visibility("default")))

// ---------------------------------------------------------------- basic types
typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LONG_PTR;
typedef wchar_t WCHAR;
typedef wchar_t OLECHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef const OLECHAR* LPCOLESTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef OLECHAR* BSTR;
typedef void* LPVOID;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void (*FARPROC)(void);
typedef int32_t LCID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define MAX_PATH 260

// ---------------------------------------------------------------- HRESULTs
#define S_OK (static_cast<HRESULT>(0))
#define S_FALSE (static_cast<HRESULT>(1))
#define E_NOTIMPL (static_cast<HRESULT>(0x80004001u))
#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002u))
#define E_POINTER (static_cast<HRESULT>(0x80004003u))
#define E_FAIL (static_cast<HRESULT>(0x80004005u))
#define E_UNEXPECTED (static_cast<HRESULT>(0x8000FFFFu))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000Eu))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057u))
#define CLASS_E_CLASSNOTAVAILABLE (static_cast<HRESULT>(0x80040111u))
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_DATA 13L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_DISK_FULL 112L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADDB 1009L
#define ERROR_KEY_DELETED 1018L

inline HRESULT HRESULT_FROM_WIN32(long x) {
  return x <= 0 ? static_cast<HRESULT>(x)
                : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFFu) | 0x80070000u);
}

// ---------------------------------------------------------------- GUID and IUnknown
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef const GUID& REFGUID;

inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         a.Data4[0] == b.Data4[0] && a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] &&
         a.Data4[3] == b.Data4[3] && a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] &&
         a.Data4[6] == b.Data4[6] && a.Data4[7] == b.Data4[7];
}
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) = 0;
  STDMETHOD_(ULONG, AddRef)() = 0;
  STDMETHOD_(ULONG, Release)() = 0;
};

// ---------------------------------------------------------------- interlocked counters
inline LONG InterlockedIncrement(volatile LONG* p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(volatile LONG* p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(volatile LONG* p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(volatile LONG* p, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// ---------------------------------------------------------------- critical sections
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;  // recursive
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

// ---------------------------------------------------------------- files and time
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(0xFFFFFFFFu))
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

// ---------------------------------------------------------------- code pages
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080

// ---------------------------------------------------------------- registry
typedef struct ZqRegKey* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_OPTION_NON_VOLATILE 0
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

extern "C" {

// BSTR (oleaut32).
ZQPLATFORM_API BSTR SysAllocString(const OLECHAR* text);
ZQPLATFORM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
ZQPLATFORM_API BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length);
ZQPLATFORM_API UINT SysStringLen(BSTR text);
ZQPLATFORM_API UINT SysStringByteLen(BSTR text);
ZQPLATFORM_API void SysFreeString(BSTR text);

// Critical sections (kernel32).
ZQPLATFORM_API void InitializeCriticalSection(LPCRITICAL_SECTION cs);
ZQPLATFORM_API BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spin);
ZQPLATFORM_API void EnterCriticalSection(LPCRITICAL_SECTION cs);
ZQPLATFORM_API BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
ZQPLATFORM_API void LeaveCriticalSection(LPCRITICAL_SECTION cs);
ZQPLATFORM_API void DeleteCriticalSection(LPCRITICAL_SECTION cs);

// Errors.
ZQPLATFORM_API DWORD GetLastError(void);
ZQPLATFORM_API void SetLastError(DWORD code);

// Code pages.
ZQPLATFORM_API UINT GetACP(void);
ZQPLATFORM_API UINT GetOEMCP(void);
ZQPLATFORM_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLength,
                                       LPWSTR dst, int dstLength);
ZQPLATFORM_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLength,
                                       LPSTR dst, int dstLength, LPCSTR defaultChar,
                                       BOOL* usedDefaultChar);

// Modules. An HMODULE is the module's load address, as on Windows (GetModuleHandleW
// returns it); a handle from dlopen is accepted as well. A name "X.dll" (any case) or
// "X" means "libX.so"; a name with another extension is used as it is.
ZQPLATFORM_API DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);
ZQPLATFORM_API HMODULE GetModuleHandleW(LPCWSTR name);
ZQPLATFORM_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Files. Wide paths are UTF-8 on disk; '\\' counts as a separator like '/'.
// FindFirstFileW takes a literal path or a last component with '*' and '?' wildcards
// (ASCII letters match in any case; "*" also lists "." and ".."); the matches come
// back sorted by name. MakeSureDirectoryPathExists reads its narrow path as ANSI text
// (code page 936) and creates the folders the same text names through the wide calls;
// bytes that are no text of the code page fail with ERROR_NO_UNICODE_TRANSLATION.
ZQPLATFORM_API DWORD GetFileAttributesW(LPCWSTR path);
ZQPLATFORM_API HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
ZQPLATFORM_API BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
ZQPLATFORM_API BOOL FindClose(HANDLE find);
ZQPLATFORM_API BOOL MakeSureDirectoryPathExists(LPCSTR path);

// Time.
ZQPLATFORM_API void GetLocalTime(SYSTEMTIME* time);

// Registry (advapi32). Results are Win32 error codes (ERROR_SUCCESS on success).
ZQPLATFORM_API LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className,
                                    DWORD options, REGSAM sam, void* security, PHKEY result,
                                    DWORD* disposition);
ZQPLATFORM_API LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam,
                                  PHKEY result);
ZQPLATFORM_API LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                   const BYTE* data, DWORD size);
ZQPLATFORM_API LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type,
                                     BYTE* data, DWORD* size);
ZQPLATFORM_API LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
ZQPLATFORM_API LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
ZQPLATFORM_API LONG RegCloseKey(HKEY key);

// Key and value names compare case-insensitively; a key handle names its key by path, so
// it stays usable across ZqRegistrySetFile (ERROR_KEY_DELETED once the key is gone).
// RegQueryValueExW: null data asks for the size; a too small buffer gives
// ERROR_MORE_DATA and the size needed.
//
// The file the registry lives in (UTF-8 path); it is read now and rewritten (temporary
// file, then rename) after every change; a change that cannot be written is undone and
// its error returned. A missing file is an empty registry; a file that is not a .reg
// export gives ERROR_BADDB and changes nothing. Null starts a fresh, empty registry kept
// in memory only.
// Linux only; the host calls it.
ZQPLATFORM_API LONG ZqRegistrySetFile(const char* path);

}  // extern "C"

#endif  // ZQBLOG_PLATFORM_POSIX_PLATFORM_POSIX_H_
