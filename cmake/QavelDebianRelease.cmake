# The .deb's version: the project's, with a suffix naming the release whose libraries the package
# is built against, read from the build machine's /etc/os-release ("+deb12" on Debian 12,
# "+deb13" on Debian 13). A package links that release's libraries (an ARM build's sysroot is
# made from the same machine's sources), and armhf's were renamed between the two, so a user
# must be able to tell which package is theirs.

function(qavel_debian_version version os_release out)
    set(suffix "")
    if(EXISTS ${os_release})
        file(STRINGS ${os_release} lines REGEX "^(ID|VERSION_ID)=")
        set(id "")
        set(version_id "")
        foreach(line IN LISTS lines)
            if(line MATCHES "^ID=\"?([a-z0-9._-]+)\"?$")
                set(id ${CMAKE_MATCH_1})
            elseif(line MATCHES "^VERSION_ID=\"?([0-9.]+)\"?$")
                set(version_id ${CMAKE_MATCH_1})
            endif()
        endforeach()
        if(id STREQUAL debian)
            set(id deb)
        endif()
        # Testing and unstable name no version: their packages follow no release.
        if(NOT id STREQUAL "" AND NOT version_id STREQUAL "")
            set(suffix "+${id}${version_id}")
        endif()
    endif()
    if(suffix STREQUAL "")
        message(STATUS "${os_release} names no release: the .deb's version is ${version}")
    endif()
    set(${out} "${version}${suffix}" PARENT_SCOPE)
endfunction()
