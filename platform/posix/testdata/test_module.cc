// A shared library that the module tests load and unload themselves.
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int ZqTestModuleAnswer() { return 42; }

// Uses a libc function, so the module has a dependency whose symbols dlsym would find.
extern "C" __attribute__((visibility("default"))) void* ZqTestModuleAllocate(int n) {
  return std::malloc(static_cast<size_t>(n));
}
