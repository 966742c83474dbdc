# The shipped program: 32-bit Windows, built with mingw-w64 (the posix thread model, for
# std::mutex in GoogleTest; linked statically, so no runtime DLL ships).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The search uses vector instructions; every processor that runs Windows 8 or later has SSE2.
set(CMAKE_C_FLAGS_INIT -msse2)
set(CMAKE_CXX_FLAGS_INIT -msse2)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(QUORVIK_WINE_LOADER /usr/lib/wine/wine)
