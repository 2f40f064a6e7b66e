#pragma once
// Stops the process with a message naming the broken invariant; the fuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

inline void FuzzRequire(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::fflush(stderr);
        std::abort();
    }
}
