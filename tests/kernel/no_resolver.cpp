// The guest's test binary is linked statically. GoogleTest's result streaming, which this tier
// never turns on, calls getaddrinfo, and glibc's own would tie the binary to the NSS libraries of
// the glibc it was linked with (and make every link say so). The guest has no network: a name
// lookup fails there, and here it fails the same way.

#include <netdb.h>

extern "C" int getaddrinfo(const char*, const char*, const addrinfo*, addrinfo** result)
{
    *result = nullptr;
    return EAI_FAIL;
}

extern "C" void freeaddrinfo(addrinfo*) {}
