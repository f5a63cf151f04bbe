# Builds for the web with Debian's Emscripten (package emscripten): the
# library builder uses it for the libraries, and the web page for itself:
#   PATH=/usr/bin:/bin NODE_PATH=/usr/share/nodejs \
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten.cmake \
#         -DMOVRA_DEPS_PREFIX="$(tools/build-deps web)" ...
# emcc runs under Debian's own Python and finds Debian's Node modules by
# that PATH and NODE_PATH.
set(MOVRA_DEPS_PREFIX "" CACHE PATH "Prefix of the libraries built by tools/build-deps web")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MOVRA_DEPS_PREFIX)
# CMake's checks run their programs under Node, without its fetch: Emscripten
# 3.1.6's output takes fetch for the way to load its wasm from a file path,
# which Node's refuses, and the size checks then go wrong.
set(CMAKE_CROSSCOMPILING_EMULATOR "/usr/bin/node;--no-experimental-fetch" CACHE STRING
  "Runs the programs built here")
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

# Libraries, headers and packages come from Emscripten's own tree and from
# the prefix of libraries built for the web, never from the host.
if(MOVRA_DEPS_PREFIX)
  # First: Emscripten's tree has an SDL2 package of its own, which fetches
  # its port from the internet.
  list(PREPEND CMAKE_FIND_ROOT_PATH "${MOVRA_DEPS_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "${MOVRA_DEPS_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} "${MOVRA_DEPS_PREFIX}/lib/pkgconfig")
endif()
