# Cross-compiling for x86_64 Windows with Debian's mingw-w64 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KIT_MINGW_TRIPLET x86_64-w64-mingw32)
# Debian's `wine` starts the 32-bit loader first, which then hands 64-bit programs to the 64-bit
# one; a machine that runs no 32-bit programs needs the 64-bit loader called directly.
if(EXISTS /usr/lib/wine/wine64)
  set(KIT_WINE env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
