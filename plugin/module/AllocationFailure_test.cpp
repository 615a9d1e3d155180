// Allocation failures at the library's boundary, on a fresh copy of the built library:
// the first calls a host makes (GetPluginObject, Initialize, SetCurrentUser) allocate
// the library's objects, and when an allocation fails they answer E_OUTOFMEMORY; no
// C++ exception leaves the library.
//
// This program's operator new can be told to fail every allocation of the calling
// thread from the n-th on; the library, loaded into this process, allocates through it.
#include <gtest/gtest.h>

#if defined(ZQBLOG_TEST_LIBRARY) && !defined(_WIN32)
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <string>

#include "interfaces/IZQBlog.h"

namespace {

// -1: never fail; n >= 0: let n more allocations through, then fail every one.
thread_local long g_allocationsLeft = -1;
thread_local bool g_failed = false;

}  // namespace

void* operator new(std::size_t size) {
  if (g_allocationsLeft == 0) {
    g_failed = true;
    throw std::bad_alloc();
  }
  if (g_allocationsLeft > 0) --g_allocationsLeft;
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

namespace {

typedef HRESULT (*GetPluginObjectExport)(void**);

// Runs call with allocations failing from the n-th on, for n = 0, 1, ... until it runs
// without a failure. Every answer under a failure must be E_OUTOFMEMORY; the call must
// have met at least one failure (it allocates); the last answer is S_OK.
void ExpectOutOfMemoryUntilItFits(const char* what, const std::function<HRESULT()>& call) {
  SCOPED_TRACE(what);
  bool sawFailure = false;
  for (long n = 0; n < 10000; ++n) {
    g_failed = false;
    g_allocationsLeft = n;
    HRESULT answer = E_UNEXPECTED;
    bool threw = false;
    try {
      answer = call();
    } catch (...) {
      threw = true;
    }
    g_allocationsLeft = -1;
    ASSERT_FALSE(threw) << "an exception left the library with " << n << " allocations";
    if (!g_failed) {
      EXPECT_EQ(S_OK, answer);
      EXPECT_TRUE(sawFailure) << "the call allocated nothing";
      return;
    }
    sawFailure = true;
    ASSERT_EQ(E_OUTOFMEMORY, answer) << "with " << n << " allocations";
  }
  FAIL() << "the call never ran to its end";
}

TEST(AllocationFailureTest, FirstCallsOfAHostAnswerOutOfMemory) {
  // A copy of its own, so the library's objects are made here for the first time.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("zqblog-oom-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / "libzqblog-copy.so";
  std::filesystem::copy_file(ZQBLOG_TEST_LIBRARY, copy,
                             std::filesystem::copy_options::overwrite_existing);
  void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::filesystem::remove_all(folder);
  ASSERT_NE(nullptr, library) << dlerror();
  auto get = reinterpret_cast<GetPluginObjectExport>(dlsym(library, "GetPluginObject"));
  ASSERT_NE(nullptr, get);

  void* object = nullptr;
  ExpectOutOfMemoryUntilItFits("GetPluginObject", [&] { return get(&object); });
  ASSERT_NE(nullptr, object);
  IZQBlog* blog = static_cast<IZQBlog*>(object);
  ExpectOutOfMemoryUntilItFits("Initialize", [&] { return blog->Initialize(nullptr); });
  ExpectOutOfMemoryUntilItFits("SetCurrentUser",
                               [&] { return blog->SetCurrentUser(L"someone-with-a-long-id"); });
  // The library stays loaded: its objects live until the process ends.
}

}  // namespace

#endif
