// Linked into the static programs with -Wl,--wrap=dlopen: SQLite's call of
// dlopen (for loadable extensions, which the programs never load) lands here
// and fails, so the static C library's dynamic loader is never asked for.
#include <cstddef>

extern "C" void* __wrap_dlopen(const char* /*file*/, int /*mode*/) { return nullptr; }
