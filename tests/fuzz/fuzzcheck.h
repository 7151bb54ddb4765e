#pragma once

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run like a crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond, what, detail)                                                              \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "INVARIANT BROKEN: %s\n  %s\n", what,                             \
                         QString(detail).toUtf8().toPercentEncoding(" /:=[];\\\"'*?.,").constData()); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
