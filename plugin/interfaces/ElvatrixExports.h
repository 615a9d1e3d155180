// The path functions of the host's helper library "Elvatrix.dll" (libElvatrix.so on
// Linux), which the host has loaded before it loads the plug-in. They are plain C
// exports, found by name with GetProcAddress; the plug-in never loads the library.
//
// Every export has the same shape: it writes a zero-terminated wide path into
// buffer[0, capacity) (capacity in characters), cutting it to fit. Its return value is
// the host's (the plug-in ignores it). "ZQ_GetUserPath" gives the folder of per-user
// data, an absolute path that ends with the path separator; the plug-in calls no other.
// The calling convention is __cdecl on 32-bit Windows, so the export names stay
// undecorated.
#ifndef ZQBLOG_INTERFACES_ELVATRIXEXPORTS_H_
#define ZQBLOG_INTERFACES_ELVATRIXEXPORTS_H_

#include "platform/platform.h"

#if defined(_WIN32)
#define ZQ_ELVATRIX_CALL __cdecl
#else
#define ZQ_ELVATRIX_CALL
#endif

// The name GetModuleHandleW looks the library up by.
inline constexpr WCHAR kElvatrixModuleName[] = L"Elvatrix.dll";

typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetUserPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetKorrinNetworkPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetComponentsPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetInstallComponentsPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetUserProfilesPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetSkinPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetConstantSkinPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetProgramPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetLanguagePath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetUserRootPath)(WCHAR* buffer, int capacity);
typedef int(ZQ_ELVATRIX_CALL* PFN_ZQ_GetPluginPath)(WCHAR* buffer, int capacity);

// The export names, in the order the plug-in binds them.
inline constexpr int kElvatrixExportCount = 11;
inline constexpr const char* kElvatrixExportNames[kElvatrixExportCount] = {
    "ZQ_GetUserPath",
    "ZQ_GetKorrinNetworkPath",
    "ZQ_GetComponentsPath",
    "ZQ_GetInstallComponentsPath",
    "ZQ_GetUserProfilesPath",
    "ZQ_GetSkinPath",
    "ZQ_GetConstantSkinPath",
    "ZQ_GetProgramPath",
    "ZQ_GetLanguagePath",
    "ZQ_GetUserRootPath",
    "ZQ_GetPluginPath",
};

#endif  // ZQBLOG_INTERFACES_ELVATRIXEXPORTS_H_
