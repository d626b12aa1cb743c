#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep. A broken one aborts, so libFuzzer saves the input as a crash
// and the corpus replay fails.
#define WHEELBOX_FUZZ_CHECK(condition)                                                                       \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition);          \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
