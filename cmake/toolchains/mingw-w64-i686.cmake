# 32-bit Windows, fully static so the programs need no DLL beside them.
# Two thread models of the same compiler:
#   win32  (default) what the shipped programs are built with: its runtime
#          imports nothing Windows XP SP3 lacks. The posix one's threading
#          library imports KERNEL32!GetTickCount64 (Vista and later), and the
#          XP loader then refuses the whole program.
#   posix  std::thread/std::mutex, which GoogleTest and the tests need. A
#          build with it makes the shipped programs in a win32-model sub-build
#          (see cmake/Programs.cmake), so they are the same in every build.
set(KESTROVA_MINGW_THREADS win32 CACHE STRING "mingw-w64 thread model: win32 or posix")
set_property(CACHE KESTROVA_MINGW_THREADS PROPERTY STRINGS win32 posix)
# The compiler checks (try_compile) read this file again: same model there.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTROVA_MINGW_THREADS)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${KESTROVA_MINGW_THREADS})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${KESTROVA_MINGW_THREADS})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
find_program(KESTROVA_WINE NAMES wine)
if(KESTROVA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTROVA_WINE})
endif()
