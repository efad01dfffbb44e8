// What the fuzz targets share: a broken property ends the run at once, so
// that libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                          \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__,     \
                         #condition);                                                    \
            std::abort();                                                                \
        }                                                                                \
    } while (false)
