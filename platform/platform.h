// The platform contract: the small part of Win32, COM and OLE automation that the
// plug-in and the host use, under their Windows names, so the code reads the same on
// both systems.
//
// On Windows the names come from the system headers and libraries (kernel32, ole32,
// oleaut32, advapi32, imagehlp); platform/win32/ adds only what the system lacks.
// On Linux platform/posix/ implements them in libzqplatform.so, a C-linkage shared
// library that the host and the plug-in both load, as both load oleaut32 on Windows.
//
// What the contract promises (the same on both systems):
//
// Types     HRESULT and LONG are 32-bit signed, ULONG and DWORD 32-bit unsigned, BOOL an
//           int, WCHAR/OLECHAR wchar_t (UTF-16 on Windows, UTF-32 on Linux), BSTR a
//           WCHAR*, GUID/IID with the Windows layout; REFIID is const IID&.
// HRESULTs  S_OK 0, S_FALSE 1, E_NOTIMPL, E_NOINTERFACE, E_POINTER, E_FAIL,
//           E_OUTOFMEMORY, E_INVALIDARG, E_UNEXPECTED, CLASS_E_CLASSNOTAVAILABLE with
//           their Windows values; SUCCEEDED, FAILED, HRESULT_FROM_WIN32.
// IUnknown  QueryInterface, AddRef, Release, in that slot order; IID_IUnknown.
//           STDMETHODCALLTYPE is __stdcall on 32-bit Windows and empty elsewhere.
// BSTR      SysAllocString, SysAllocStringLen, SysAllocStringByteLen, SysStringLen,
//           SysStringByteLen, SysFreeString: a 32-bit byte length stored just before
//           the characters, a zero terminator after them; null is the empty string for
//           SysStringLen and SysFreeString.
// Locks     CRITICAL_SECTION with Initialize-, Enter-, TryEnter-, Leave- and
//           DeleteCriticalSection: re-entrant for the owning thread.
//           InterlockedIncrement, InterlockedDecrement, InterlockedExchange,
//           InterlockedCompareExchange on volatile LONG: sequentially consistent.
// Errors    GetLastError / SetLastError: per-thread error code of the last failing call.
// Text      MultiByteToWideChar / WideCharToMultiByte with CP_ACP, CP_OEMCP, CP_UTF8 and
//           numbered code pages (936 at least), Win32 length rules (-1 = up to and
//           including the terminator; an output size of 0 asks for the size needed;
//           0 returned on failure with GetLastError set). GetACP and GetOEMCP: 936 on
//           Linux. ZqGetConversionACP (below): the code page the library converts with.
// Modules   GetModuleFileNameW, GetModuleHandleW (finds an already loaded module only;
//           on Linux "X.dll" means "libX.so"), GetProcAddress.
// Files     GetFileAttributesW (INVALID_FILE_ATTRIBUTES when absent,
//           FILE_ATTRIBUTE_DIRECTORY for folders), FindFirstFileW / FindClose,
//           MakeSureDirectoryPathExists (narrow path; creates every folder up to the last
//           separator; TRUE on success).
// Time      GetLocalTime into SYSTEMTIME.
// Registry  RegCreateKeyExW, RegOpenKeyExW, RegSetValueExW (REG_SZ), RegQueryValueExW,
//           RegDeleteValueW, RegDeleteKeyW (a key without subkeys), RegCloseKey under
//           HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE. On Linux the
//           registry is a text file in the layout of a Windows .reg export, chosen by the
//           host with ZqRegistrySetFile; until then it is kept in memory only.
#ifndef ZQBLOG_PLATFORM_PLATFORM_H_
#define ZQBLOG_PLATFORM_PLATFORM_H_

#if defined(_WIN32)
#include "platform/win32/platform_win32.h"
#else
#include "platform/posix/platform_posix.h"
#endif

#include <cstring>

// The ANSI code page the library converts narrow text with, chosen once per process:
// on Windows the thread's ANSI code page on NT 5 and later, else the default ANSI code
// page of the thread locale, else the system ANSI code page; on Linux 936.
extern "C" ZQPLATFORM_API UINT ZqGetConversionACP(void);

// Interface ids at compile time. ZQ_DEFINE_IID(IFoo, ...) defines IID_IFoo and makes
// IidOf<IFoo>() return it; CComPtr and the interface maps use IidOf.
template <class Interface>
const IID& IidOf();

#define ZQ_DEFINE_IID(Interface, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)        \
  inline constexpr IID IID_##Interface = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
  template <>                                                                       \
  inline const IID& IidOf<Interface>() {                                            \
    return IID_##Interface;                                                         \
  }

template <>
inline const IID& IidOf<IUnknown>() {
  return IID_IUnknown;
}

inline bool ZqEqualIID(const IID& a, const IID& b) {
  return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

#endif  // ZQBLOG_PLATFORM_PLATFORM_H_
