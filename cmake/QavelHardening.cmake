# The hardening a distribution expects of a packaged program: fortified libc calls (they need
# optimisation, hence release builds only), a stack protector and a read-only, eagerly bound
# relocation table. Applied to every target, so that the core's objects are fortified as well.
# Not for the sanitizer builds: the address sanitizer does not see the fortified calls.
option(QAVEL_HARDENING "Build with fortify, stack protector, relro and bind-now (release packages)" OFF)

if(QAVEL_HARDENING AND NOT WIN32)
    # A compiler that fortifies by default would warn about the redefinition.
    add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong
                        -Wformat -Werror=format-security)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()
