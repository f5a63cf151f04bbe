// Linked into every program of the checked build: keeps the GL and EGL
// drivers loaded until the process ends. SDL unloads them when it quits,
// and LeakSanitizer, which looks at the end, then cannot name the driver
// code that allocated what it finds (it shows "<unknown module>"), so the
// drivers' own leaks could not be told from the demo's or left out by
// name in tools/lsan-suppressions.txt.
#include <dlfcn.h>

#include <initializer_list>

// Loads each driver once more, never to be unloaded; run before main.
__attribute__((constructor)) static void KeepDriversLoaded() {
    for (const char* name :
         {"libGLX_mesa.so.0", "libEGL_mesa.so.0", "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so"})
        dlopen(name, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
}
