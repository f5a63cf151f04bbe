# The part of the MinGW-w64 toolchain files that both word sizes share:
# Debian's MinGW-w64 with the posix thread model for MOVRA_MINGW_TRIPLE,
# set by cmake/mingw-w64-i686.cmake and cmake/mingw-w64-x86_64.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MOVRA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MOVRA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MOVRA_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the toolchain's own tree and
# from the prefix of libraries built for Windows, never from the host.
set(MOVRA_DEPS_PREFIX "" CACHE PATH "Prefix of the libraries built by tools/build-deps")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MOVRA_DEPS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${MOVRA_MINGW_TRIPLE})
set(ENV{PKG_CONFIG_LIBDIR} /usr/${MOVRA_MINGW_TRIPLE}/lib/pkgconfig)
if(MOVRA_DEPS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH "${MOVRA_DEPS_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "${MOVRA_DEPS_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} "${MOVRA_DEPS_PREFIX}/lib/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs link the compiler's runtime (libgcc, libstdc++, winpthread)
# statically, so they need no DLL of the toolchain; a DLL such as mpg123's
# is still linked through its import library, named by its full path. The
# linker leaves the time out of the PE header, so that the same tree gives
# the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
