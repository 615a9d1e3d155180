#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  return realpath(path, resolved) != nullptr ? resolved : "";
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[4096];
  DWORD n = GetModuleFileNameW(module, path, 4096);
  return std::wstring(path, n);
}

TEST(ModuleTest, NullMeansTheProgram) {
  std::wstring program = Widen(RealPath("/proc/self/exe"));
  EXPECT_EQ(program, ModulePath(nullptr));
  HMODULE self = GetModuleHandleW(nullptr);
  ASSERT_NE(nullptr, self);
  EXPECT_EQ(program, ModulePath(self));
}

TEST(ModuleTest, FileNameIsTruncatedAndTerminatedWhenTheBufferIsSmall) {
  wchar_t path[5] = {L'#', L'#', L'#', L'#', L'#'};
  SetLastError(0);
  EXPECT_EQ(5u, GetModuleFileNameW(nullptr, path, 5));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(L'\0', path[4]);
  EXPECT_EQ(ModulePath(nullptr).substr(0, 4), std::wstring(path));
}

TEST(ModuleTest, FindsTheLinkedPlatformLibraryByItsDllName) {
  HMODULE platform = GetModuleHandleW(L"zqplatform.dll");
  ASSERT_NE(nullptr, platform);
  EXPECT_EQ(platform, GetModuleHandleW(L"zqplatform.DLL"));
  EXPECT_EQ(platform, GetModuleHandleW(L"libzqplatform.so"));
  EXPECT_EQ(reinterpret_cast<FARPROC>(&SysAllocString), GetProcAddress(platform, "SysAllocString"));
  std::wstring path = ModulePath(platform);
  EXPECT_NE(std::wstring::npos, path.find(L"libzqplatform.so")) << std::string(path.begin(), path.end());
}

TEST(ModuleTest, SeesAModuleOnlyWhileItIsLoaded) {
  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"ZqTestModule.dll")) << "GetModuleHandleW must not load";
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

  void* loaded = dlopen(ZQ_TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, loaded) << dlerror();
  HMODULE module = GetModuleHandleW(L"ZqTestModule.DLL");
  ASSERT_NE(nullptr, module);
  EXPECT_EQ(module, GetModuleHandleW(L"ZqTestModule"));
  std::wstring path = ModulePath(module);
  EXPECT_EQ(RealPath(ZQ_TEST_MODULE_PATH), RealPath(std::string(path.begin(), path.end()).c_str()));

  typedef int (*AnswerFunction)();
  AnswerFunction answer =
      reinterpret_cast<AnswerFunction>(GetProcAddress(module, "ZqTestModuleAnswer"));
  ASSERT_NE(nullptr, answer);
  EXPECT_EQ(42, answer());
  // A dlopen handle names the module as well.
  EXPECT_EQ(reinterpret_cast<FARPROC>(answer), GetProcAddress(loaded, "ZqTestModuleAnswer"));

  SetLastError(0);
  EXPECT_EQ(nullptr, GetProcAddress(module, "NoSuchExport"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
  // The module's own exports only, not those of the libraries it uses.
  EXPECT_EQ(nullptr, GetProcAddress(module, "malloc"));

  // GetModuleHandleW took no reference: one dlclose unloads the module.
  ASSERT_EQ(0, dlclose(loaded));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"ZqTestModule.dll"));
}

TEST(ModuleTest, UnknownModulesAndOrdinalsAreNotFound) {
  SetLastError(0);
  EXPECT_EQ(nullptr, GetModuleHandleW(L"NoSuchLibrary.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
  HMODULE platform = GetModuleHandleW(L"zqplatform.dll");
  ASSERT_NE(nullptr, platform);
  EXPECT_EQ(nullptr, GetProcAddress(platform, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(3))));
  // An address that is not the start of a module.
  SetLastError(0);
  wchar_t path[64];
  EXPECT_EQ(0u, GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x1000)),
                                   path, 64));
}

}  // namespace
