# Cross build of the product: 32-bit Windows, static runtime. The win32
# thread model keeps winpthreads out: it imports kernel32 functions that
# Windows 95, NT 4.0 and even XP lack, and the program starts no C++ thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The shipped program runs on every processor its Windows runs on: the
# i486 and later. The compiler's default, the Pentium Pro, adds cmov and
# fcomi, which the Pentium, K6, 6x86 and WinChip lack.
set(CMAKE_C_FLAGS_INIT "-march=i486 -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=i486 -mtune=generic")
# The static C++ and C runtime libraries were compiled for the Pentium Pro:
# the program brings its own few pieces instead (runtime/).
set(TAVOK_OWN_RUNTIME ON)
