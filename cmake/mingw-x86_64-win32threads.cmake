# The DLL as it ships (mingw-i686-win32threads.cmake), built for 64-bit Windows: what a
# 64-bit-only Wine loads in place of the 32-bit DLL.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
