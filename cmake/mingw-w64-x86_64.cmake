# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers (POSIX thread model, which
# std::thread and std::mutex need). Libraries are searched only in the MinGW sysroot and in the
# folders named by LIANBU_WINDOWS_PREFIXES (the cross-built dependencies of scripts/windows/deps),
# never among the build machine's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LIANBU_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LIANBU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LIANBU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LIANBU_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${LIANBU_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${LIANBU_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# try_compile projects read the toolchain file again and need the same folders.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LIANBU_WINDOWS_PREFIXES)
if(NOT LIANBU_WINDOWS_PREFIXES AND DEFINED ENV{LIANBU_WINDOWS_PREFIXES})
  set(LIANBU_WINDOWS_PREFIXES "$ENV{LIANBU_WINDOWS_PREFIXES}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${LIANBU_MINGW_TRIPLET} ${LIANBU_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Package configurations come from the dependencies' prefixes and, for the toolkit's host tools
# (moc, rcc, uic), from the build machine's Qt of the same version.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config reads only the dependencies' own .pc files, never the build machine's.
set(lianbu_pkgconfig_dirs)
foreach(prefix ${LIANBU_WINDOWS_PREFIXES})
  list(APPEND lianbu_pkgconfig_dirs ${prefix}/lib/pkgconfig)
endforeach()
string(REPLACE ";" ":" lianbu_pkgconfig_dirs "${lianbu_pkgconfig_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${lianbu_pkgconfig_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Programs built here run under Wine (tests, generators run at build time).
find_program(LIANBU_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(LIANBU_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LIANBU_WINE})
endif()
