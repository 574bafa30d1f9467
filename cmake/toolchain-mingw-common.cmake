# The part of the mingw-w64 toolchain files that both targets share: the including file sets
# CMAKE_SYSTEM_PROCESSOR and KIT_MINGW_TRIPLET first. The -posix compilers are named explicitly:
# the default ones use the win32 thread model, without std::thread and std::mutex. Programs built
# here run under wine (tests through CTest's emulator).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KIT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KIT_MINGW_TRIPLET}-windres)

# Dependencies cross-built by scripts/build-windows.sh: KIT_WINDOWS_PREFIXES lists their install
# prefixes (one per package). Only they and the compiler's own tree are searched, never the
# build machine's libraries.
set(CMAKE_FIND_ROOT_PATH /usr/${KIT_MINGW_TRIPLET} ${KIT_WINDOWS_PREFIXES})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIT_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# How CTest runs the cross-built programs: KIT_WINE when the including file set it, else `wine`.
if(NOT KIT_WINE)
  set(KIT_WINE wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${KIT_WINE})
