# The shipped program: 32-bit Windows from XP SP3 on, built with mingw-w64 and linked
# statically, so no runtime DLL ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
# The win32 thread model: the posix one links libwinpthread, which imports GetTickCount64, a
# function Windows XP lacks. Nothing here starts a thread.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The compiler's default instruction set (i686, no SSE): the machines that still run the product
# include processors without SSE2. The search picks its SSE2 path at run time.
# The header's versions say the oldest system that runs the programs: Windows XP, NT 5.1.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--major-os-version,5,--minor-os-version,1,--major-subsystem-version,5,--minor-subsystem-version,1")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(QUORVIK_WINE_LOADER /usr/lib/wine/wine)
