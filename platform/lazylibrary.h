#pragma once

#include <dlfcn.h>

// A shared library opened by its first use rather than with the program, with the
// functions that FUNCTIONS(X) lists (X(f) for each f its header declares) looked up
// together. TYPE is the table, ACCESSOR() opens the library once and returns it; its
// `loaded` is false when the library or one of the functions is missing. Never closed:
// the libraries this is for start threads and register handlers that outlive any user.
#define TAVRO_LAZY_POINTER(f) decltype(&::f) f = nullptr;
#define TAVRO_LAZY_RESOLVE(f) all = (l.f = reinterpret_cast<decltype(l.f)>(::dlsym(handle, #f))) && all;
#define TAVRO_LAZY_LIBRARY(TYPE, ACCESSOR, SONAME, FUNCTIONS)                                        \
    struct TYPE {                                                                                    \
        FUNCTIONS(TAVRO_LAZY_POINTER)                                                                \
        bool loaded = false;                                                                         \
    };                                                                                               \
    const TYPE &ACCESSOR()                                                                           \
    {                                                                                                \
        static const TYPE library = [] {                                                             \
            TYPE l;                                                                                  \
            void *handle = ::dlopen(SONAME, RTLD_NOW | RTLD_LOCAL);                                  \
            if (!handle)                                                                             \
                return l;                                                                            \
            bool all = true;                                                                         \
            FUNCTIONS(TAVRO_LAZY_RESOLVE)                                                            \
            l.loaded = all;                                                                          \
            return l;                                                                                \
        }();                                                                                         \
        return library;                                                                              \
    }
