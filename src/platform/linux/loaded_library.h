#pragma once
// Calls into a library the program loads when it first needs it (dlopen), not at its start.

#include <dlfcn.h>

#include <cstring>

// Sets out to the function name in library (a dlopen handle); false when it is not there.
template <typename Function>
bool FindCall(void* library, const char* name, Function* out)
{
    void* found = dlsym(library, name);
    static_assert(sizeof found == sizeof *out);
    std::memcpy(out, &found, sizeof *out);
    return found != nullptr;
}
