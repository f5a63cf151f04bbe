# Cross-builds for 32-bit Windows (PE32, i386) with Debian's MinGW-w64 i686
# toolchain, posix thread model (package g++-mingw-w64-i686-posix).
# tools/build-deps win32 builds the libraries with it, and the demo's
# 32-bit Windows build uses it too:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
#         -DMOVRA_DEPS_PREFIX="$(tools/build-deps win32)" ...
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MOVRA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
