// Windows side of the platform contract (platform/platform.h states it): the system
// headers give every name; only ZqGetConversionACP is ours (platform_win32.cc).
#ifndef ZQBLOG_PLATFORM_WIN32_PLATFORM_WIN32_H_
#define ZQBLOG_PLATFORM_WIN32_PLATFORM_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <imagehlp.h>

#define ZQPLATFORM_API

#endif  // ZQBLOG_PLATFORM_WIN32_PLATFORM_WIN32_H_
