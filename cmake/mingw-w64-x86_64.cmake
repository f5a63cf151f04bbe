# Cross-builds for 64-bit Windows (PE32+, x86-64) with Debian's MinGW-w64
# x86_64 toolchain, posix thread model (package g++-mingw-w64-x86-64-posix).
# tools/build-deps win64 builds the libraries with it, and the demo's
# 64-bit Windows build uses it too:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DMOVRA_DEPS_PREFIX="$(tools/build-deps win64)" ...
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MOVRA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
