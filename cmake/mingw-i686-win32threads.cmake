# The 32-bit Windows DLL as it ships: mingw-w64's compilers of the win32 thread model.
# Their C++ runtime, linked into the DLL, takes its locks straight from Windows; the
# posix model's runtime (winpthreads) gives every thread that calls into the DLL a record
# with two handles that stay when the host frees the DLL. The plug-in starts no thread
# and uses no std::thread or std::mutex, so it needs nothing of the posix model; the test
# programs do, and are built with mingw-i686.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
