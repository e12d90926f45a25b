# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MW_TRIPLET}-windres)
set(CMAKE_AR ${MW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test and tool executables run under Wine in the build tree's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)

# The third-party libraries built by scripts/bootstrap-deps.sh live in their own prefix.
if(DEFINED MW_DEPS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MW_DEPS_PREFIX})
endif()
