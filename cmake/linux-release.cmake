# Builds the Linux release (tools/release) with the machine's gcc against
# the libraries built from Debian's sources by tools/build-deps linux:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/linux-release.cmake \
#         -DMOVRA_DEPS_PREFIX="$(tools/build-deps linux)" -DMOVRA_TESTS=OFF ...
# SDL2, libjpeg-turbo, kissfft, GLU and the C++ runtime are linked into the
# program; mpg123 (LGPL) is a shared library that the release ships beside
# it, found through the program's run path ($ORIGIN) and never taken from
# the system. From the system it needs only the C library and libGL.
set(MOVRA_DEPS_PREFIX "" CACHE PATH "Prefix of the libraries built by tools/build-deps linux")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MOVRA_DEPS_PREFIX)
if(MOVRA_DEPS_PREFIX)
  list(PREPEND CMAKE_PREFIX_PATH "${MOVRA_DEPS_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} "${MOVRA_DEPS_PREFIX}/lib/pkgconfig")
endif()
# libGL.so.1, which every desktop's GL provides (GLVND's libOpenGL.so.0 is
# not everywhere).
set(OpenGL_GL_PREFERENCE LEGACY)
# Linked stripped: the build ID, a checksum of the linked file, then stands
# for the code alone. (libjpeg-turbo's assembler files name their build
# folder in their symbols, and nasm has no way to map it out.)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc -Wl,--as-needed -s")
# The run path is the program's own folder, in the build folder as in the
# release: never the libraries' prefix.
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
set(CMAKE_INSTALL_RPATH "$ORIGIN")
